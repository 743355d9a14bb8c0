// Plays a user removing an installation of Quorvel under Wine, with the
// uninstaller that the setup installed, started the way Windows starts it
// (the registry's command line as it stands), and checks what is left.
//
//   remove.exe SCENARIO MANIFEST REMOVER [SHOT_DIR]
//
// MANIFEST lists the archive's entries; REMOVER is a copy of the uninstaller
// outside the installation, for the runs after a removal. The scenario
// "restarted" follows a restart (the runner ends the prefix's session).
// Prints one "PASS name" or "FAIL name" line and exits with 0 or 1.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/driver_support.h"

namespace {

const char* const kProductKey = "SOFTWARE\\Tembra\\Quorvel\\1.0";
const char* const kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
const char* const kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const char* const kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kPendingKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char* const kLinks[] = {"Quorvel Help.Lnk", "Quorvel Settings.Lnk"};

const char* const kCaption = "Quorvel Uninstall";
const char* const kConfirm =
    "Do you want to remove Quorvel screen saver and all of its components from your computer?";
const char* const kRemoved = "Quorvel screen saver was removed from your computer.";
const char* const kNotInstalled = "Quorvel screen saver is not installed on this computer.";
// Exit codes of the uninstaller.
constexpr int kExitRemoved = 0, kExitNotInstalled = 1, kExitCancelled = 2, kExitRestart = 3;

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in a folder matching a pattern such as "*" or "QVR*.tmp".
std::vector<std::string> List(const std::string& folder, const char* pattern = "*") {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string TempFolder() {
    char path[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, path);
    std::string folder = path;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

std::string WindowsFolder() {
    char path[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

// The files left for the next restart, in lower case.
std::string PendingAtRestart() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    std::vector<char> buffer(65536);
    DWORD size = static_cast<DWORD>(buffer.size() - 2), type = 0;
    LONG r = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                              reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_MULTI_SZ) return "";
    std::string all(buffer.data(), size);
    for (char& c : all)
        if (c == '\0') c = '|';
    return Lower(all);
}

bool PendingNames(const std::string& path) {
    return PendingAtRestart().find(Lower(path)) != std::string::npos;
}

// Where the setup put everything, from the registry.
struct Installation {
    std::string dir, group, saver, uninstall, quiet;
};

std::string AppPathKey() {
    return kAppPathsKey + FileName(ScreenSaverName());
}

Installation ReadInstallation() {
    Installation inst;
    std::string shellFolder, programs;
    Check(RegValue(kProductKey, "InstallDir", inst.dir), "installed: InstallDir");
    Check(RegValue(kProductKey, "ShellFolder", shellFolder), "installed: ShellFolder");
    Check(RegValue(kShellFoldersKey, "Common Programs", programs), "the Programs folder");
    inst.group = programs + "\\" + shellFolder;
    Check(RegValue(AppPathKey().c_str(), "", inst.saver), "installed: application path");
    Check(RegValue(kUninstallKey, "UninstallString", inst.uninstall), "UninstallString");
    Check(RegValue(kUninstallKey, "QuietUninstallString", inst.quiet), "QuietUninstallString");
    Check(Exists(inst.saver) && Exists(inst.group), "installed: screen saver and group");
    return inst;
}

// At most one temporary copy of the uninstaller is left, and it goes at the
// next restart.
void CheckTemporaryCopies() {
    std::vector<std::string> copies = List(TempFolder(), "QVR*.tmp");
    Check(copies.size() <= 1, "at most one temporary copy, found " + std::to_string(copies.size()));
    for (const std::string& copy : copies) {
        std::string path = TempFolder() + "\\" + copy;
        Check(WaitFor([&] { return PendingNames(path); }),
              "temporary copy left for the restart: " + path);
    }
}

// Nothing of the product is left, but a file of the user's own (with its
// folder) and a screen saver that was in use (left for the restart).
void CheckRemoved(const Installation& inst, const std::string& userFile, bool saverInUse) {
    // The copy deletes the original (and the folder) once the uninstaller ended.
    std::string remover = inst.dir + "\\QVRemove.exe";
    Check(WaitFor([&] { return !Exists(remover); }), "uninstaller deleted by its copy");
    if (userFile.empty()) {
        Check(WaitFor([&] { return !Exists(inst.dir); }), "installation folder removed");
    } else {
        // A deleted file may stay listed a moment while a handle to it closes.
        auto left = [&] {
            std::string names;
            for (const std::string& name : List(inst.dir)) names += "[" + name + "]";
            return names;
        };
        std::string want = "[" + FileName(userFile) + "]";
        WaitFor([&] { return left() == want; });
        CheckEq(left(), want, "what is left in " + inst.dir);
    }
    for (const Entry& e : manifest) {
        bool saver = e.name == ScreenSaverName();
        std::string path = saver ? inst.saver : inst.dir + "\\" + e.name;
        if (saver && saverInUse) {
            Check(Exists(path) && PendingNames(path), "in use, left for the restart: " + path);
        } else {
            Check(!Exists(path), "removed: " + path);
        }
    }
    for (const char* link : kLinks) Check(!Exists(inst.group + "\\" + link), "link removed");
    Check(!Exists(inst.group), "program group removed: " + inst.group);
    for (std::string key :
         {std::string(kProductKey), AppPathKey(), std::string(kUninstallKey),
          std::string("SOFTWARE\\Tembra\\Quorvel"), std::string("SOFTWARE\\Tembra")})
        Check(!KeyIn(key), "key removed: " + key);
    CheckTemporaryCopies();
}

// Keeps the text of a rich-edit window. A callback of the system: its
// calling convention, not a lambda's, which differs on 32-bit Windows.
BOOL CALLBACK CollectRichText(HWND window, LPARAM text) {
    if (ClassOf(window).rfind("RichEdit", 0) == 0)
        *reinterpret_cast<std::string*>(text) = WindowText(window);
    return TRUE;
}

// The first window below parent of this class and, unless null, this text.
struct ChildSearch {
    const char* cls;
    const char* text;
    HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ChildSearch*>(context);
    if (search->found == nullptr && ClassOf(window) == search->cls &&
        (search->text == nullptr || WindowText(window) == search->text))
        search->found = window;
    return TRUE;
}

HWND Child(HWND parent, const char* cls, const char* text = nullptr) {
    ChildSearch search = {cls, text, nullptr};
    if (parent != nullptr) EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The viewer's Index button opens its index, which lists the key words of
// every topic.
void CheckIndex(HWND viewer, DWORD pid) {
    HWND button = Child(viewer, "Button", "&Index");
    Check(button != nullptr, "the viewer has an Index button");
    if (button == nullptr) return;
    PostMessageA(button, BM_CLICK, 0, 0);
    HWND topics = nullptr, list = nullptr;
    WaitFor([&] {
        for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid && IsWindowVisible(w) && ClassOf(w) == "#32770") topics = w;
        }
        return (list = Child(topics, "ListBox")) != nullptr;
    });
    Check(list != nullptr, "the index opens with a list");
    if (list == nullptr) return;
    std::vector<std::string> entries;
    DWORD_PTR count = 0;
    SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 3000, &count);
    for (DWORD_PTR i = 0; i < count && i < 200; ++i) {
        // The viewer's list holds wide texts, which a narrow query across
        // processes does not always convert.
        wchar_t wide[256] = {};
        char text[256] = {};
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG,
                            3000, &length);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text) - 1, nullptr, nullptr);
        entries.emplace_back(text);
    }
    // A key word of each topic, in the order of the topics.
    for (const char* word :
         {"Screen saver", "Program Files (x86) folder", "Program Files folder",
          "Screen saver settings", "Lock screen", "Settings button", "Preview button",
          "Uninstalling Quorvel", "Installed apps", "Add/Remove Programs"}) {
        bool listed = false;
        for (const std::string& entry : entries) listed = listed || entry == word;
        Check(listed,
              std::string("index entry ") + word + " (" + std::to_string(count) + " entries)");
    }
    Screenshot(topics, "help-index");
    // An entry leads to its topic.
    size_t chosen = 0;
    while (chosen < entries.size() && entries[chosen] != "Uninstalling Quorvel") ++chosen;
    PostMessageA(list, LB_SETCURSEL, chosen, 0);
    PostMessageA(Child(topics, "Button", "OK"), BM_CLICK, 0, 0);
    std::string topic;
    WaitFor([&] {
        EnumChildWindows(viewer, CollectRichText, reinterpret_cast<LPARAM>(&topic));
        return topic.rfind("Removing Quorvel\n", 0) == 0;
    });
    CheckEq(topic.substr(0, topic.find('\n')), "Removing Quorvel", "topic of an index entry");
    Screenshot(viewer, "help-topic");
}

