// The shortcut worker: creates the program group folder on the calling
// thread, records it as "ShellFolder", then makes the help and settings
// links on a COM thread of its own and sends WM_SETUP_DONE.
#pragma once

#include <cstdint>

#include <windows.h>

#include "base/ansi_string.h"
#include "install/install_record.h"
#include "install/worker_thread.h"

// Written by the constructor before the thread starts.
extern AnsiString shortcutDir;
extern AnsiString groupRelativePath;

// Creates and saves one shell link. Empty arguments or icon path leave that
// property unset. Returns the save's HRESULT, or the creation's on failure.
HRESULT CreateShortcut(const AnsiString& target, const AnsiString& linkPath,
                       const AnsiString& description, const AnsiString& arguments,
                       const AnsiString& iconPath);

class TProcessShortsThread {
public:
    HWND pageWindow = nullptr;
    // 1 when the group folder could not be created: WM_SETUP_DONE with
    // lParam 1 has been sent already and no thread runs.
    int32_t folderFailed = 0;

    // The file phase's results, read by the thread; the caller's, outliving
    // this object.
    const InstallRecord* record = nullptr;

    TProcessShortsThread(HWND page, const AnsiString& groupPath, const InstallRecord& results);
    // Waits for the thread without a time limit.
    ~TProcessShortsThread() { thread.Join(); }
    TProcessShortsThread(const TProcessShortsThread&) = delete;
    TProcessShortsThread& operator=(const TProcessShortsThread&) = delete;

    // Joined by the destructor before any other member goes.
    TWorkerThread thread;

private:
    void MakeShortcuts();
};
