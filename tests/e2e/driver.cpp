// Plays a user through the real setup program under Wine: starts it, finds
// the wizard, reads the pages, types, presses the sheet's buttons, answers
// message boxes by caption and text, and afterwards checks files, registry
// values, links and the final launch (through a stand-in desk.cpl).
//
//   driver.exe SCENARIO SETUP_EXE MANIFEST SHOT_DIR
//
// MANIFEST lists the archive's entries, one "name<TAB>size" a line. Prints
// one "PASS name" or "FAIL name" line and exits with 0 or 1.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "install/install_record.h"
#include "product_version.h"
#include "resources/resource.h"
#include "tests/e2e/driver_support.h"

namespace {

// The program under test.
using Setup = Program;

constexpr const char* kProductKey = "SOFTWARE\\Tembra\\Quorvel\\1.0";
constexpr const char* kProgramsDir = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
// The setup has the driver's own bitness. A 32-bit one runs on 64-bit
// Windows under WoW64: its HKLM\SOFTWARE keys land in the 32-bit view
// (WOW6432Node), all but App Paths, which both views share; the
// ProgramFilesDir it reads is that view's "C:\Program Files (x86)"; its
// rundll32.exe and desk.cpl come from syswow64; the Windows directory is
// the same for both.
constexpr bool kWow64 = sizeof(void*) == 4;
constexpr REGSAM kOtherView = kWow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr const char* kDefaultDir =
    kWow64 ? "C:\\Program Files (x86)\\Quorvel" : "C:\\Program Files\\Quorvel";
constexpr const char* kSystemDir = kWow64 ? "C:\\windows\\syswow64" : "C:\\windows\\system32";
// The system's rundll32.exe as the setup names it, by its full path: the
// system folder's name for both builds, which WoW64 redirects to syswow64
// for a 32-bit program.
constexpr const char* kRundll32 = "C:\\windows\\system32\\rundll32.exe";
constexpr const char* kLaunchLog = "C:\\windows\\desk-standin.log";

const char* const kWelcomeFirst =
    "This wizard will help you quickly install Quorvel. Press Next to continue.";
const char* const kWelcomeUpdate =
    "Quorvel is already installed at your computer.\nPress Next to update your copy to "
    "version " QV_VERSION_TEXT ".\nYour current settings will be preserved.";
const char* const kConfirmExit = "Are you sure you want to exit?";
const char* const kDone =
    "Quorvel screen saver has been installed to your computer. Press Close to launch "
    "Configuration dialog.";
const char* const kFilesError =
    "Warning: Error(s) encountered while creating files. Some of Quorvel elements will not "
    "work properly.";
const char* const kUnusableFolder =
    "The folder name is too long or contains a character that folder names can't have "
    "(* ? \" < > | or a colon after the drive letter). Please select another path.";
const char* const kOverwrite =
    "The same or newer file exists. Do you wish to overwrite it and following files?";

bool IsWow64() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

HWND CurrentPage(HWND sheet) {
    DWORD_PTR page = 0;
    SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 3000, &page);
    return reinterpret_cast<HWND>(page);
}

int PageIndex(HWND sheet) {
    HWND page = CurrentPage(sheet);
    if (page == nullptr) return -1;
    DWORD_PTR index = static_cast<DWORD_PTR>(-1);
    SendMessageTimeoutA(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0, SMTO_ABORTIFHUNG,
                        3000, &index);
    return static_cast<int>(index);
}

std::string Item(HWND sheet, int id) {
    return WindowText(GetDlgItem(CurrentPage(sheet), id));
}

bool ItemVisible(HWND sheet, int id) {
    return IsWindowVisible(GetDlgItem(CurrentPage(sheet), id));
}

void Press(HWND sheet, int button) {
    PostMessageA(sheet, PSM_PRESSBUTTON, button, 0);
}

bool WaitPage(HWND sheet, int index, const std::string& what, int ms = 10000);

// Presses Next and waits for the page the sheet should move to.
bool Next(HWND sheet, int index, const std::string& what) {
    Press(sheet, PSBTN_NEXT);
    return WaitPage(sheet, index, what);
}

bool WaitPage(HWND sheet, int index, const std::string& what, int ms) {
    bool ok = WaitFor([&] { return PageIndex(sheet) == index; }, ms);
    Check(ok, what + ": page " + std::to_string(index) + " not shown (at " +
                  std::to_string(PageIndex(sheet)) + ")");
    Sleep(100);
    // The sheet shows the page's title, which every page has.
    if (ok) CheckEq(WindowText(sheet), "Quorvel screen saver Setup", what + ": title");
    return ok;
}

void SetItem(HWND sheet, int id, const std::string& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(CurrentPage(sheet), id), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 3000, &result);
}

bool Enabled(HWND sheet, int id) {
    return IsWindowEnabled(GetDlgItem(sheet, id)) != 0;
}
bool Shown(HWND sheet, int id) {
    return IsWindowVisible(GetDlgItem(sheet, id)) != 0;
}

// ---- checks after the run ----

// Where the entry goes with the Windows directory on a drive with room.
std::string Destination(const Entry& e, const std::string& dir) {
    if (e.name.find(".scr") != std::string::npos) return "C:\\windows\\" + FileName(e.name);
    return dir + "\\" + FileName(e.name);
}

