// The install-folder and program-group pages: each proposes a default,
// offers the folder browser, and passes itself over when the previous
// installation's folder or group is still there.
#include <shlobj.h>

#include "app/page_rules.h"
#include "app/setup_state.h"
#include "app/wizard.h"
#include "base/path_buffer.h"
#include "install/file_system.h"
#include "install/registry.h"
#include "resources/resource.h"

// Shown by both pages on Next for a folder text that IsUsableFolderText
// refuses.
static const char kUnusableFolderText[] =
    "The folder name is too long or contains a character that folder names can't have "
    "(* ? \" < > | or a colon after the drive letter). Please select another path.";

bool IsExistingDirectory(const AnsiString& path) {
    // A text the file system can't hold names no folder; as a search
    // pattern it could still match one.
    if (!IsUsableFolderText(path)) return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Judged by the root of the full path itself: its drive, or its share.
bool IsLocalFixedDisk(const AnsiString& fullPath) {
    AnsiString root = RootOf(fullPath);
    return !root.empty() && GetDriveTypeA(root.c_str()) == DRIVE_FIXED;
}

// The shared rule on a folder text; an existing folder is judged, and
// taken, in its long form, as the uninstaller will see it.
static FolderVerdict JudgeFolder(const AnsiString& text, AnsiString& full) {
    SystemFolders folders = FindSystemFolders();
    FolderVerdict verdict = CheckInstallFolder(text, folders, full);
    if (verdict != FolderVerdict::Usable) return verdict;
    return CheckInstallFolder(LongPathOf(full), folders, full);
}

bool BrowseForFolder(HWND owner, const char* title, bool startAtPrograms, AnsiString& path) {
    IMalloc* allocator = nullptr;
    if (FAILED(CoGetMalloc(MEMCTX_TASK, &allocator))) return false;
    LPITEMIDLIST root = nullptr;
    if (startAtPrograms && FAILED(SHGetSpecialFolderLocation(owner, CSIDL_PROGRAMS, &root))) {
        allocator->Release();
        return false;
    }
    char displayName[kPathBuffer] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    bool chosen = false;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (item != nullptr) {
        char buffer[kPathBuffer] = {};
        if (SHGetPathFromIDListA(item, buffer)) {
            path = buffer;
            chosen = true;
        }
        allocator->Free(item);
    }
    if (root != nullptr) allocator->Free(root);
    allocator->Release();
    return chosen;
}

static void SetGroupControlsEnabled(HWND page, bool enabled) {
    EnableWindow(GetDlgItem(page, IDC_GROUP_EDIT), enabled);
    EnableWindow(GetDlgItem(page, IDC_GROUP_BROWSE), enabled);
}

static void SetBrowseIcon(HWND page, int buttonId, int iconId) {
    // The small-icon size of the system's DPI, made from the icon's larger
    // image where needed, but no larger than the button (2 pixels a side
    // to spare, as at 96 DPI): the button grows with the page's font,
    // which need not grow as the DPI does.
    HWND button = GetDlgItem(page, buttonId);
    RECT inside;
    GetClientRect(button, &inside);
    int size = (inside.right < inside.bottom ? inside.right : inside.bottom) - 4;
    if (size > GetSystemMetrics(SM_CXSMICON) || size <= 0) size = GetSystemMetrics(SM_CXSMICON);
    HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId), IMAGE_ICON, size,
                             size, LR_LOADMAP3DCOLORS);
    SendMessageA(button, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

static INT_PTR StayOnPage(HWND page, const char* text, UINT style) {
    MessageBoxA(page, text, "Quorvel Setup", style);
    return Answer(page, kStayOnPage);
}

// Install-folder page (template 103).

static INT_PTR FolderInit(HWND page) {
    // A previous folder that the rule refuses (an older version accepted
    // more) is not kept: the user chooses again.
    AnsiString previous;
    if (JudgeFolder(Setup.previousInstallDir, previous) == FolderVerdict::Usable &&
        IsExistingDirectory(previous) && IsLocalFixedDisk(previous)) {
        Setup.keepPreviousDir = true;
        Setup.installDir = previous;
        SetDlgItemTextA(page, IDC_FOLDER_EDIT, Setup.installDir.c_str());
    } else {
        Setup.installDir = FindProgramFilesFolder();
        SetDlgItemTextA(page, IDC_FOLDER_EDIT, (Setup.installDir + "\\Quorvel").c_str());
    }
    SetBrowseIcon(page, IDC_FOLDER_BROWSE, IDI_BROWSE_FOLDER);
    ShowWizardPicture(page);
    return TRUE;
}

static INT_PTR FolderActivate(HWND page) {
    SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
    if (Setup.keepPreviousDir) return Answer(page, kSkipPage);
    return FALSE;
}

// Why a folder text is refused, or nothing for a usable one.
static AnsiString FolderRefusal(FolderVerdict verdict, const AnsiString& full) {
    switch (verdict) {
        case FolderVerdict::Usable:
            return AnsiString();
        case FolderVerdict::Empty:
            // An empty folder would leave the file worker nowhere to write.
            return "Please enter the folder to install Quorvel into.";
        case FolderVerdict::Unusable:
            return kUnusableFolderText;
        case FolderVerdict::NotFullPath:
            return "Please type the full path of the folder, beginning with its drive (such as "
                   "C:\\) or with a network share (such as \\\\server\\share\\).";
        case FolderVerdict::Root:
            return "Installation to the root folder is not a good idea. Please select another "
                   "path.";
        case FolderVerdict::WindowsFolder:
        case FolderVerdict::SystemFolder:
        case FolderVerdict::ProgramFilesFolder:
            break;
    }
    return "\"" + full +
           "\" is a folder of Windows itself. Please select a folder inside it, "
           "such as \"" +
           full + "\\Quorvel\", or another path.";
}

static INT_PTR FolderNext(HWND page) {
    AnsiString full;
    AnsiString refusal = FolderRefusal(JudgeFolder(GetItemText(page, IDC_FOLDER_EDIT), full), full);
    if (!refusal.empty()) return StayOnPage(page, refusal.c_str(), MB_ICONWARNING);
    // What the setup creates and records, shown as it will be used.
    Setup.installDir = full;
    SetDlgItemTextA(page, IDC_FOLDER_EDIT, full.c_str());
    if (IsLocalFixedDisk(full)) return FALSE;
    if (MessageBoxA(page,
                    "Warning: Folder path is not on local fixed disk. Setup may fail. Do you "
                    "wish to continue?",
                    "Quorvel Setup", MB_YESNO | MB_ICONQUESTION) == IDNO) {
        return Answer(page, kStayOnPage);
    }
    return FALSE;
}

static INT_PTR FolderBrowse(HWND page) {
    AnsiString chosen;
    if (!BrowseForFolder(page, "Select folder for Quorvel files", false, chosen)) return FALSE;
    Setup.installDir = WithoutTrailingSeparator(chosen) + "\\Quorvel";
    SetDlgItemTextA(page, IDC_FOLDER_EDIT, Setup.installDir.c_str());
    return FALSE;
}

INT_PTR CALLBACK InstallFolderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return FolderInit(page);
    if (message == WM_COMMAND) {
        return LOWORD(wParam) == IDC_FOLDER_BROWSE ? FolderBrowse(page) : FALSE;
    }
    switch (NotifyCode(message, lParam)) {
        case PSN_SETACTIVE:
            return FolderActivate(page);
        case PSN_WIZNEXT:
            return FolderNext(page);
        case PSN_KILLACTIVE:
            return Answer(page, FALSE);
        case PSN_QUERYCANCEL:
            return AnswerQueryCancel(page);
        case PSN_RESET:
            return AnswerReset(page);
    }
    return FALSE;
}

