// The file worker end to end against the archive built into this program:
// Sample.scr, Quorvel.Hlp, QVRemove.exe and ReadMe.txt, all stored.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/streams.h"
#include "install/file_system.h"
#include "install/files_thread.h"
#include "install/install_record.h"
#include "tests/win/install_support.h"

namespace {

// The payload as the build wrote it, read back through Wine's Z: drive.
std::string Payload(const char* name) {
    return qvtest::ReadFile(std::string("Z:") + QV_FW_PAYLOAD_DIR + "/" + name);
}

std::string WindowsDir() {
    char buffer[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(buffer, MAX_PATH);
    return buffer;
}

bool Stamped(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME write;
    GetFileTime(file, nullptr, nullptr, &write);
    CloseHandle(file);
    FILETIME stamp = ReleaseStampUtc();
    return CompareFileTime(&write, &stamp) == 0;
}

// Runs one worker over folder to its end message; returns the end's lParam.
LPARAM RunWorker(const std::string& folder, qvtest::RecordingWindow& page, InstallRecord& results) {
    TProcessFilesThread worker(page.hwnd(), folder.c_str(), results);
    EXPECT_EQ(worker.folderFailed, 0);
    EXPECT_NE(worker.thread.threadHandle, nullptr);
    EXPECT_TRUE(page.WaitFor(WM_SETUP_FILES_DONE, 30000));
    // The destructor waits for the thread, which ends after the send.
    return page.Count(WM_SETUP_FILES_DONE) ? page.messages.back().lParam : -1;
}

// Temporary files of entries in folder.
int Partials(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\~qv*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do n += IsPartialFileName(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return n;
}

void CheckProgress(const qvtest::RecordingWindow& page) {
    size_t progress = 0;
    for (size_t i = 0; i < page.messages.size(); ++i) {
        const qvtest::Message& m = page.messages[i];
        EXPECT_EQ(m.wParam, 0u);
        if (m.msg == WM_SETUP_PROGRESS) {
            ++progress;
            EXPECT_GE(m.lParam, 0);
            EXPECT_LE(m.lParam, 100);
        } else {
            // The end message comes once, after every progress report.
            EXPECT_EQ(m.msg, WM_SETUP_FILES_DONE);
            EXPECT_EQ(i, page.messages.size() - 1);
        }
    }
    // Each stored entry reports once, at its start.
    EXPECT_EQ(progress, 4u);
}

}  // namespace

TEST(FilesWorkerEndToEnd, FreshInstallThenYesThenNo) {
    qvtest::ScratchDir base("e2e");
    std::string windows = WindowsDir();
    std::string saver = windows + "\\Sample.scr";
    DeleteFileA(saver.c_str());
    overwriteAnswer = NotAsked;
    InstallRecord results;

    // Fresh: no question, every file where it belongs, result 0.
    {
        qvtest::RecordingWindow page;
        qvtest::BoxCounter boxes;
        EXPECT_EQ(RunWorker(base / "inst\\", page, results), 0);
        EXPECT_EQ(boxes.Stop(), 0);
        CheckProgress(page);
        // 41250 + 19000 + 4200 bytes before the last entry: 3 percent.
        EXPECT_EQ(page.messages[page.messages.size() - 2].lParam, 3);
    }
    EXPECT_EQ(std::string(results.installedDir.c_str()), base / "inst");
    EXPECT_EQ(std::string(results.screenSaverPath.c_str()), saver);
    EXPECT_EQ(qvtest::ReadFile(saver), Payload("Sample.scr"));
    EXPECT_TRUE(Stamped(saver));
    EXPECT_FALSE(qvtest::FileExists(base / "inst\\Sample.scr"));
    for (const char* name : {"Quorvel.Hlp", "QVRemove.exe", "ReadMe.txt"}) {
        std::string path = base / (std::string("inst\\") + name);
        EXPECT_EQ(qvtest::ReadFile(path), Payload(name)) << name;
        EXPECT_TRUE(Stamped(path)) << name;
    }

    // Again over the stamped files, answer Yes: one question, all rewritten;
    // the temporary file a killed run left goes first, nothing else.
    qvtest::WriteFile(base / "inst\\ReadMe.txt", "changed");
    qvtest::WriteFile(base / "inst\\~qv3f2a.tmp", "left by a killed run");
    for (const char* other : {"~qv-mine.txt", "mine.tmp"})
        qvtest::WriteFile(base / "inst\\" + other, "x");
    {
        qvtest::RecordingWindow page;
        qvtest::BoxAnswerer yes("creating: Sample.scr", IDYES);
        EXPECT_EQ(RunWorker(base / "inst", page, results), 0);
        EXPECT_TRUE(yes.Join());
        CheckProgress(page);
    }
    EXPECT_EQ(overwriteAnswer, OverwriteAll);
    EXPECT_EQ(qvtest::ReadFile(base / "inst\\ReadMe.txt"), Payload("ReadMe.txt"));
    EXPECT_FALSE(qvtest::FileExists(base / "inst\\~qv3f2a.tmp"));
    for (const char* other : {"~qv-mine.txt", "mine.tmp"})
        EXPECT_TRUE(qvtest::FileExists(base / "inst\\" + other)) << other;
    EXPECT_EQ(std::string(results.screenSaverPath.c_str()), saver);

    // Answer No: same-or-newer files kept, an older one overwritten,
    // no screen-saver path, result 11.
    overwriteAnswer = NotAsked;
    qvtest::WriteFile(base / "inst\\Quorvel.Hlp", "newer, kept");
    std::string older = base / "inst\\QVRemove.exe";
    qvtest::WriteFile(older, "older, replaced");
    qvtest::SetLastWrite(older, qvtest::AddSeconds(ReleaseStampUtc(), -3600));
    {
        qvtest::RecordingWindow page;
        qvtest::BoxAnswerer no("creating: Sample.scr", IDNO);
        EXPECT_EQ(RunWorker(base / "inst", page, results), 11);
        EXPECT_TRUE(no.Join());
        for (const qvtest::Message& m : page.messages) EXPECT_LE(m.lParam, 100);
    }
    EXPECT_EQ(overwriteAnswer, KeepAll);
    EXPECT_TRUE(results.screenSaverPath.empty());
    EXPECT_EQ(qvtest::ReadFile(base / "inst\\Quorvel.Hlp"), "newer, kept");
    EXPECT_EQ(qvtest::ReadFile(older), Payload("QVRemove.exe"));
    EXPECT_EQ(qvtest::ReadFile(saver), Payload("Sample.scr"));
    EXPECT_EQ(Partials(base / "inst") + Partials(windows), 0);
    DeleteFileA(saver.c_str());
}