// ---- scenarios ----

// Started as Windows starts it, with a file of the user's own in the folder:
// first declined, then confirmed.
void Interactive() {
    Installation inst = ReadInstallation();
    std::string userFile = inst.dir + "\\My notes.txt";
    HANDLE f = CreateFileA(userFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    Check(f != INVALID_HANDLE_VALUE, "make the user's file");
    CloseHandle(f);
    Program declined;
    Check(declined.StartCommand(inst.uninstall), "starts with " + inst.uninstall);
    Answer(declined, kCaption, kConfirm, IDNO, "confirmation declined");
    CheckEq(declined.WaitExit(), kExitCancelled, "exit code after No");
    Check(Exists(inst.dir + "\\QVRemove.exe") && Exists(inst.saver) && KeyIn(kProductKey),
          "No changes nothing");
    Program remover;
    Check(remover.StartCommand(inst.uninstall), "starts with " + inst.uninstall);
    Screenshot(WaitBox(remover).window, "confirmation");
    Answer(remover, kCaption, kConfirm, IDYES, "confirmation");
    Box done = WaitBox(remover);
    Screenshot(done.window, "removed");
    CheckEq(done.text,
            std::string(kRemoved) + "\n\nThe folder \"" + inst.dir +
                "\" was kept: it holds files that are not part of Quorvel.",
            "final message");
    if (done.window) PostMessageA(GetDlgItem(done.window, IDOK), BM_CLICK, 0, 0);
    CheckEq(remover.WaitExit(), kExitRemoved, "exit code");
    CheckRemoved(inst, userFile, false);
}

// Through QuietUninstallString, with our screen saver the active one (in
// its short form and other letter case, as Windows may store it).
void QuietActive() {
    Installation inst = ReadInstallation();
    char shortForm[MAX_PATH] = {};
    GetShortPathNameA(inst.saver.c_str(), shortForm, MAX_PATH);
    std::string active = shortForm;
    for (char& c : active) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::printf("  active screen saver set to %s\n", active.c_str());
    HKEY desktop;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &desktop, nullptr);
    RegSetValueExA(desktop, "SCRNSAVE.EXE", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(active.c_str()),
                   static_cast<DWORD>(active.size() + 1));
    Program remover;
    Check(remover.StartCommand(inst.quiet), "starts with " + inst.quiet);
    CheckEq(remover.WaitExit(30000), kExitRemoved, "exit code");
    Check(remover.Box() == nullptr, "no message");
    CheckRemoved(inst, "", false);
    Check(RegQueryValueExA(desktop, "SCRNSAVE.EXE", nullptr, nullptr, nullptr, nullptr) ==
              ERROR_FILE_NOT_FOUND,
          "SCRNSAVE.EXE cleared");
    RegCloseKey(desktop);
}