FILETIME ReleaseStamp() {
    FILETIME local, utc;
    DosDateTimeToFileTime(0x2481, 0x0940, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

bool FileTimes(const std::string& path, FILETIME& written, long long& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    written = data.ftLastWriteTime;
    size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool HasStamp(const std::string& path) {
    FILETIME t;
    long long size;
    FILETIME want = ReleaseStamp();
    return FileTimes(path, t, size) && CompareFileTime(&t, &want) == 0;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Temporary files of entries ("~qv" ... ".tmp") in dir.
int Partials(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\~qv*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return n;
}

void CheckFiles(const std::string& dir) {
    for (const Entry& e : manifest) {
        std::string path = Destination(e, dir);
        FILETIME t;
        long long size = -1;
        Check(FileTimes(path, t, size), "file missing: " + path);
        CheckEq(size, e.size, "size of " + path);
        Check(HasStamp(path), "release time stamp on " + path);
    }
    CheckEq(Partials(dir) + Partials("C:\\windows"), 0, "temporary files left");
}

FILETIME Year1990() {
    SYSTEMTIME st = {1990, 1, 0, 1, 0, 0, 0, 0};
    FILETIME t;
    SystemTimeToFileTime(&st, &t);
    return t;
}

// Gives every installed file the time t, by default the current time,
// newer than the stamp.
void TouchInstalled(const std::string& dir, const FILETIME* time = nullptr) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME t;
    SystemTimeToFileTime(&now, &t);
    if (time != nullptr) t = *time;
    for (const Entry& e : manifest) {
        HANDLE f = CreateFileA(Destination(e, dir).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        Check(f != INVALID_HANDLE_VALUE, "touch " + Destination(e, dir));
        SetFileTime(f, nullptr, nullptr, &t);
        CloseHandle(f);
    }
}

void CheckReg(const char* key, const char* name, const std::string& want) {
    std::string got;
    Check(RegValue(key, name, got), std::string("registry value missing: ") + key + " " + name);
    CheckEq(got, want, std::string("registry ") + key + " \"" + name + "\"");
}

void CheckRegistry(const std::string& dir, const std::string& group) {
    std::string scr = FileName(ScreenSaverName());
    CheckReg(kProductKey, "InstallDir", dir);
    if (group.empty()) {
        std::string v;
        Check(!RegValue(kProductKey, "ShellFolder", v), "no ShellFolder without shortcuts");
    } else {
        CheckReg(kProductKey, "ShellFolder", group);
    }
    std::string appPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + scr;
    CheckReg(appPaths.c_str(), "", "C:\\windows\\" + scr);
    CheckReg(appPaths.c_str(), "Path", dir);
    const char* uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
    CheckReg(uninstall, "DisplayName", "Quorvel screen saver");
    CheckReg(uninstall, "DisplayVersion", QV_VERSION_TEXT);
    CheckReg(uninstall, "UninstallString", "\"" + dir + "\\QVRemove.exe\"");
    for (const std::string& key : {std::string(kProductKey), std::string(uninstall)})
        Check(!KeyIn(key, kOtherView), key + " only in the view of the setup's bitness");
    Check(KeyIn(appPaths, kOtherView), appPaths + " shared by both views");
}

struct Link {
    bool ok = false;
    std::string path, arguments, description, icon;
    int iconIndex = -1;
};

Link ReadLink(const std::string& file) {
    Link link;
    IShellLinkA* shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&shell))))
        return link;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(persist->Load(wide, STGM_READ))) {
            char buffer[MAX_PATH] = {};
            shell->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
            link.path = buffer;
            buffer[0] = 0;
            shell->GetArguments(buffer, MAX_PATH);
            link.arguments = buffer;
            buffer[0] = 0;
            shell->GetDescription(buffer, MAX_PATH);
            link.description = buffer;
            buffer[0] = 0;
            shell->GetIconLocation(buffer, MAX_PATH, &link.iconIndex);
            link.icon = buffer;
            link.ok = true;
        }
        persist->Release();
    }
    shell->Release();
    return link;
}

void CheckLinks(const std::string& dir, const std::string& group) {
    std::string folder = std::string(kProgramsDir) + "\\" + group;
    std::string scrPath = "C:\\windows\\" + FileName(ScreenSaverName());
    Link help = ReadLink(folder + "\\Quorvel Help.Lnk");
    Check(help.ok, "help link readable in " + folder);
    CheckEq(Lower(help.path), Lower(dir + "\\Quorvel.Hlp"), "help link target");
    CheckEq(help.description, "Quorvel Help", "help link description");
    CheckEq(help.arguments, "", "help link arguments");
    Link settings = ReadLink(folder + "\\Quorvel Settings.Lnk");
    Check(settings.ok, "settings link readable");
    CheckEq(Lower(settings.path), Lower(kRundll32), "settings link target");
    CheckEq(settings.arguments, "desk.cpl,InstallScreenSaver " + scrPath, "settings arguments");
    CheckEq(settings.description, "Quorvel Settings", "settings description");
    CheckEq(Lower(settings.icon), Lower(scrPath), "settings icon");
    CheckEq(settings.iconIndex, 0, "settings icon index");
}

// The stand-in's records of InstallScreenSaver calls, one "name: value"
// map per call.
std::vector<std::vector<std::pair<std::string, std::string>>> ReadLaunches() {
    std::vector<std::vector<std::pair<std::string, std::string>>> launches;
    std::ifstream in(kLaunchLog);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        if (name == "command line") launches.emplace_back();
        if (!launches.empty()) launches.back().emplace_back(name, line.substr(colon + 2));
    }
    return launches;
}

std::string Field(const std::vector<std::pair<std::string, std::string>>& launch,
                  const std::string& name) {
    for (const auto& [n, v] : launch)
        if (n == name) return v;
    return "";
}

void CheckLaunched() {
    // The launch runs after the setup ended, and the stand-in writes its
    // record line by line: wait for the last line.
    WaitFor(
        [] {
            auto launches = ReadLaunches();
            return !launches.empty() && launches.front().back().first == "argument";
        },
        5000);
    auto launches = ReadLaunches();
    CheckEq(launches.size(), 1u, "final launches");
    if (launches.empty()) return;
    const auto& launch = launches.front();
    std::string scr = "C:\\windows\\" + FileName(ScreenSaverName());
    CheckEq(Field(launch, "command line"),
            "\"" + std::string(kRundll32) + "\" desk.cpl,InstallScreenSaver " + scr,
            "final launch command line");
    CheckEq(Lower(Field(launch, "program")), Lower(std::string(kSystemDir) + "\\rundll32.exe"),
            "rundll32.exe of the setup's bitness");
    CheckEq(Lower(Field(launch, "library")), Lower(std::string(kSystemDir) + "\\desk.cpl"),
            "desk.cpl beside it");
    CheckEq(Lower(Field(launch, "directory")), "c:\\windows", "launch in the Windows directory");
    CheckEq(Field(launch, "argument"), scr, "InstallScreenSaver argument");
}

void CheckNotLaunched() {
    Sleep(500);
    Check(ReadLaunches().empty(), "no final launch expected");
}

// ---- the wizard, page by page ----

HWND StartAndFindSheet(Setup& setup, const std::string& exe) {
    Check(setup.Start(exe), "setup starts");
    HWND sheet = nullptr;
    WaitFor([&] { return (sheet = setup.Sheet()) != nullptr; }, 20000);
    Check(sheet != nullptr, "wizard window appears");
    if (sheet != nullptr) WaitPage(sheet, 0, "start");
    return sheet;
}

// The wizard picture shows whole, square, 90 x 90 pixels at 96 DPI and
// larger above, within the page and clear of every other control.
void CheckPicture(HWND sheet, HWND picture) {
    HWND page = CurrentPage(sheet);
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT inside, frame, area;
    GetClientRect(picture, &inside);
    std::string size = std::to_string(inside.right) + " x " + std::to_string(inside.bottom);
    Check(inside.right == inside.bottom && (dpi == 96 ? inside.right == 90 : inside.right > 90),
          "picture " + size + " at " + std::to_string(dpi) + " DPI");
    GetWindowRect(picture, &frame);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&frame), 2);
    GetClientRect(page, &area);
    Check(frame.left >= 0 && frame.top >= 0 && frame.right <= area.right &&
              frame.bottom <= area.bottom,
          "picture within the page");
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT other, common;
        GetWindowRect(child, &other);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&other), 2);
        Check(child == picture || !IntersectRect(&common, &frame, &other),
              "picture " + size + " clear of " + WindowText(child).substr(0, 20));
    }
}

