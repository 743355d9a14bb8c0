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
#include <map>
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
const char* const kRemovedExcept =
    "Quorvel screen saver was removed from your computer, except for what is listed below.";
const char* const kKeptHeading = "Kept, because Quorvel did not install them as they are now:";
// Exit codes of the uninstaller.
constexpr int kExitRemoved = 0, kExitNotInstalled = 1, kExitCancelled = 2, kExitRestart = 3,
              kExitKept = 5;

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The name itself is listed (a link to nothing included).
bool Listed(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

std::string ReadAll(const std::string& path) {
    std::string text;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return "(missing)";
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(f);
    return text;
}

void WriteAll(const std::string& path, const std::string& text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    Check(f != INVALID_HANDLE_VALUE &&
              WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size(),
          "write " + path);
    CloseHandle(f);
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

// Where the uninstaller's copy goes when the temporary folder lies inside
// the installation folder.
std::string WindowsTemp() {
    return WindowsFolder() + "\\Temp";
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

// At most one temporary copy of the uninstaller is left, alone in a folder
// of its own, and both go at the next restart, the copy first.
void CheckTemporaryCopies(const std::string& where = TempFolder()) {
    std::vector<std::string> folders = List(where, "QVR*.tmp");
    Check(folders.size() <= 1,
          "at most one temporary copy, found " + std::to_string(folders.size()));
    for (const std::string& name : folders) {
        std::string folder = where + "\\" + name, copy = folder + "\\QVRemove.exe";
        CheckEq(List(folder).size(), size_t{1}, "files in the copy's folder " + folder);
        Check(WaitFor([&] { return PendingNames(copy + "||\\??\\" + folder + "|"); }),
              "temporary copy and then its folder left for the restart: " + folder);
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
// first declined, then confirmed; the message names the file it kept.
void Interactive() {
    Installation inst = ReadInstallation();
    std::string userFile = inst.dir + "\\My notes.txt";
    WriteAll(userFile, "");
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
            std::string(kRemovedExcept) + "\n\n" + kKeptHeading + "\n    " + userFile +
                "\n\nThe folder \"" + inst.dir +
                "\" was kept: it holds files that are not part of Quorvel.",
            "final message");
    if (done.window) PostMessageA(GetDlgItem(done.window, IDOK), BM_CLICK, 0, 0);
    CheckEq(remover.WaitExit(), kExitKept, "exit code");
    CheckRemoved(inst, userFile, false);
}

// What the runner and this scenario placed in the installation folder
// before the removal. Links (Unix symbolic links, made by the runner) lead
// to C:\outside; Scenes.dat's and the screen saver's targets hold the very
// bytes of the product's file, so only the link check keeps them.
//   ReadMe.txt      the user's own text under the product's name (as after
//                   "No" to the setup's overwrite question)
//   letter.doc      a file of the user's own
//   ~qv5678.tmp     an entry's temporary file that a killed setup left
//   Scenes.dat      link to C:\outside\Scenes.dat
//   Quorvel.FTS     link to C:\outside\Quorvel.FTS (a help index name)
//   Quorvel.cnt     a second name (hard link) of C:\outside\Quorvel.cnt
//   Photos          link to the folder C:\outside\dir
//   ~qv0001.tmp     link to C:\outside\temp.txt
//   C:\windows\Quorvel.scr   link to C:\outside\Quorvel.scr
// Only our plain, unchanged files go; nothing outside is touched, and the
// message names what stayed.
void Kept() {
    Installation inst = ReadInstallation();
    const std::string outside = "C:\\outside";
    std::map<std::string, std::string> before;
    for (const char* name :
         {"Scenes.dat", "Quorvel.FTS", "Quorvel.cnt", "Quorvel.scr", "temp.txt", "dir\\keep.txt"})
        before[name] = ReadAll(outside + "\\" + name);
    WriteAll(inst.dir + "\\ReadMe.txt", "my tax notes");
    WriteAll(inst.dir + "\\letter.doc", "Dear ...");
    WriteAll(inst.dir + "\\~qv5678.tmp", "half an entry");
    Program remover;
    Check(remover.StartCommand(inst.uninstall), "starts with " + inst.uninstall);
    Answer(remover, kCaption, kConfirm, IDYES, "confirmation");
    Box done = WaitBox(remover);
    Screenshot(done.window, "kept");
    std::string d = inst.dir + "\\";
    CheckEq(done.text,
            std::string(kRemovedExcept) + "\n\n" + kKeptHeading + "\n    " + d +
                "letter.doc\n    " + d + "Photos (a link)\n    " + d +
                "Quorvel.cnt (a link)\n    " + d + "Quorvel.FTS (a link)\n    " + d +
                "ReadMe.txt (not the file Quorvel installed)\n    and 3 more\n\nThe folder \"" +
                inst.dir + "\" was kept: it holds files that are not part of Quorvel.",
            "final message");
    if (done.window) PostMessageA(GetDlgItem(done.window, IDOK), BM_CLICK, 0, 0);
    CheckEq(remover.WaitExit(), kExitKept, "exit code");
    for (const auto& [name, text] : before)
        CheckEq(ReadAll(outside + "\\" + name), text, "outside, unchanged: " + name);
    CheckEq(ReadAll(d + "ReadMe.txt"), std::string("my tax notes"), "the user's ReadMe.txt");
    for (const char* name :
         {"letter.doc", "Scenes.dat", "Quorvel.FTS", "Quorvel.cnt", "Photos", "~qv0001.tmp"})
        Check(Listed(d + name), std::string("kept: ") + name);
    Check(Listed(inst.saver), "kept: the screen saver link");
    Check(WaitFor([&] { return !Exists(d + "QVRemove.exe"); }), "uninstaller deleted by its copy");
    for (const char* name : {"~qv5678.tmp", "Quorvel.Hlp"})
        Check(!Exists(d + name), std::string("removed: ") + name);
    Check(!KeyIn(kProductKey) && !KeyIn(kUninstallKey), "registry entries removed");
}

// Through QuietUninstallString, with our screen saver the active one (in
// its short form and other letter case, as Windows may store it) and a
// file of the user's own in the folder: no word, and the exit code says
// that something was kept.
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
    std::string userFile = inst.dir + "\\letter.doc";
    WriteAll(userFile, "Dear ...");
    Program remover;
    Check(remover.StartCommand(inst.quiet), "starts with " + inst.quiet);
    CheckEq(remover.WaitExit(30000), kExitKept, "exit code");
    Check(remover.Box() == nullptr, "no message");
    CheckRemoved(inst, userFile, false);
    Check(RegQueryValueExA(desktop, "SCRNSAVE.EXE", nullptr, nullptr, nullptr, nullptr) ==
              ERROR_FILE_NOT_FOUND,
          "SCRNSAVE.EXE cleared");
    RegCloseKey(desktop);
}

// "/copy" given by anybody but the uninstaller for its own copy changes
// nothing and ends with code 6: from the installed uninstaller, with a file
// of the user's to delete; from a copy outside the folder, with no process
// to wait for; and with the real uninstaller's process, which the user then
// declines (the copy must not delete it after "No"). Then a removal whose
// temporary folder lies inside the installation folder: the copy goes to
// the Windows folder's, and nothing stays behind.
void ForgedCopy(const std::string& remover) {
    Installation inst = ReadInstallation();
    const std::string original = inst.dir + "\\QVRemove.exe";
    const std::string users = "C:\\users\\Public\\MyStuff";
    CreateDirectoryA(users.c_str(), nullptr);
    WriteAll(users + "\\QVRemove.exe", "my own program");
    std::string installed = ReadAll(original);
    auto unchanged = [&](const std::string& what) {
        CheckEq(ReadAll(users + "\\QVRemove.exe"), std::string("my own program"),
                what + ": the user's file");
        Check(ReadAll(original) == installed && KeyIn(kUninstallKey),
              what + ": the installed uninstaller and its entry");
        Check(PendingAtRestart().find("qvremove") == std::string::npos,
              what + ": nothing left for the restart");
    };
    for (const std::string& command :
         {"\"" + original + "\" /copy 1 2 \"" + users + "\\QVRemove.exe\"",
          "\"" + remover + "\" /copy 1 2 \"" + original + "\"",
          "\"" + remover + "\" /copy 0 0 \"" + users + "\\QVRemove.exe\""}) {
        Program forged;
        Check(forged.StartCommand(command), "starts " + command);
        CheckEq(forged.WaitExit(), 6, "exit code of " + command);
        unchanged(command);
    }
    Program declined;
    Check(declined.StartCommand(inst.uninstall), "starts with " + inst.uninstall);
    WaitBox(declined);
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE ready = CreateEventA(&inherited, TRUE, FALSE, nullptr);
    SetHandleInformation(declined.process.hProcess, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    Program forged;
    std::string command = "\"" + remover + "\" /copy " +
                          std::to_string(reinterpret_cast<uintptr_t>(declined.process.hProcess)) +
                          " " + std::to_string(reinterpret_cast<uintptr_t>(ready)) + " \"" +
                          original + "\"";
    Check(forged.StartCommand(command, true), "starts " + command);
    Check(WaitForSingleObject(ready, Scaled(10000)) == WAIT_OBJECT_0,
          "with the real process the copy gets as far as waiting for it");
    Answer(declined, kCaption, kConfirm, IDNO, "confirmation declined");
    CheckEq(declined.WaitExit(), kExitCancelled, "exit code after No");
    CheckEq(forged.WaitExit(), 6, "exit code of the copy after No");
    unchanged("after No");
    CloseHandle(ready);

    // The uninstaller inherits the temporary folder from this driver.
    char saved[2][MAX_PATH + 1] = {};
    const char* const names[] = {"TMP", "TEMP"};
    for (int i = 0; i < 2; ++i) {
        GetEnvironmentVariableA(names[i], saved[i], MAX_PATH);
        SetEnvironmentVariableA(names[i], inst.dir.c_str());
    }
    Program inside;
    Check(inside.StartCommand(inst.quiet), "starts with " + inst.quiet);
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableA(names[i], saved[i][0] ? saved[i] : nullptr);
    CheckEq(inside.WaitExit(30000), kExitRemoved, "exit code with the temporary folder inside");
    CheckRemoved(inst, "", false);
    CheckEq(List(WindowsTemp(), "QVR*.tmp").size(), size_t{1}, "the copy in " + WindowsTemp());
    CheckTemporaryCopies(WindowsTemp());
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
    Check(List(TempFolder(), "QVR*.tmp").empty() && List(WindowsTemp(), "QVR*.tmp").empty(),
          "no temporary copy after the restart");
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
    // "/copy" with no installation to remove: a twin of the uninstaller
    // placed elsewhere stays, and neither goes at the restart.
    std::string twin = "C:\\users\\Public\\QVRemove.exe";
    CopyFileA(remover.c_str(), twin.c_str(), FALSE);
    for (const std::string& target : {twin, remover}) {
        Program forged;
        Check(forged.StartCommand("\"" + remover + "\" /copy 1 2 \"" + target + "\""),
              "starts /copy " + target);
        CheckEq(forged.WaitExit(), 6, "exit code of /copy " + target);
    }
    Check(Exists(twin) && PendingAtRestart().find("qvremove") == std::string::npos,
          "/copy changed nothing");
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
    if (WaitForSingleObject(process, Scaled(5000)) != WAIT_OBJECT_0) TerminateProcess(process, 0);
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
    else if (scenario == "kept")
        Kept();
    else if (scenario == "forged-copy")
        ForgedCopy(argv[3]);
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
    // The runner's plants are where the copy once ran from.
    for (const char* name : {"imm32.dll", "shlwapi.dll"})
        Check(Exists(TempFolder() + "\\" + name),
              std::string("planted in the temporary folder: ") + name);
    CheckNothingPlantedRan();
    std::printf("%s %s\n", failures == 0 ? "PASS" : "FAIL", scenario.c_str());
    return failures == 0 ? 0 : 1;
}
