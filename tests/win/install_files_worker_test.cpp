// The file worker's pieces that need no archive: the percentage, the
// progress reports, and where each entry goes (with the overwrite question
// answered through the real message box).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/file_system.h"
#include "install/files_thread.h"
#include "install/install_record.h"
#include "tests/win/install_support.h"

namespace {

std::string WindowsDir() {
    char buffer[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(buffer, MAX_PATH);
    return buffer;
}

std::string Resolve(TProcessFilesThread& worker, const char* entry) {
    AnsiString destination = "untouched";
    TProcessFilesThread::ResolveDestination(&worker, entry, destination);
    return destination.c_str();
}

void StampFile(const std::string& path) {
    qvtest::WriteFile(path, "existing");
    qvtest::SetLastWrite(path, ReleaseStampUtc());
}

class FilesWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { overwriteAnswer = NotAsked; }
    void TearDown() override { overwriteAnswer = NotAsked; }
    InstallRecord results;
};

}  // namespace

TEST(PercentOf, ScalesTruncatesAndClamps) {
    EXPECT_EQ(PercentOf(0, ProgressTotalBytes), 0);
    EXPECT_EQ(PercentOf(10000, ProgressTotalBytes), 0);  // not scaled, truncates
    EXPECT_EQ(PercentOf(16999, ProgressTotalBytes), 0);
    EXPECT_EQ(PercentOf(17000, ProgressTotalBytes), 1);
    EXPECT_EQ(PercentOf(33999, ProgressTotalBytes), 1);
    EXPECT_EQ(PercentOf(34000, ProgressTotalBytes), 2);
    EXPECT_EQ(PercentOf(850000, ProgressTotalBytes), 50);
    EXPECT_EQ(PercentOf(1699999, ProgressTotalBytes), 99);
    EXPECT_EQ(PercentOf(1700000, ProgressTotalBytes), 100);
    EXPECT_EQ(PercentOf(INT32_MAX, ProgressTotalBytes), 100);  // no overflow
    EXPECT_EQ(PercentOf(500, 0), 0);
    EXPECT_EQ(PercentOf(50, 99), 50);    // part below the threshold of 10000
    EXPECT_EQ(PercentOf(12345, 50), 0);  // both scaled: whole becomes 0
}

TEST_F(FilesWorkerTest, EmptyOrBlockedFolderStartsNothing) {
    qvtest::ScratchDir base("blocked_files");
    qvtest::WriteFile(base / "file", "x");
    qvtest::RecordingWindow page;
    results.installedDir = "before";
    for (std::string folder : {std::string(), base / "file\\inst"}) {
        TProcessFilesThread worker(page.hwnd(), folder.c_str(), results);
        EXPECT_EQ(worker.folderFailed, 1) << folder;
        EXPECT_EQ(worker.thread.threadHandle, nullptr) << folder;
        EXPECT_EQ(std::string(worker.targetFolder.c_str()), folder);
    }
    EXPECT_EQ(std::string(results.installedDir.c_str()), "before");
    page.WaitFor(WM_SETUP_FILES_DONE, 200);
    EXPECT_TRUE(page.messages.empty());
}

TEST_F(FilesWorkerTest, ProgressAddsFinishedEntriesAndTreatsEqualSizesAsOne) {
    qvtest::RecordingWindow page;
    TProcessFilesThread worker(page.hwnd(), "", results);
    auto report = [&](int32_t done, int32_t total) {
        TProcessFilesThread::ReportProgress(&worker, done, total);
        EXPECT_EQ(page.messages.back().msg, WM_SETUP_PROGRESS);
        EXPECT_EQ(page.messages.back().wParam, 0u);
        return page.messages.back().lParam;
    };
    EXPECT_EQ(report(0, 850000), 0);
    EXPECT_EQ(report(425000, 850000), 25);
    EXPECT_EQ(report(0, 340000), 50);  // the first entry counts in full now
    EXPECT_EQ(report(170000, 340000), 60);
    // Same size again: read as the same entry, so the bar falls back.
    EXPECT_EQ(report(0, 340000), 50);
    EXPECT_EQ(report(0, 2000000), 70);
    EXPECT_EQ(report(2000000, 2000000), 100);  // clamped, never above
    EXPECT_EQ(worker.completedBytes, 850000 + 340000);
    EXPECT_EQ(worker.currentEntrySize, 2000000);
    EXPECT_EQ(page.Count(WM_SETUP_PROGRESS), 7u);
}

