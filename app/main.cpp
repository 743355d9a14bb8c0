// The program body: single-instance guard, owner window, previous
// installation, the wizard, and the hand-over of the new screen saver to
// the system's display settings. Every way out ends with exit code 0.
#include <windows.h>

#include <objbase.h>

#include <cstddef>

#include "app/dll_search.h"
#include "app/setup_state.h"
#include "app/wizard.h"
#include "base/path_buffer.h"
#include "install/file_system.h"
#include "install/registry.h"
#include "resources/resource.h"

static const char kClassName[] = "Quorvel Setup";

#ifndef _WIN64
// The 32-bit product hands the system its records in their short forms.
static_assert(offsetof(PROPSHEETPAGEA, pcRefParent) + sizeof(UINT*) == 40);
static_assert(offsetof(PROPSHEETHEADERA, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK) == 40);
static_assert(sizeof(STARTUPINFOA) == 68);
#endif

static LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateMainWindow() {
    HWND other = FindWindowA(kClassName, nullptr);
    if (other != nullptr) {
        SetForegroundWindow(other);
        ExitProcess(0);
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = OwnerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, QV_MAINICON_NAME);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassA(&windowClass) == 0) ExitProcess(0);
    HWND window =
        CreateWindowExA(0, kClassName, kClassName, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
                        0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) ExitProcess(0);
    return window;
}

static bool ReadPreviousInstallation() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    ReadRegistryString(key, "InstallDir", Setup.previousInstallDir);
    ReadRegistryString(key, "ShellFolder", Setup.previousGroup);
    RegCloseKey(key);
    Setup.previousInstallFound = true;
    return true;
}

// rundll32.exe by its full path, as the program to start and quoted at the
// head of its command line: searched for by name, it would first be looked
// for beside the setup.
static void LaunchConfiguration() {
    char windowsDir[kPathBuffer] = {};
    GetWindowsDirectoryA(windowsDir, kPathBuffer);
    AnsiString program = SystemFolderFile("rundll32.exe");
    if (program.empty()) return;
    AnsiString commandLine =
        "\"" + program + "\" desk.cpl,InstallScreenSaver " + Setup.screenSaverPath;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(program.c_str(), commandLine.Buffer(commandLine.size()), nullptr, nullptr,
                       FALSE, NORMAL_PRIORITY_CLASS, nullptr, windowsDir, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

// The rich-edit library from the system folder only, by its full path, and
// the libraries that it loads in turn from there too: by the search flag
// where the system knows it, else from the library's own folder first.
static HMODULE LoadRichEdit() {
    AnsiString path = SystemFolderFile("RICHED32.DLL");
    if (path.empty()) return nullptr;
    DWORD search =
        CanSearchSystemFolderOnly() ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path.c_str(), nullptr, search);
}

static void RunWizard(HWND owner) {
    UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE richEdit = LoadRichEdit();
    if (reinterpret_cast<UINT_PTR>(richEdit) < 32) richEdit = nullptr;
    SetErrorMode(oldMode);
    InitCommonControls();
    LoadLicenceText(IDR_LICENCE);

    static const struct {
        int templateId;
        DLGPROC procedure;
    } kPages[5] = {{IDD_WELCOME, WelcomePageProc},
                   {IDD_LICENCE, LicencePageProc},
                   {IDD_INSTALL_DIR, InstallFolderPageProc},
                   {IDD_PROGRAM_GROUP, ProgramGroupPageProc},
                   {IDD_PROGRESS, ProgressPageProc}};
    // The sheet walks the page array by each record's size field, so the
    // records lie back to back in their short form.
    alignas(PROPSHEETPAGEA) unsigned char pages[5 * PROPSHEETPAGEA_V1_SIZE];
    for (int i = 0; i < 5; ++i) {
        PROPSHEETPAGEA page;
        InitPage(page, kPages[i].templateId, kPages[i].procedure);
        CopyMemory(pages + i * PROPSHEETPAGEA_V1_SIZE, &page, PROPSHEETPAGEA_V1_SIZE);
    }
    PROPSHEETHEADERA header = {};
    header.dwSize = PROPSHEETHEADERA_V1_SIZE;
    // The title bar shows the current page's title, which every page has.
    // No PSH_PROPTITLE: it means nothing to a wizard, yet a sheet may
    // format the page's title into a caption of its own with it.
    header.dwFlags = PSH_USEICONID | PSH_PROPSHEETPAGE | PSH_WIZARD | PSH_NOAPPLYNOW;
    header.hwndParent = owner;
    header.hInstance = GetModuleHandleA(nullptr);
    header.pszIcon = QV_MAINICON_NAME;
    header.pszCaption = "Quorvel installation";
    header.nPages = 5;
    header.nStartPage = 0;
    header.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);
    PropertySheetA(&header);
    ReleaseWizardPicture();

    // A worker that still runs (the user left with Cancel) is waited for
    // while the owner window still guards against a second copy, which
    // would otherwise install beside it; screenSaverPath is final only then.
    ReleaseWorkersAfterWizard();
    SendMessageA(owner, WM_CLOSE, 0, 0);
    if (Setup.launchConfiguration) LaunchConfiguration();
    if (richEdit != nullptr) FreeLibrary(richEdit);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HWND owner = CreateMainWindow();
    // The folder browser needs an apartment-threaded COM on this thread.
    bool com = SUCCEEDED(CoInitialize(nullptr));
    ReadPreviousInstallation();
    RunWizard(owner);
    DestroyWindow(owner);
    if (com) CoUninitialize();
    return 0;
}
