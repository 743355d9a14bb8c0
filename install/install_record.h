// What the installation work shares with the page that drives it: the
// private messages by which the two workers report, and the record through
// which they hand back their results. The client owns the record and keeps
// it alive while a worker runs.
#pragma once

#include <atomic>

#include "base/ansi_string.h"

// All sent with SendMessageA (the worker waits for the page); wParam is 0.
// lParam: percentage of the file phase done, 0..100.
constexpr unsigned WM_SETUP_PROGRESS = 0x8001;  // WM_APP + 1
// lParam: ExtractResult (0 when the extraction ended without error).
constexpr unsigned WM_SETUP_FILES_DONE = 0x8003;  // WM_APP + 3
// lParam: 1 when the group folder could not be created, else 0.
constexpr unsigned WM_SETUP_DONE = 0x8103;  // WM_APP + 259

struct InstallRecord {
    // Written by the file worker's constructor, before its thread starts.
    AnsiString installedDir;
    // Written by the file worker thread only; read on the user-interface
    // thread after WM_SETUP_FILES_DONE arrived or after the wizard closed.
    AnsiString screenSaverPath;
    // Raised on the user-interface thread when the user leaves the wizard
    // while the file worker runs; the worker thread reads it before every
    // entry and then writes no further one. The one value both threads
    // touch at any time.
    std::atomic<bool> cancelRequested{false};
};