// Program-group page (template 104).

static INT_PTR GroupInit(HWND page) {
    Setup.programsFolder = FindProgramsFolder();
    Setup.previousGroupExists =
        IsExistingDirectory(Setup.programsFolder + "\\" + Setup.previousGroup);
    CheckDlgButton(page, IDC_GROUP_NO_SHORTCUTS, BST_UNCHECKED);
    SetDlgItemTextA(page, IDC_GROUP_EDIT, "Quorvel");
    SetBrowseIcon(page, IDC_GROUP_BROWSE, IDI_BROWSE_GROUP);
    ShowWizardPicture(page);
    return TRUE;
}

static INT_PTR GroupActivate(HWND page) {
    SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
    if (!Setup.previousGroupExists) return FALSE;
    Setup.createShortcuts = true;
    Setup.groupPath = FindProgramsFolder() + "\\" + Setup.previousGroup;
    return Answer(page, kSkipPage);
}

// The group text is checked as the folder it will become.
static INT_PTR GroupNext(HWND page) {
    if (!Setup.createShortcuts ||
        IsUsableFolderText(FindProgramsFolder() + "\\" + GetItemText(page, IDC_GROUP_EDIT))) {
        return FALSE;
    }
    return StayOnPage(page, kUnusableFolderText, MB_ICONWARNING);
}

static INT_PTR GroupLeave(HWND page) {
    Setup.groupPath = FindProgramsFolder() + "\\" + GetItemText(page, IDC_GROUP_EDIT);
    return Answer(page, FALSE);
}

// The user's own Programs folder: the browser's root, which may differ
// from the all-users folder that the group is stored under.
static AnsiString UserProgramsFolder() {
    char buffer[kPathBuffer] = {};
    if (!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROGRAMS, FALSE)) return AnsiString();
    return buffer;
}

static INT_PTR GroupBrowse(HWND page) {
    if (!BrowseForFolder(page, "Select Program Group for Quorvel", true, Setup.groupPath)) {
        return FALSE;
    }
    Setup.groupPath += "\\Quorvel";
    // The text is relative to the Programs folder the group will be made
    // in; a folder chosen under the user's own Programs folder keeps its
    // relative name there.
    AnsiString shown;
    if (!TextBelowFolder(Setup.groupPath, Setup.programsFolder, shown) &&
        !TextBelowFolder(Setup.groupPath, UserProgramsFolder(), shown)) {
        shown = "Quorvel";
    }
    SetDlgItemTextA(page, IDC_GROUP_EDIT, shown.c_str());
    return FALSE;
}

static INT_PTR GroupCheckBox(HWND page) {
    Setup.createShortcuts = IsDlgButtonChecked(page, IDC_GROUP_NO_SHORTCUTS) != BST_CHECKED;
    SetGroupControlsEnabled(page, Setup.createShortcuts);
    return FALSE;
}

INT_PTR CALLBACK ProgramGroupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return GroupInit(page);
    if (message == WM_COMMAND) {
        if (LOWORD(wParam) == IDC_GROUP_BROWSE) return GroupBrowse(page);
        if (LOWORD(wParam) == IDC_GROUP_NO_SHORTCUTS) return GroupCheckBox(page);
        return FALSE;
    }
    switch (NotifyCode(message, lParam)) {
        case PSN_SETACTIVE:
            return GroupActivate(page);
        case PSN_WIZNEXT:
            return GroupNext(page);
        case PSN_KILLACTIVE:
            return GroupLeave(page);
        case PSN_QUERYCANCEL:
            return AnswerQueryCancel(page);
        case PSN_RESET:
            return AnswerReset(page);
    }
    return FALSE;
}