// While the screen saver runs full screen its file can't go: it is left for
// the restart, and the exit code says so; everything else is removed.
void InUse() {
    Installation inst = ReadInstallation();
    Program saver;
    Check(saver.StartCommand("\"" + inst.saver + "\" /s"), "screen saver starts");
    Check(WaitFor([&] { return !saver.Windows("Quorvel Screen Saver").empty(); }),
          "screen saver window");
    Program remover;
    Check(remover.StartCommand(inst.quiet), "starts with " + inst.quiet);
    CheckEq(remover.WaitExit(30000), kExitRestart, "exit code");
    Check(WaitForSingleObject(saver.process.hProcess, 0) == WAIT_TIMEOUT,
          "screen saver still ran during the removal");
    CheckRemoved(inst, "", true);
    TerminateProcess(saver.process.hProcess, 0);
}

// After the restart: what was left for it is gone.
void Restarted() {
    Check(List(TempFolder(), "QVR*.tmp").empty(), "no temporary copy after the restart");
    std::string saver = WindowsFolder() + "\\" + FileName(ScreenSaverName());
    Check(!Exists(saver), "screen saver gone after the restart");
    Check(PendingAtRestart().find("qvr") == std::string::npos && !PendingNames(saver),
          "nothing of ours still waits for a restart");
}

