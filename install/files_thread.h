// The file extraction worker: creates the installation folder on the
// calling thread, then extracts the embedded archive on a thread of its own
// and reports to the progress page with WM_SETUP_PROGRESS and, once,
// WM_SETUP_FILES_DONE.
#pragma once

#include <cstdint>

#include <windows.h>

#include "base/ansi_string.h"
#include "install/install_record.h"
#include "install/worker_thread.h"

// The user's answer to the one overwrite question of the process.
enum OverwriteAnswer : int32_t { NotAsked = 0, OverwriteAll = 1, KeepAll = 2 };
// Process-wide; only the worker thread reads and writes it. Never reset.
extern OverwriteAnswer overwriteAnswer;

// The fixed whole of the progress percentage.
constexpr int32_t ProgressTotalBytes = 1700000;

// part * 100 / whole in 32-bit arithmetic, clamped to 100; 0 for whole 0.
int32_t PercentOf(int32_t part, int32_t whole);

class TProcessFilesThread {
public:
    int32_t currentEntrySize = 0;
    int32_t completedBytes = 0;
    HWND pageWindow = nullptr;
    AnsiString targetFolder;
    // 1 when the installation folder could not be created (or was empty,
    // or the thread would not start): nothing runs and nothing is sent.
    int32_t folderFailed = 0;

    // Where the worker leaves installedDir and screenSaverPath, and where it
    // reads cancelRequested; the caller's, outliving this object.
    InstallRecord* record = nullptr;

    // Creates the folder chain and, on success, starts the worker thread.
    TProcessFilesThread(HWND page, const AnsiString& folder, InstallRecord& results);
    // Waits for the thread without a time limit. Never call it from inside
    // one of the worker's sends.
    ~TProcessFilesThread() { thread.Join(); }
    TProcessFilesThread(const TProcessFilesThread&) = delete;
    TProcessFilesThread& operator=(const TProcessFilesThread&) = delete;

    // The driver's hooks; context is the worker.
    static void ReportProgress(void* context, int32_t done, int32_t total);
    static void ResolveDestination(void* context, const AnsiString& entryName,
                                   AnsiString& destination);
    // The user left the wizard (cancelRequested): the run stops before its
    // next entry.
    static bool StopRequested(void* context);

    // Joined by the destructor before any other member goes.
    TWorkerThread thread;

private:
    void RunExtraction();
};