// Every text expected among the current page's static texts, and the
// wizard picture where the page has one.
void CheckStatics(HWND sheet, std::initializer_list<const char*> texts, bool picture = true) {
    HWND page = CurrentPage(sheet);
    std::vector<std::string> found;
    bool hasPicture = false;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != "Static") continue;
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
            hasPicture = SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
            if (hasPicture) CheckPicture(sheet, child);
            continue;
        }
        found.push_back(WindowText(child));
    }
    for (const char* text : texts) {
        bool present = false;
        for (const std::string& f : found) present = present || f == text;
        Check(present, std::string("page text: ") + text);
    }
    CheckEq(hasPicture, picture, "wizard picture");
}

// The page's Browse button: its text and a 16-pixel icon.
void CheckBrowseButton(HWND sheet, int id) {
    HWND button = GetDlgItem(CurrentPage(sheet), id);
    CheckEq(WindowText(button), "Browse...", "browse button text");
    HICON icon = reinterpret_cast<HICON>(SendMessageA(button, BM_GETIMAGE, IMAGE_ICON, 0));
    Check(icon != nullptr, "browse button has an icon");
}

void CheckWelcome(HWND sheet, bool update) {
    CheckStatics(sheet, {"Welcome to the Quorvel v." QV_VERSION_TEXT " screen saver Setup!"});
    // Centred on the work area of its monitor (its owner is a zero-size
    // window in the corner).
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoA(MonitorFromWindow(sheet, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT r;
    GetWindowRect(sheet, &r);
    const RECT& work = monitor.rcWork;
    long dx = (r.left - work.left) - (work.right - r.right);
    long dy = (r.top - work.top) - (work.bottom - r.bottom);
    Check(dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1,
          "wizard centred: at " + std::to_string(r.left) + "," + std::to_string(r.top) + " in " +
              std::to_string(work.right - work.left) + " x " +
              std::to_string(work.bottom - work.top));
    CheckEq(ItemVisible(sheet, IDC_WELCOME_FIRST), !update, "first-installation text shown");
    CheckEq(ItemVisible(sheet, IDC_WELCOME_UPDATE), update, "update text shown");
    CheckEq(Item(sheet, update ? IDC_WELCOME_UPDATE : IDC_WELCOME_FIRST),
            update ? kWelcomeUpdate : kWelcomeFirst, "welcome text");
    Check(!Enabled(sheet, kBack) && Enabled(sheet, kNext), "welcome: only Next");
}

void CheckLicence(HWND sheet) {
    std::string licence = Item(sheet, IDC_LICENCE_TEXT);
    Check(licence.size() > 1000,
          "licence text streamed in (" + std::to_string(licence.size()) + " characters)");
    Check(licence.find("{\\rtf") == std::string::npos, "licence shown as formatted text");
    CheckStatics(sheet,
                 {"Please read the following license agreement.",
                  "Proceeding with installation implies that you accept all of the terms of the "
                  "license agreement. If you do not accept the terms, press Cancel button."},
                 false);
    Check(Enabled(sheet, kBack) && Enabled(sheet, kNext), "licence: Back and Next");
}

DWORD_PTR BarPosition(HWND sheet) {
    DWORD_PTR pos = 0;
    SendMessageTimeoutA(GetDlgItem(CurrentPage(sheet), IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0,
                        SMTO_ABORTIFHUNG, 3000, &pos);
    return pos;
}

// Waits for "Finished." on the progress page and checks the finished state.
void CheckFinished(HWND sheet) {
    bool done = WaitFor([&] { return Item(sheet, IDC_PROGRESS_STATUS) == "Finished."; }, 30000);
    Check(done,
          "progress page reaches Finished. (status " + Item(sheet, IDC_PROGRESS_STATUS) + ")");
    CheckStatics(sheet, {"Please wait while Setup wizard installs Quorvel.", "Finished.", kDone});
    CheckEq(ItemVisible(sheet, IDC_PROGRESS_DONE), true, "completion text visible");
    CheckEq(Item(sheet, IDC_PROGRESS_DONE), kDone, "completion text");
    CheckEq(WindowText(GetDlgItem(sheet, kFinish)), "Close", "finish button text");
    Check(Shown(sheet, kFinish), "Close button shown");
    Check(!Shown(sheet, kBack) && !Shown(sheet, kNext), "Back and Next gone");
    Check(!Enabled(sheet, IDCANCEL), "Cancel disabled at the end");
    // Full at the end, whatever the file phase wrote.
    CheckEq(BarPosition(sheet), 100u, "bar at the end");
}

void Close(Setup& setup, HWND sheet) {
    Press(sheet, PSBTN_FINISH);
    CheckEq(setup.WaitExit(), 0, "exit code");
}

// ---- scenarios ----

void FirstInstallation(const std::string& exe) {
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    CheckWelcome(sheet, false);
    Screenshot(sheet, "welcome");
    Next(sheet, 1, "licence");
    CheckEq(Item(sheet, IDC_LICENCE_TEXT).empty(), false, "licence text present");
    CheckLicence(sheet);
    Screenshot(sheet, "licence");
    Next(sheet, 2, "install folder");
    CheckEq(Item(sheet, IDC_FOLDER_EDIT), kDefaultDir, "default installation folder");
    Check(Enabled(sheet, kBack) && Enabled(sheet, kNext), "folder page: Back and Next");
    CheckStatics(sheet, {"Setup wizard will copy the Quorvel files to the following folder:",
                         "If you wish to install Quorvel into another folder, type its full "
                         "path or select the Browse button to the right."});
    CheckBrowseButton(sheet, IDC_FOLDER_BROWSE);
    Screenshot(sheet, "folder");
    Next(sheet, 3, "program group");
    CheckEq(Item(sheet, IDC_GROUP_EDIT), "Quorvel", "default group");
    CheckEq(Item(sheet, IDC_GROUP_NO_SHORTCUTS), "Do not create shortcuts in Start menu",
            "check box text");
    CheckStatics(sheet, {"Setup wizard will create shortcuts to the Quorvel components in the "
                         "following Programs group of Start button:",
                         "If you want to select another Programs submenu, type its name or "
                         "press Browse button to the right."});
    CheckBrowseButton(sheet, IDC_GROUP_BROWSE);
    Screenshot(sheet, "group");
    Next(sheet, 4, "progress");
    CheckEq(Item(sheet, IDC_PROGRESS_HEADING), "Please wait while Setup wizard installs Quorvel.",
            "heading");
    CheckFinished(sheet);
    Screenshot(sheet, "finished");
    Screenshot(nullptr, "screen");  // the wizard in the middle of the screen
    // A lower report (two entries of one size in a row read as one) leaves
    // the bar where it is.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(CurrentPage(sheet), WM_SETUP_PROGRESS, 0, 50, SMTO_ABORTIFHUNG, 3000,
                        &ignored);
    CheckEq(BarPosition(sheet), 100u, "bar after a lower report");
    Close(setup, sheet);
    CheckFiles(kDefaultDir);
    CheckRegistry(kDefaultDir, "Quorvel");
    CheckLinks(kDefaultDir, "Quorvel");
    CheckLaunched();
}

void Update(const std::string& exe) {
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    CheckWelcome(sheet, true);
    Next(sheet, 1, "licence");
    Press(sheet, PSBTN_NEXT);
    // Folder and group of the previous installation exist: both passed over.
    WaitPage(sheet, 4, "straight to progress");
    // The file phase waits for the question below: the page's first state.
    CheckEq(Item(sheet, IDC_PROGRESS_STATUS), "Program Files...", "status during the file phase");
    CheckEq(ItemVisible(sheet, IDC_PROGRESS_DONE), false, "completion text hidden while running");
    Check(!Enabled(sheet, kBack) && Enabled(sheet, kNext) && Enabled(sheet, IDCANCEL),
          "running: Next and Cancel only");
    // Same-stamped files are "same or newer": one question, answered Yes.
    Answer(setup, "creating: " + FileName(manifest.front().name), kOverwrite, IDYES,
           "overwrite question");
    CheckFinished(sheet);
    Check(setup.Box() == nullptr, "only one overwrite question");
    Close(setup, sheet);
    CheckFiles(kDefaultDir);
    CheckRegistry(kDefaultDir, "Quorvel");
    CheckLinks(kDefaultDir, "Quorvel");
    CheckLaunched();
}

// Previous folder present, previous group gone: the folder page is passed
// over going forward and going back.
void UpdateBackward(const std::string& exe) {
    std::string group = std::string(kProgramsDir) + "\\Quorvel";
    DeleteFileA((group + "\\Quorvel Help.Lnk").c_str());
    DeleteFileA((group + "\\Quorvel Settings.Lnk").c_str());
    Check(RemoveDirectoryA(group.c_str()) != 0, "remove the previous group");
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    CheckWelcome(sheet, true);
    Next(sheet, 1, "licence");
    Next(sheet, 3, "folder page passed over forward");
    Press(sheet, PSBTN_BACK);
    WaitPage(sheet, 1, "folder page passed over backward");
    Press(sheet, PSBTN_CANCEL);  // the licence page closes without a question
    CheckEq(setup.WaitExit(), 0, "exit code");
    CheckNotLaunched();
}

void NoShortcuts(const std::string& exe) {
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    Next(sheet, 3, "group");
    HWND page = CurrentPage(sheet);
    // The page switches the two controls one after the other: wait for both.
    auto both = [&](bool enabled) {
        return WaitFor(
            [&] {
                return (IsWindowEnabled(GetDlgItem(page, IDC_GROUP_EDIT)) != 0) == enabled &&
                       (IsWindowEnabled(GetDlgItem(page, IDC_GROUP_BROWSE)) != 0) == enabled;
            },
            3000);
    };
    PostMessageA(GetDlgItem(page, IDC_GROUP_NO_SHORTCUTS), BM_CLICK, 0, 0);
    Check(both(false), "checked box disables the group controls");
    PostMessageA(GetDlgItem(page, IDC_GROUP_NO_SHORTCUTS), BM_CLICK, 0, 0);
    Check(both(true), "cleared box enables them again");
    PostMessageA(GetDlgItem(page, IDC_GROUP_NO_SHORTCUTS), BM_CLICK, 0, 0);
    both(false);
    Next(sheet, 4, "progress");
    CheckFinished(sheet);
    // Esc on the last page closes the wizard as Close does, without a question.
    PostMessageA(sheet, WM_KEYDOWN, VK_ESCAPE, 0);
    CheckEq(setup.WaitExit(5000), 0, "Esc at the end closes at once");
    CheckFiles(kDefaultDir);
    CheckRegistry(kDefaultDir, "");
    Check(GetFileAttributesA((std::string(kProgramsDir) + "\\Quorvel").c_str()) ==
              INVALID_FILE_ATTRIBUTES,
          "no program group folder");
    CheckLaunched();
}

// Roots, relative paths and the folders of Windows refused, empty refused,
// a share and a removable drive D: asked about; then Cancel on pages 3 and
// 4, the first time withdrawn in the question.
void FolderChecks(const std::string& exe) {
    const char* warning =
        "Warning: Folder path is not on local fixed disk. Setup may fail. Do you wish to "
        "continue?";
    Check(GetDriveTypeA("D:\\") == DRIVE_REMOVABLE, "D: is removable in this prefix");
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    // Refused with these words: what is no full path, roots however
    // written (a share's too), and the folders of Windows themselves, which
    // the uninstaller would refuse to remove from.
    const std::string root =
        "Installation to the root folder is not a good idea. Please select another path.";
    const std::string notFull =
        "Please type the full path of the folder, beginning with its drive (such as C:\\) or "
        "with a network share (such as \\\\server\\share\\).";
    auto windowsOwn = [](const std::string& folder) {
        return "\"" + folder +
               "\" is a folder of Windows itself. Please select a folder inside "
               "it, such as \"" +
               folder + "\\Quorvel\", or another path.";
    };
    const std::pair<std::string, std::string> refused[] = {
        {"C:\\", root},
        {"C:/", root},
        {"C:\\\\", root},
        {"C:\\.", root},
        {"C:\\windows\\..", root},
        {"\\\\localhost\\C$", root},
        {"Quorvel", notFull},
        {"C:Quorvel", notFull},
        {"\\Quorvel", notFull},
        {"C:\\windows", windowsOwn("C:\\windows")},
        {"C:\\windows\\system32", windowsOwn("C:\\windows\\system32")},
        {"C:\\windows\\syswow64\\", windowsOwn("C:\\windows\\syswow64")},
        {"C:\\Program Files", windowsOwn("C:\\Program Files")},
        {"C:\\Program Files (x86)...", windowsOwn("C:\\Program Files (x86)")},
        {"C:\\Program Files\\Quorvel\\..", windowsOwn("C:\\Program Files")},
    };
    for (const auto& [text, words] : refused) {
        SetItem(sheet, IDC_FOLDER_EDIT, text);
        Press(sheet, PSBTN_NEXT);
        Answer(setup, "Quorvel Setup", words, IDOK, "refused " + text);
        WaitPage(sheet, 2, "stays after " + text);
    }
    SetItem(sheet, IDC_FOLDER_EDIT, "");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup", "Please enter the folder to install Quorvel into.", IDOK,
           "empty folder");
    WaitPage(sheet, 2, "stays after empty");
    // Texts the file system can't hold; a pattern that matches the
    // existing "C:\Program Files" among them.
    for (const std::string& text : {std::string("C:\\Prog*"), std::string("C:\\a|b"),
                                    std::string("C:\\") + std::string(250, 'q')}) {
        SetItem(sheet, IDC_FOLDER_EDIT, text);
        Press(sheet, PSBTN_NEXT);
        Answer(setup, "Quorvel Setup", kUnusableFolder, IDOK, "unusable " + text.substr(0, 12));
        WaitPage(sheet, 2, "stays after an unusable text");
    }
    // A share is judged by its own root, not by the current folder's drive.
    SetItem(sheet, IDC_FOLDER_EDIT, "\\\\localhost\\C$\\Quorvel");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup", warning, IDNO, "share, No");
    WaitPage(sheet, 2, "No stays");
    SetItem(sheet, IDC_FOLDER_EDIT, "D:\\Quorvel");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup", warning, IDNO, "removable, No");
    WaitPage(sheet, 2, "No stays");
    Press(sheet, PSBTN_CANCEL);
    Answer(setup, "Quorvel Setup", kConfirmExit, IDCANCEL, "cancel on page 3, withdrawn");
    WaitPage(sheet, 2, "wizard stays open");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup", warning, IDYES, "removable, Yes");
    WaitPage(sheet, 3, "Yes goes on");
    SetItem(sheet, IDC_GROUP_EDIT, "Quorvel?");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup", kUnusableFolder, IDOK, "unusable group");
    WaitPage(sheet, 3, "stays after an unusable group");
    Press(sheet, PSBTN_CANCEL);
    Answer(setup, "Quorvel Setup", kConfirmExit, IDCANCEL, "cancel on page 4, withdrawn");
    WaitPage(sheet, 3, "wizard stays open");
    Press(sheet, PSBTN_CANCEL);
    Answer(setup, "Quorvel Setup", kConfirmExit, IDOK, "cancel on page 4, confirmed");
    CheckEq(setup.WaitExit(), 0, "exit code");
    Check(GetFileAttributesA("D:\\Quorvel") == INVALID_FILE_ATTRIBUTES, "nothing written to D:");
    CheckNotLaunched();
}

// The names in a folder, each in brackets, as listed.
std::string FolderNames(const std::string& folder) {
    std::string names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names += "[" + name + "]";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// Walks to the progress page with a folder that can't be created: the
// failure message, then back on the install-folder page.
void FailOnFolder(const Setup& setup, HWND sheet, const char* folder) {
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    SetItem(sheet, IDC_FOLDER_EDIT, folder);
    Next(sheet, 3, "group");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup Error",
           "Can't create specified folder. Please check your choice and try again.", IDOK,
           "folder failure");
    WaitPage(sheet, 2, "back on the folder page");
}

// A file where the folder should go: the failure message, back on page 3,
// then a good folder succeeds.
void BlockedFolder(const std::string& exe) {
    HANDLE f = CreateFileA("C:\\Blocked", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    Check(f != INVALID_HANDLE_VALUE, "make C:\\Blocked");
    CloseHandle(f);
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    FailOnFolder(setup, sheet, "C:\\Blocked\\Quorvel");
    // Typed untidily: installed into, and recorded as, the full path that
    // the system makes of it.
    SetItem(sheet, IDC_FOLDER_EDIT, "C:/Good\\\\Sub\\..\\.\\Quorvel. .");
    Next(sheet, 3, "group again");
    Next(sheet, 4, "progress again");
    CheckFinished(sheet);
    Close(setup, sheet);
    CheckFiles("C:\\Good\\Quorvel");
    CheckRegistry("C:\\Good\\Quorvel", "Quorvel");
    CheckLinks("C:\\Good\\Quorvel", "Quorvel");
    CheckEq(FolderNames("C:\\Good"), std::string("[Quorvel]"), "folders made in C:\\Good");
    CheckLaunched();
}

// A folder failure, then the wizard left from the install-folder page: no
// launch, exit code 0.
void BlockedThenCancel(const std::string& exe) {
    HANDLE f = CreateFileA("C:\\Blocked", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    FailOnFolder(setup, sheet, "C:\\Blocked\\Sub\\Quorvel");
    Press(sheet, PSBTN_CANCEL);
    Answer(setup, "Quorvel Setup", kConfirmExit, IDOK, "cancel on page 3");
    CheckEq(setup.WaitExit(), 0, "exit code");
    std::string v;
    Check(!RegValue(kProductKey, "InstallDir", v), "no registry entries");
    CheckNotLaunched();
}

void Overwrite(const std::string& exe, bool yes) {
    TouchInstalled(kDefaultDir);
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 4, "progress");
    Answer(setup, "creating: " + FileName(manifest.front().name), kOverwrite, yes ? IDYES : IDNO,
           "overwrite question");
    if (!yes) Answer(setup, "Quorvel Setup Error", kFilesError, IDOK, "files error warning");
    CheckFinished(sheet);
    Check(setup.Box() == nullptr, "no further question");
    Close(setup, sheet);
    for (const Entry& e : manifest) {
        std::string path = Destination(e, kDefaultDir);
        CheckEq(HasStamp(path), yes, (yes ? "overwritten: " : "kept: ") + path);
    }
    if (yes)
        CheckLaunched();
    else
        CheckNotLaunched();
}

// At 192 DPI (the runner sets it): the pages' checks, the picture's size
// among them, in a larger layout.
void HighDpi(const std::string& exe) {
    HDC screen = GetDC(nullptr);
    CheckEq(GetDeviceCaps(screen, LOGPIXELSY), 192, "DPI");
    ReleaseDC(nullptr, screen);
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    CheckWelcome(sheet, false);
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    CheckStatics(sheet, {"Setup wizard will copy the Quorvel files to the following folder:"});
    Screenshot(sheet, "folder-192dpi");
    Press(sheet, PSBTN_CANCEL);
    Answer(setup, "Quorvel Setup", kConfirmExit, IDOK, "cancel on page 3");
    CheckEq(setup.WaitExit(), 0, "exit code");
}

void CancelEarly(const std::string& exe) {
    for (int page = 0; page < 2; ++page) {
        Setup setup;
        HWND sheet = StartAndFindSheet(setup, exe);
        if (!sheet) return;
        if (page == 1) {
            Next(sheet, 1, "licence");
        }
        Press(sheet, PSBTN_CANCEL);
        CheckEq(setup.WaitExit(5000), 0, "closes at once on page " + std::to_string(page + 1));
        Check(setup.Box() == nullptr, "no question");
    }
    CheckNotLaunched();
}

// Cancel confirmed while the file worker waits in its overwrite question:
// after the answer the worker writes no further entry and the program ends.
void CancelDuringFiles(const std::string& exe) {
    TouchInstalled(kDefaultDir);
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 4, "progress");
    Box question = WaitBox(setup);
    CheckEq(question.text, kOverwrite, "overwrite question is up");
    // Next can't leave the page while the installation runs.
    Press(sheet, PSBTN_NEXT);
    Sleep(300);
    CheckEq(PageIndex(sheet), 4, "Next during the installation stays");
    Press(sheet, PSBTN_CANCEL);
    bool asked = WaitFor([&] {
        for (HWND w : setup.Windows("#32770"))
            if (w != sheet && w != question.window && WindowText(w) == "Quorvel Setup") return true;
        return false;
    });
    Check(asked, "exit confirmation shown");
    for (HWND w : setup.Windows("#32770")) {
        if (w != sheet && w != question.window && WindowText(w) == "Quorvel Setup")
            PostMessageA(GetDlgItem(w, IDOK), BM_CLICK, 0, 0);
    }
    WaitFor([&] { return !IsWindow(sheet); }, 5000);
    Check(!IsWindow(sheet), "wizard closed");
    // The program still waits for its worker, which waits for the answer.
    Check(WaitForSingleObject(setup.process.hProcess, 500) == WAIT_TIMEOUT,
          "program waits for the worker");
    // Meanwhile the single-instance guard still holds.
    Setup second;
    Check(second.Start(exe), "second copy starts");
    CheckEq(second.WaitExit(10000), 0, "second copy exits at once while the worker runs");
    if (IsWindow(question.window)) PostMessageA(GetDlgItem(question.window, IDYES), BM_CLICK, 0, 0);
    CheckEq(setup.WaitExit(), 0, "exit code");
    int kept = 0;
    for (const Entry& e : manifest)
        if (!HasStamp(Destination(e, kDefaultDir))) ++kept;
    CheckEq(kept + 1 >= static_cast<int>(manifest.size()), true,
            "no entry after the question written (" + std::to_string(kept) + " kept)");
    CheckNotLaunched();
}

// The previous folder still exists but can't be used (hidden): the
// failure, then the install-folder page with that folder, for good; a new
// folder there installs (the group page still passes itself over).
void UpdateUnusableFolder(const std::string& exe) {
    Check(SetFileAttributesA(kDefaultDir, FILE_ATTRIBUTE_HIDDEN) != 0 &&
              (GetFileAttributesA(kDefaultDir) & FILE_ATTRIBUTE_HIDDEN) != 0,
          "hide the previous folder");
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup Error",
           "Can't create specified folder. Please check your choice and try again.", IDOK,
           "folder failure");
    if (!WaitPage(sheet, 2, "the install-folder page shows after the failure")) return;
    CheckEq(Item(sheet, IDC_FOLDER_EDIT), kDefaultDir, "the failed folder in the edit box");
    Press(sheet, PSBTN_BACK);
    WaitPage(sheet, 1, "back to the licence");
    Next(sheet, 2, "the install-folder page shows for the rest of the run");
    SetItem(sheet, IDC_FOLDER_EDIT, "C:\\Moved\\Quorvel");
    Next(sheet, 4, "group page passed over, progress");
    // The screen saver in the Windows directory is the previous one's.
    Answer(setup, "creating: " + FileName(ScreenSaverName()), kOverwrite, IDYES,
           "overwrite question");
    CheckFinished(sheet);
    Close(setup, sheet);
    CheckFiles("C:\\Moved\\Quorvel");
    CheckReg(kProductKey, "InstallDir", "C:\\Moved\\Quorvel");
    CheckLaunched();
}

