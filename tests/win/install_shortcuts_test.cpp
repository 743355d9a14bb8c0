// The shortcut worker: group folder, "ShellFolder", and the two shell
// links read back through the shell's own interfaces.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "install/registry.h"
#include "install/shorts_thread.h"
#include "tests/win/install_support.h"

namespace {

struct LinkInfo {
    bool loaded = false;
    std::string target, arguments, description, icon;
    int iconIndex = -1;
};

LinkInfo ReadLink(const std::string& path) {
    LinkInfo info;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return info;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        // Sized to fit: the long-path test reads a link path past MAX_PATH.
        std::wstring wide(path.size() + 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(),
                            static_cast<int>(wide.size()));
        if (SUCCEEDED(file->Load(wide.c_str(), STGM_READ))) {
            info.loaded = true;
            char buffer[1024] = {};
            link->GetPath(buffer, sizeof(buffer), nullptr, SLGP_RAWPATH);
            info.target = buffer;
            buffer[0] = 0;
            link->GetArguments(buffer, sizeof(buffer));
            info.arguments = buffer;
            buffer[0] = 0;
            link->GetDescription(buffer, sizeof(buffer));
            info.description = buffer;
            buffer[0] = 0;
            link->GetIconLocation(buffer, sizeof(buffer), &info.iconIndex);
            info.icon = buffer;
        }
        file->Release();
    }
    link->Release();
    return info;
}

std::string ShellFolderValue() {
    AnsiString value = "<missing>";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ReadRegistryString(key, "ShellFolder", value);
        RegCloseKey(key);
    }
    return value.c_str();
}

class ShortcutWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
        results.installedDir = "C:\\Program Files\\Tembra\\Quorvel";
        results.screenSaverPath = "C:\\windows\\Sample.scr";
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
        CoUninitialize();
    }
    // Runs the worker for a group path to its end message.
    void Run(const std::string& group, qvtest::RecordingWindow& page, int& folderFailed) {
        TProcessShortsThread worker(page.hwnd(), group.c_str(), results);
        folderFailed = worker.folderFailed;
        if (!folderFailed) {
            EXPECT_NE(worker.thread.threadHandle, nullptr);
            EXPECT_TRUE(page.WaitFor(WM_SETUP_DONE, 10000));
        } else {
            EXPECT_EQ(worker.thread.threadHandle, nullptr);
        }
    }
    InstallRecord results;
};

}  // namespace

TEST_F(ShortcutWorkerTest, MakesBothLinksWithEveryPropertyInANewNestedGroup) {
    AnsiString programs = FindProgramsFolder();
    ASSERT_FALSE(programs.empty());
    std::string group = std::string(programs.c_str()) + "\\QvTest Savers\\Quorvel\\";
    qvtest::RemoveTree(std::string(programs.c_str()) + "\\QvTest Savers");

    qvtest::RecordingWindow page;
    int folderFailed = -1;
    Run(group, page, folderFailed);
    EXPECT_EQ(folderFailed, 0);
    ASSERT_EQ(page.Count(WM_SETUP_DONE), 1u);
    EXPECT_EQ(page.messages.back().wParam, 0u);
    EXPECT_EQ(page.messages.back().lParam, 0);

    std::string dir = std::string(programs.c_str()) + "\\QvTest Savers\\Quorvel";
    EXPECT_EQ(std::string(shortcutDir.c_str()), dir);
    EXPECT_EQ(std::string(groupRelativePath.c_str()), "QvTest Savers\\Quorvel");
    EXPECT_EQ(ShellFolderValue(), "QvTest Savers\\Quorvel");

    LinkInfo help = ReadLink(dir + "\\Quorvel Help.Lnk");
    ASSERT_TRUE(help.loaded);
    EXPECT_EQ(help.target, "C:\\Program Files\\Tembra\\Quorvel\\Quorvel.Hlp");
    EXPECT_EQ(help.description, "Quorvel Help");
    EXPECT_EQ(help.arguments, "");
    EXPECT_EQ(help.icon, "");

    LinkInfo settings = ReadLink(dir + "\\Quorvel Settings.Lnk");
    ASSERT_TRUE(settings.loaded);
    // By its full path, never resolved beside the program that made it.
    EXPECT_EQ(lstrcmpiA(settings.target.c_str(), "C:\\windows\\system32\\rundll32.exe"), 0)
        << settings.target;
    EXPECT_EQ(settings.description, "Quorvel Settings");
    EXPECT_EQ(settings.arguments, "desk.cpl,InstallScreenSaver C:\\windows\\Sample.scr");
    EXPECT_EQ(settings.icon, "C:\\windows\\Sample.scr");
    EXPECT_EQ(settings.iconIndex, 0);
    qvtest::RemoveTree(std::string(programs.c_str()) + "\\QvTest Savers");
}

