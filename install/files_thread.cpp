#include "install/files_thread.h"

OverwriteAnswer overwriteAnswer = NotAsked;

int32_t PercentOf(int32_t part, int32_t whole) {
    // Scaling both keeps part * 100 inside 32 bits for any reachable total.
    if (part > 10000) {
        part /= 100;
        whole /= 100;
    }
    if (whole == 0) return 0;
    if (part > whole) return 100;
    return part * 100 / whole;
}

TProcessFilesThread::TProcessFilesThread(HWND page, const AnsiString& folder)
    : pageWindow(page), targetFolder(folder) {
    folderFailed = 1;
}

TProcessFilesThread::~TProcessFilesThread() {}

void TProcessFilesThread::ReportProgress(void*, int32_t, int32_t) {}

void TProcessFilesThread::ResolveDestination(void*, const AnsiString&, AnsiString& destination) {
    destination = AnsiString();
}

DWORD WINAPI TProcessFilesThread::ThreadMain(LPVOID) {
    return 0;
}

void TProcessFilesThread::RunExtraction() {}