// Two existing files that this program holds open, older than the release
// stamp so that nobody is asked: one shared for nobody (the setup can't
// even look at it), one shared for reading (it can look but not write);
// and a read-only one (which Wine, running as root, would let a program
// write, but the setup replaces no such file). The one error warning, all
// three left as they were, every other file installed.
void LockedFiles(const std::string& exe) {
    std::string dir = kDefaultDir;
    CreateDirectoryA(dir.c_str(), nullptr);
    const struct {
        std::string path;
        DWORD share;
        bool readOnly;
    } held[] = {{dir + "\\" + FileName(manifest.front().name), 0, false},
                {dir + "\\" + FileName(manifest.back().name), FILE_SHARE_READ, false},
                {dir + "\\" + FileName(manifest[1].name), 0, true}};
    const FILETIME old = Year1990();
    std::vector<HANDLE> handles;
    for (const auto& h : held) {
        Check(h.path.find(".scr") == std::string::npos, "not the screen saver: " + h.path);
        HANDLE f = CreateFileA(h.path.c_str(), GENERIC_READ | GENERIC_WRITE, h.share, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        Check(f != INVALID_HANDLE_VALUE, "hold " + h.path + " open");
        DWORD written = 0;
        WriteFile(f, "old", 3, &written, nullptr);
        SetFileTime(f, nullptr, nullptr, &old);
        if (!h.readOnly) {
            handles.push_back(f);
            continue;
        }
        CloseHandle(f);
        Check(SetFileAttributesA(h.path.c_str(), FILE_ATTRIBUTE_READONLY) != 0,
              "make " + h.path + " read-only");
    }

    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    Next(sheet, 3, "group");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "Quorvel Setup Error", kFilesError, IDOK, "files error warning");
    CheckFinished(sheet);
    Check(setup.Box() == nullptr, "no further message");
    Close(setup, sheet);
    for (HANDLE f : handles) CloseHandle(f);
    for (const Entry& e : manifest) {
        std::string path = Destination(e, dir);
        bool wasHeld = path == held[0].path || path == held[1].path || path == held[2].path;
        FILETIME t;
        long long size = -1;
        FileTimes(path, t, size);
        if (wasHeld)
            CheckEq(size, 3LL, "left as it was: " + path);
        else
            Check(HasStamp(path) && size == e.size, "installed: " + path);
    }
    CheckEq(Partials(dir), 0, "temporary files left");
    CheckReg(kProductKey, "InstallDir", dir);
    CheckNotLaunched();
}