TEST_F(ShortcutWorkerTest, ReinstallReplacesOldLinksAndEmptyScreenSaverLeavesNoIcon) {
    qvtest::ScratchDir group("group");
    // Old links in the way: not links at all, so only new ones load.
    qvtest::WriteFile(group / "Quorvel Help.Lnk", "old");
    qvtest::WriteFile(group / "Quorvel Settings.Lnk", "old");
    results.screenSaverPath = "";
    WriteShellFolder("Older Group");

    qvtest::RecordingWindow page;
    int folderFailed = -1;
    Run(group.path(), page, folderFailed);
    EXPECT_EQ(folderFailed, 0);
    EXPECT_EQ(page.Count(WM_SETUP_DONE), 1u);
    // A group outside the Programs folder has no meaningful relative path;
    // an older run's value goes.
    EXPECT_EQ(std::string(groupRelativePath.c_str()), "");
    EXPECT_EQ(ShellFolderValue(), "<missing>");

    LinkInfo help = ReadLink(group / "Quorvel Help.Lnk");
    EXPECT_TRUE(help.loaded);
    EXPECT_EQ(help.description, "Quorvel Help");
    LinkInfo settings = ReadLink(group / "Quorvel Settings.Lnk");
    ASSERT_TRUE(settings.loaded);
    EXPECT_EQ(settings.arguments, "desk.cpl,InstallScreenSaver ");
    EXPECT_EQ(settings.icon, "");
}

TEST_F(ShortcutWorkerTest, GroupBlockedByAFileEndsAtOnceWithoutThread) {
    qvtest::ScratchDir base("blocked");
    qvtest::WriteFile(base / "file", "x");
    qvtest::RecordingWindow page;
    int folderFailed = -1;
    Run(base / "file\\Quorvel", page, folderFailed);
    EXPECT_EQ(folderFailed, 1);
    // Sent from the constructor, before it returned.
    ASSERT_EQ(page.Count(WM_SETUP_DONE), 1u);
    EXPECT_EQ(page.messages.back().lParam, 1);
    EXPECT_EQ(ShellFolderValue(), "<missing>");
    EXPECT_FALSE(qvtest::IsDirectory(base / "file\\Quorvel"));
}

TEST(CreateShortcut, LongLinkPathIsSavedFromAFittingBuffer) {
    CoInitialize(nullptr);
    qvtest::ScratchDir base("longlink");
    // Past 260 characters in all: the link lands in a nested folder.
    std::string dir = base.path();
    while (dir.size() < 250) {
        dir += "\\" + std::string(40, 'd');
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    std::string link = dir + "\\" + std::string(30, 'n') + ".lnk";
    ASSERT_GT(link.size(), 260u);
    HRESULT result = CreateShortcut("C:\\x.exe", link.c_str(), "long", "", "");
    // Either saved in full or refused; never saved under a cut name.
    if (SUCCEEDED(result)) {
        EXPECT_TRUE(ReadLink(link).loaded);
    } else {
        EXPECT_FALSE(qvtest::FileExists(link));
    }
    EXPECT_FALSE(qvtest::FileExists(link.substr(0, 260)));
    CoUninitialize();
}
