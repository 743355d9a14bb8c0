#include "install/shorts_thread.h"

AnsiString shortcutDir;
AnsiString groupRelativePath;

HRESULT CreateShortcut(const AnsiString&, const AnsiString&, const AnsiString&, const AnsiString&,
                       const AnsiString&) {
    return E_FAIL;
}

TProcessShortsThread::TProcessShortsThread(HWND page, const AnsiString&) : pageWindow(page) {
    folderFailed = 1;
}

TProcessShortsThread::~TProcessShortsThread() {}

DWORD WINAPI TProcessShortsThread::ThreadMain(LPVOID) {
    return 0;
}

void TProcessShortsThread::MakeShortcuts() {}