// An update whose archive has a damaged last entry (the runner changed a
// byte of its packed data), over files older than the release stamp, so
// that nobody is asked: the one warning, the older file of the damaged
// entry left exactly as it was, every other file replaced, no temporary
// file anywhere, no launch.
void DamagedUpdate(const std::string& exe) {
    const FILETIME old = Year1990();
    TouchInstalled(kDefaultDir, &old);
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 4, "progress");
    Answer(setup, "Quorvel Setup Error", kFilesError, IDOK, "files error warning");
    CheckFinished(sheet);
    Close(setup, sheet);
    for (const Entry& e : manifest) {
        std::string path = Destination(e, kDefaultDir);
        FILETIME t;
        long long size = -1;
        FileTimes(path, t, size);
        CheckEq(size, e.size, "size of " + path);
        if (&e == &manifest.back())
            Check(CompareFileTime(&t, &old) == 0, "the damaged entry's older file kept: " + path);
        else
            Check(HasStamp(path), "replaced: " + path);
    }
    CheckEq(Partials(kDefaultDir) + Partials("C:\\windows"), 0, "temporary files left");
    CheckNotLaunched();
}

// A file of the installation is a symbolic link to a file outside the
// folder, older than the stamp (the runner made both): the installation
// replaces the link as a name and leaves the file outside as it was.
void LinkOutside(const std::string& exe) {
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    Next(sheet, 3, "group");
    Next(sheet, 4, "progress");
    CheckFinished(sheet);
    Close(setup, sheet);
    CheckFiles(kDefaultDir);
    std::ifstream outside("C:\\outside.txt", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(outside)), std::istreambuf_iterator<char>());
    CheckEq(text, "outside", "the file outside the folder");
    CheckLaunched();
}

