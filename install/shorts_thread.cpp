#include "install/shorts_thread.h"

#include <shlobj.h>
#include <stdlib.h>

#include "base/path_buffer.h"
#include "install/file_system.h"
#include "install/paths.h"
#include "install/registry.h"

AnsiString shortcutDir;
AnsiString groupRelativePath;

// The three COM identifiers used here. Taking them from the system's uuid
// library would link that library's whole table of several thousand
// identifiers (about 40 KB). A program that needs more of that table must
// drop these (the linker reports the duplicates).
extern "C" {
extern const CLSID CLSID_ShellLink = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern const IID IID_IShellLinkA = {
    0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern const IID IID_IPersistFile = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

namespace {

// True when path is prefix followed by a separator and at least one more
// character; letter case is ignored as the file system ignores it.
bool IsBelow(const AnsiString& path, const AnsiString& prefix) {
    if (prefix.empty() || path.size() <= prefix.size() + 1) return false;
    if (!IsPathSeparator(path[prefix.size()])) return false;
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path.c_str(),
                          static_cast<int>(prefix.size()), prefix.c_str(),
                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

// Deletes an old link; the shell hears of it so that open views drop it.
void DeleteOldLink(const AnsiString& link) {
    if (DeleteFileA(link.c_str())) SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA, link.c_str(), nullptr);
}

}  // namespace

HRESULT CreateShortcut(const AnsiString& target, const AnsiString& linkPath,
                       const AnsiString& description, const AnsiString& arguments,
                       const AnsiString& iconPath) {
    // A long link path gets a buffer that fits rather than a failed
    // conversion that would leave the buffer undefined.
    int needed = MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, nullptr, 0);
    int capacity = needed > kPathBuffer ? needed : kPathBuffer;
    WCHAR* wide = static_cast<WCHAR*>(malloc(sizeof(WCHAR) * capacity));
    if (!wide) return E_OUTOFMEMORY;

    IShellLinkA* link = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, reinterpret_cast<void**>(&link));
    if (SUCCEEDED(result)) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            link->SetPath(target.c_str());
            link->SetDescription(description.c_str());
            if (!arguments.empty()) link->SetArguments(arguments.c_str());
            if (!iconPath.empty()) link->SetIconLocation(iconPath.c_str(), 0);
            if (MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, capacity) > 0) {
                result = file->Save(wide, TRUE);
            } else {
                result = HRESULT_FROM_WIN32(GetLastError());
            }
            file->Release();
        }
        link->Release();
    }
    free(wide);
    return result;
}

TProcessShortsThread::TProcessShortsThread(HWND page, const AnsiString& groupPath,
                                           const InstallRecord& results)
    : pageWindow(page), record(&results) {
    AnsiString folder = groupPath;
    AnsiString existing;
    if (EnsureDirectoryChain(folder, existing)) {
        shortcutDir = folder;
        AnsiString programs = FindProgramsFolder();
        // Outside the Programs folder a relative path means nothing: the
        // next run would find no group by it, so none is recorded, and an
        // older run's is removed.
        if (IsBelow(folder, programs)) {
            groupRelativePath = folder.Substr(programs.size() + 1, kPathBuffer);
            WriteShellFolder(groupRelativePath);
        } else {
            groupRelativePath = AnsiString();
            RemoveShellFolder();
        }
        auto body = [](void* self) { static_cast<TProcessShortsThread*>(self)->MakeShortcuts(); };
        if (thread.Start(body, this)) return;
    }
    // The page waits for WM_SETUP_DONE; without a thread it comes from here.
    SendMessageA(pageWindow, WM_SETUP_DONE, 0, 1);
    folderFailed = 1;
}

void TProcessShortsThread::MakeShortcuts() {
    CoInitialize(nullptr);

    AnsiString helpLink = shortcutDir + "\\Quorvel Help.Lnk";
    DeleteOldLink(helpLink);
    CreateShortcut(record->installedDir + "\\Quorvel.Hlp", helpLink, "Quorvel Help", "", "");

    // rundll32.exe by its full path: the shell would resolve the bare name
    // now, looking beside the setup first, and store what it found.
    AnsiString settingsLink = shortcutDir + "\\Quorvel Settings.Lnk";
    DeleteOldLink(settingsLink);
    AnsiString rundll32 = SystemFolderFile("rundll32.exe");
    if (!rundll32.empty())
        CreateShortcut(rundll32, settingsLink, "Quorvel Settings",
                       "desk.cpl,InstallScreenSaver " + record->screenSaverPath,
                       record->screenSaverPath);

    SendMessageA(pageWindow, WM_SETUP_DONE, 0, 0);
    CoUninitialize();
}