// A removal after the removal: "not installed", asked and quiet, and
// nothing changes.
void Again(const std::string& remover) {
    Check(!KeyIn(kProductKey), "not installed before");
    std::string folder = remover.substr(0, remover.find_last_of('\\'));
    std::vector<std::string> before = List(folder), windows = List(WindowsFolder());
    Program asked;
    Check(asked.StartCommand("\"" + remover + "\""), "starts");
    Answer(asked, kCaption, kNotInstalled, IDOK, "not installed");
    CheckEq(asked.WaitExit(), kExitNotInstalled, "exit code");
    Program quiet;
    Check(quiet.StartCommand("\"" + remover + "\" /S"), "starts quiet");
    CheckEq(quiet.WaitExit(), kExitNotInstalled, "quiet exit code");
    Check(List(folder) == before && List(WindowsFolder()) == windows,
          "nothing changed beside the uninstaller and in the Windows folder");
    Check(List(TempFolder(), "QVR*.tmp").empty(), "no copy made");
}

// The help link opens the help through the file association, and the help
// viewer shows the first topic.
void Help() {
    Installation inst = ReadInstallation();
    std::string link = inst.group + "\\Quorvel Help.Lnk";
    auto opened = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    Check(opened > 32, "the shell opens " + link + " (" + std::to_string(opened) + ")");
    HWND viewer = nullptr;
    WaitFor(
        [&] {
            for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
                if (IsWindowVisible(w) && WindowText(w).rfind("Quorvel Help", 0) == 0) {
                    viewer = w;
                    return true;
                }
            }
            viewer = nullptr;
            return false;
        },
        20000);
    Check(viewer != nullptr, "help window titled \"Quorvel Help\"");
    if (viewer == nullptr) return;
    std::printf("  help window: %s\n", WindowText(viewer).c_str());
    char program[MAX_PATH] = {};
    DWORD pid = 0;
    GetWindowThreadProcessId(viewer, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    DWORD length = MAX_PATH;
    QueryFullProcessImageNameA(process, 0, program, &length);
    Check(Lower(FileName(program)) == "winhlp32.exe", std::string("shown by winhlp32: ") + program);
    // The viewer shows a topic's text in a rich-edit control: the first
    // topic is the contents page with the title and the five topics.
    std::string topic;
    WaitFor([&] {
        EnumChildWindows(viewer, CollectRichText, reinterpret_cast<LPARAM>(&topic));
        return !topic.empty();
    });
    CheckEq(topic,
            "Quorvel Help\nQuorvel turns your idle screen into a quiet night sky. Choose a topic "
            "below, or press Index to look up a word.\nWhat Quorvel is\nChoosing Quorvel in the "
            "display settings\nQuorvel's "
            "settings\nThe preview\nRemoving Quorvel",
            "first topic");
    Screenshot(viewer, "help");
    CheckIndex(viewer, pid);
    PostMessageA(viewer, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) TerminateProcess(process, 0);
    CloseHandle(process);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: remove SCENARIO MANIFEST REMOVER [SHOT_DIR]\n");
        return 2;
    }
    std::string scenario = argv[1];
    if (argc > 4) shotDir = argv[4];
    Check(LoadManifest(argv[2]), "manifest with a screen-saver entry");
    if (scenario == "interactive")
        Interactive();
    else if (scenario == "quiet-active")
        QuietActive();
    else if (scenario == "in-use")
        InUse();
    else if (scenario == "restarted")
        Restarted();
    else if (scenario == "again")
        Again(argv[3]);
    else if (scenario == "help")
        Help();
    else
        Check(false, "unknown scenario " + scenario);
    std::printf("%s %s\n", failures == 0 ? "PASS" : "FAIL", scenario.c_str());
    return failures == 0 ? 0 : 1;
}