// The setup killed while it writes its last entry, the largest, then run
// again with No to the question about the files written before it: no
// file is ever half written; the rerun writes the missing entry and
// removes the killed run's temporary file.
void KilledDuringFiles(const std::string& exe) {
    const std::string last = Destination(manifest.back(), kDefaultDir);
    const std::string before = Destination(manifest[manifest.size() - 2], kDefaultDir);
    {
        Setup setup;
        HWND sheet = StartAndFindSheet(setup, exe);
        if (!sheet) return;
        Next(sheet, 1, "licence");
        Next(sheet, 2, "folder");
        Next(sheet, 3, "group");
        Press(sheet, PSBTN_NEXT);
        // The worker waits in each progress report until the page has
        // moved its bar: with the page's thread held, it stays inside the
        // entry it writes.
        bool inLast = false;
        for (int ms = 0; ms < 30000 && !inLast; ++ms) {
            inLast = Exists(before) && Partials(kDefaultDir) > 0;
            if (!inLast) Sleep(1);
        }
        SuspendThread(setup.process.hThread);
        Check(inLast, "the last entry is being written");
        TerminateProcess(setup.process.hProcess, 1);
        WaitForSingleObject(setup.process.hProcess, Scaled(10000));
    }
    CheckEq(Partials(kDefaultDir), 1, "temporary files of the killed run");
    Check(!Exists(last), "no file for the entry being written: " + last);
    for (const Entry& e : manifest) {
        FILETIME t;
        long long size = -1;
        if (FileTimes(Destination(e, kDefaultDir), t, size))
            CheckEq(size, e.size, "whole or absent: " + e.name);
    }

    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    Next(sheet, 3, "group");
    Press(sheet, PSBTN_NEXT);
    Answer(setup, "creating: " + FileName(manifest.front().name), kOverwrite, IDNO,
           "overwrite question");
    Answer(setup, "Quorvel Setup Error", kFilesError, IDOK, "files error warning");
    CheckFinished(sheet);
    Close(setup, sheet);
    CheckFiles(kDefaultDir);
    CheckEq(Partials(kDefaultDir), 0, "temporary files after the rerun");
    CheckNotLaunched();
}