TEST_F(FilesWorkerTest, DestinationsFollowTheNameAndTheScreenSaverRule) {
    qvtest::ScratchDir base("dest");
    qvtest::RecordingWindow page;
    TProcessFilesThread worker(page.hwnd(), "", results);
    std::string windows = WindowsDir();
    DeleteFileA((windows + "\\QvTest.scr").c_str());

    worker.targetFolder = (base.path() + "\\").c_str();  // trailing separator
    EXPECT_EQ(Resolve(worker, "Quorvel.Hlp"), base / "Quorvel.Hlp");
    EXPECT_EQ(Resolve(worker, "docs/sub\\x:ReadMe.txt"), base / "ReadMe.txt");
    worker.targetFolder = base.path().c_str();
    EXPECT_EQ(Resolve(worker, "Quorvel.Hlp"), base / "Quorvel.Hlp");
    EXPECT_TRUE(results.screenSaverPath.empty());

    EXPECT_EQ(Resolve(worker, "saver/QvTest.scr"), windows + "\\QvTest.scr");
    EXPECT_EQ(std::string(results.screenSaverPath.c_str()), windows + "\\QvTest.scr");
    // Anywhere in the name counts; upper case does not.
    EXPECT_EQ(Resolve(worker, "QvTest.scr.txt"), windows + "\\QvTest.scr.txt");
    EXPECT_EQ(std::string(results.screenSaverPath.c_str()), windows + "\\QvTest.scr.txt");
    EXPECT_EQ(Resolve(worker, "QVTEST.SCR"), base / "QVTEST.SCR");
    EXPECT_EQ(std::string(results.screenSaverPath.c_str()), windows + "\\QvTest.scr.txt");
}

TEST_F(FilesWorkerTest, HostileEntryNamesStayInTheFolderAndOpenNoDevice) {
    qvtest::ScratchDir base("hostile");
    qvtest::RecordingWindow page;
    TProcessFilesThread worker(page.hwnd(), "", results);
    worker.targetFolder = base.path().c_str();
    for (const char* name :
         {"", "dir\\", ".", "..", "a\\..", "...", " .", "CON", "nul", "NUL.txt", "aux .log", "Com1",
          "LPT9.x.y", "prn", "CONIN$", "conout$.txt", "x.scr\\NUL"}) {
        EXPECT_EQ(Resolve(worker, name), "") << name;
    }
    EXPECT_TRUE(results.screenSaverPath.empty());
    for (const char* name : {"..\\..\\x", "C:\\x", "\\\\server\\share\\x", "C:x", "a:b/x", "/x"}) {
        EXPECT_EQ(Resolve(worker, name), base / "x") << name;
    }
    // Only whole device names are devices.
    for (const char* name : {"CONSOLE", "nul1", "COM0", "LPT", "x.CON", ".x"}) {
        EXPECT_EQ(Resolve(worker, name), base / name) << name;
    }
}

TEST_F(FilesWorkerTest, OneQuestionForSameOrNewerFilesAnsweredYes) {
    qvtest::ScratchDir base("yes");
    qvtest::RecordingWindow page;
    TProcessFilesThread worker(page.hwnd(), "", results);
    worker.targetFolder = base.path().c_str();

    std::string older = base / "older.bin";
    qvtest::WriteFile(older, "old");
    qvtest::SetLastWrite(older, qvtest::AddSeconds(ReleaseStampUtc(), -60));
    StampFile(base / "first.bin");
    StampFile(base / "second.bin");

    qvtest::BoxCounter none;
    EXPECT_EQ(Resolve(worker, "older.bin"), older);  // older: no question
    EXPECT_EQ(none.Stop(), 0);

    qvtest::BoxAnswerer yes("creating: first.bin", IDYES);
    EXPECT_EQ(Resolve(worker, "some/dir/first.bin"), base / "first.bin");
    EXPECT_TRUE(yes.Join());
    EXPECT_EQ(yes.text,
              "The same or newer file exists. Do you wish to overwrite it and following files?");
    EXPECT_EQ(overwriteAnswer, OverwriteAll);

    qvtest::BoxCounter counter;
    EXPECT_EQ(Resolve(worker, "second.bin"), base / "second.bin");
    EXPECT_EQ(counter.Stop(), 0);
}

TEST_F(FilesWorkerTest, AnswerNoKeepsEveryLaterSameOrNewerFile) {
    qvtest::ScratchDir base("no");
    qvtest::RecordingWindow page;
    TProcessFilesThread worker(page.hwnd(), "", results);
    worker.targetFolder = base.path().c_str();
    std::string windows = WindowsDir();
    StampFile(windows + "\\QvNo.scr");
    StampFile(base / "later.bin");
    std::string older = base / "older.bin";
    qvtest::WriteFile(older, "old");
    qvtest::SetLastWrite(older, qvtest::AddSeconds(ReleaseStampUtc(), -60));

    qvtest::BoxAnswerer no("creating: QvNo.scr", IDNO);
    EXPECT_EQ(Resolve(worker, "QvNo.scr"), "");
    EXPECT_TRUE(no.Join());
    EXPECT_EQ(overwriteAnswer, KeepAll);
    EXPECT_TRUE(results.screenSaverPath.empty());

    qvtest::BoxCounter counter;
    EXPECT_EQ(Resolve(worker, "later.bin"), "");
    EXPECT_EQ(Resolve(worker, "older.bin"), older);
    EXPECT_EQ(counter.Stop(), 0);
    DeleteFileA((windows + "\\QvNo.scr").c_str());
}
