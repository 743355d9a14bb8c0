// What an extraction run tells its client: one result code and the
// client's optional hooks. A hook whose function is null is not installed
// and is not called; the context goes back to the client unchanged as the
// first argument. The client installs the hooks before a run and clears
// them after it, never during it.
#pragma once

#include <cstdint>

#include "base/ansi_string.h"

enum ExtractCode : int32_t {
    kExtractOk = 0,
    kExtractBadVersion = 1,      // UnpVer below 13 or above 20
    kExtractNoResource = 2,      // the archive could not be opened
    kExtractBadEntry = 3,        // entry checksum mismatch
    kExtractNoMemory = 8,        // the 1 MB window could not be taken
    kExtractNotArchive = 9,      // no signature
    kExtractBadFileHeader = 10,  // file header checksum mismatch
    kExtractNoDestination = 11,  // empty destination, Create failed, or the run was stopped
};

using ErrorTextHook = void (*)(void* context, const char* text);
using StatusTextHook = void (*)(void* context, const char* text);
using ProgressHook = void (*)(void* context, int32_t done, int32_t total);
// An empty destination: the entry is not written (its file is kept, or its
// name is not one to write under).
using DestinationNameHook = void (*)(void* context, const AnsiString& entryName,
                                     AnsiString& destination);
// True once the client wants the run to stop: no further entry is written.
using StopRequestHook = bool (*)(void* context);

template <typename F>
struct Hook {
    F Function = nullptr;
    void* Context = nullptr;
};

// The result code and the hooks, part of every run's record.
struct RunReports {
    // The last failure; the run never resets it.
    int32_t ExtractResult = kExtractOk;
    Hook<ErrorTextHook> OnErrorText;
    Hook<StatusTextHook> OnStatusText;
    Hook<ProgressHook> OnProgress;
    Hook<DestinationNameHook> OnDestinationName;
    Hook<StopRequestHook> OnStopRequest;
};

void NotifyStatusText(const RunReports& reports, const char* text);
void NotifyErrorText(const RunReports& reports, const char* text);
// OnProgress(context, total - outputLeft, total), wrapping like 32-bit
// arithmetic for sizes of 2^31 and more.
void NotifyProgress(const RunReports& reports, int32_t outputLeft, uint32_t total);
// Whether OnStopRequest is installed and asks to stop.
bool StopRequested(const RunReports& reports);