void SecondCopy(const std::string& exe) {
    Setup first;
    HWND sheet = StartAndFindSheet(first, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Setup second;
    Check(second.Start(exe), "second copy starts");
    CheckEq(second.WaitExit(10000), 0, "second copy exits with 0");
    CheckEq(PageIndex(sheet), 1, "first copy's wizard stays where it was");
    HWND foreground = GetForegroundWindow();
    DWORD pid = 0;
    GetWindowThreadProcessId(foreground, &pid);
    CheckEq(pid, first.process.dwProcessId, "first copy in the foreground");
    Press(sheet, PSBTN_CANCEL);
    CheckEq(first.WaitExit(), 0, "first copy's exit code");
}

// The edit box and Browse button of the install-folder or program-group page.
struct FolderControls {
    int edit;
    int browse;
};
constexpr FolderControls kFolderPage = {IDC_FOLDER_EDIT, IDC_FOLDER_BROWSE};
constexpr FolderControls kGroupPage = {IDC_GROUP_EDIT, IDC_GROUP_BROWSE};

// Opens the page's folder browser and leaves it with the button id.
std::string BrowseAndPress(const Setup& setup, HWND sheet, const FolderControls& page, int id,
                           const std::string& title) {
    PostMessageA(GetDlgItem(CurrentPage(sheet), page.browse), BM_CLICK, 0, 0);
    Box browser = WaitBox(setup);
    Check(browser.window != nullptr, "folder browser opens");
    if (browser.window == nullptr) return "";
    Check(browser.text.find(title) != std::string::npos, "browser title: " + browser.text);
    PostMessageA(GetDlgItem(browser.window, id), BM_CLICK, 0, 0);
    WaitFor([&] { return !IsWindow(browser.window); }, 5000);
    Sleep(200);
    return Item(sheet, page.edit);
}

// The Browse buttons: a cancelled browser changes nothing; a chosen folder
// gets "\Quorvel" appended; a group chosen in the user's own Programs
// folder shows relative to it.
void BrowseButtons(const std::string& exe) {
    Setup setup;
    HWND sheet = StartAndFindSheet(setup, exe);
    if (!sheet) return;
    Next(sheet, 1, "licence");
    Next(sheet, 2, "folder");
    const char* folderTitle = "Select folder for Quorvel files";
    CheckEq(BrowseAndPress(setup, sheet, kFolderPage, IDCANCEL, folderTitle), kDefaultDir,
            "cancelled browser keeps the folder");
    std::string chosen = BrowseAndPress(setup, sheet, kFolderPage, IDOK, folderTitle);
    std::printf("  browsed folder: %s\n", chosen.c_str());
    Check(chosen.size() > 8 && chosen.substr(chosen.size() - 8) == "\\Quorvel" &&
              chosen != kDefaultDir && chosen.find("\\\\") == std::string::npos,
          "browsed folder + \\Quorvel: " + chosen);
    Next(sheet, 3, "group");
    const char* groupTitle = "Select Program Group for Quorvel";
    SetItem(sheet, IDC_GROUP_EDIT, "Elsewhere");
    CheckEq(BrowseAndPress(setup, sheet, kGroupPage, IDCANCEL, groupTitle), "Elsewhere",
            "cancelled browser keeps the group");
    std::string group = BrowseAndPress(setup, sheet, kGroupPage, IDOK, groupTitle);
    CheckEq(group, "Quorvel", "group browsed at the Programs folder itself");
    Press(sheet, PSBTN_CANCEL);
    Answer(setup, "Quorvel Setup", kConfirmExit, IDOK, "cancel on page 4");
    CheckEq(setup.WaitExit(), 0, "exit code");
    CheckNotLaunched();
}

std::string FileTimeText(const std::string& path) {
    FILETIME t, local;
    long long size = 0;
    if (!FileTimes(path, t, size)) return "missing";
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&t, &local);
    FileTimeToSystemTime(&local, &st);
    char text[96];
    std::snprintf(text, sizeof(text), "%lld bytes, %04d-%02d-%02d %02d:%02d:%02d", size, st.wYear,
                  st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    return text;
}

// Every value of an HKEY_LOCAL_MACHINE key in one view, with its type.
void PrintValues(const std::string& key, REGSAM view, const char* label) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS) {
        std::printf("  %s  (not in the %s)\n", key.c_str(), label);
        return;
    }
    std::printf("  %s  (%s):\n", key.c_str(), label);
    for (DWORD i = 0;; ++i) {
        char name[256], data[2048];
        DWORD nameSize = sizeof(name), dataSize = sizeof(data) - 1, type = 0;
        if (RegEnumValueA(h, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        data[dataSize] = '\0';
        if (type == REG_DWORD && dataSize == 4) {
            DWORD v = 0;
            std::memcpy(&v, data, 4);
            std::printf("    \"%s\" REG_DWORD = %lu\n", name, static_cast<unsigned long>(v));
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::printf("    \"%s\" %s = \"%s\"\n", name,
                        type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ", data);
        } else {
            std::printf("    \"%s\" type %lu, %lu bytes\n", name, static_cast<unsigned long>(type),
                        static_cast<unsigned long>(dataSize));
        }
    }
    RegCloseKey(h);
}

// Prints where an installation put everything (no checks).
void Report() {
    std::string dir, group, value;
    RegValue(kProductKey, "InstallDir", dir);
    RegValue(kProductKey, "ShellFolder", group);
    std::printf("Files:\n");
    for (const Entry& e : manifest) {
        std::string path = Destination(e, dir);
        std::printf("  %s  (%s)\n", path.c_str(), FileTimeText(path).c_str());
    }
    std::string scr = FileName(ScreenSaverName());
    std::string appPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + scr;
    std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
    const std::pair<std::string, const char*> values[] = {{kProductKey, "InstallDir"},
                                                          {kProductKey, "ShellFolder"},
                                                          {appPaths, ""},
                                                          {appPaths, "Path"}};
    std::printf("Registry (HKEY_LOCAL_MACHINE; the 32-bit view is SOFTWARE\\WOW6432Node):\n");
    const std::pair<REGSAM, const char*> views[] = {{KEY_WOW64_32KEY, "32-bit view"},
                                                    {KEY_WOW64_64KEY, "64-bit view"}};
    for (const auto& [key, name] : values) {
        bool found = false;
        for (const auto& [view, label] : views) {
            if (!RegValue(key.c_str(), name, value, view)) continue;
            std::printf("  %s  \"%s\" = \"%s\"  (%s)\n", key.c_str(), *name ? name : "(default)",
                        value.c_str(), label);
            found = true;
        }
        if (!found)
            std::printf("  %s  \"%s\" (not set)\n", key.c_str(), *name ? name : "(default)");
    }
    for (const auto& [view, label] : views) PrintValues(uninstall, view, label);
    std::printf("Links:\n");
    for (const char* name : {"Quorvel Help.Lnk", "Quorvel Settings.Lnk"}) {
        std::string path = std::string(kProgramsDir) + "\\" + group + "\\" + name;
        Link link = ReadLink(path);
        if (group.empty() || !link.ok) {
            std::printf("  %s: none\n", name);
            continue;
        }
        std::printf("  %s\n    target %s %s\n", path.c_str(), link.path.c_str(),
                    link.arguments.c_str());
    }
    auto launches = ReadLaunches();
    if (launches.empty()) std::printf("Final launch: (none recorded)\n");
    for (const auto& launch : launches) {
        std::printf("Final launch: %s\n", Field(launch, "command line").c_str());
        std::printf("  by %s with %s in %s\n", Field(launch, "program").c_str(),
                    Field(launch, "library").c_str(), Field(launch, "directory").c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: driver SCENARIO SETUP_EXE MANIFEST [SHOT_DIR]\n");
        return 2;
    }
    std::string scenario = argv[1], exe = argv[2];
    if (argc > 4) shotDir = argv[4];
    // Sizes as the setup, which is aware of the DPI, sees them.
    SetProcessDPIAware();
    CoInitialize(nullptr);
    Check(LoadManifest(argv[3]), "manifest with a screen-saver entry");
    Check(kWow64 == IsWow64(), "a 32-bit setup runs on 64-bit Windows");
    if (scenario != "report") DeleteFileA(kLaunchLog);
    if (scenario == "first")
        FirstInstallation(exe);
    else if (scenario == "update")
        Update(exe);
    else if (scenario == "update-backward")
        UpdateBackward(exe);
    else if (scenario == "no-shortcuts")
        NoShortcuts(exe);
    else if (scenario == "folder-checks")
        FolderChecks(exe);
    else if (scenario == "blocked-folder")
        BlockedFolder(exe);
    else if (scenario == "overwrite-yes")
        Overwrite(exe, true);
    else if (scenario == "overwrite-no")
        Overwrite(exe, false);
    else if (scenario == "high-dpi")
        HighDpi(exe);
    else if (scenario == "cancel-early")
        CancelEarly(exe);
    else if (scenario == "cancel-files")
        CancelDuringFiles(exe);
    else if (scenario == "update-unusable")
        UpdateUnusableFolder(exe);
    else if (scenario == "locked-files")
        LockedFiles(exe);
    else if (scenario == "damaged-update")
        DamagedUpdate(exe);
    else if (scenario == "link-outside")
        LinkOutside(exe);
    else if (scenario == "killed-files")
        KilledDuringFiles(exe);
    else if (scenario == "second-copy")
        SecondCopy(exe);
    else if (scenario == "blocked-cancel")
        BlockedThenCancel(exe);
    else if (scenario == "browse")
        BrowseButtons(exe);
    else if (scenario == "report")
        Report();
    else
        Check(false, "unknown scenario " + scenario);
    CheckNothingPlantedRan();
    CoUninitialize();
    std::printf("%s %s\n", failures == 0 ? "PASS" : "FAIL", scenario.c_str());
    return failures == 0 ? 0 : 1;
}
