// The extraction run's result code and its four optional client hooks.
// A hook whose function is null is not installed and is not called; the
// context goes back to the client unchanged as the first argument.
#pragma once

#include <cstdint>

#include "archive/ansi_string.h"

enum ExtractCode : int32_t {
    kExtractOk = 0,
    kExtractBadVersion = 1,      // UnpVer below 13 or above 20
    kExtractNoResource = 2,      // "ARC" "#101" could not be opened
    kExtractBadEntry = 3,        // entry checksum mismatch
    kExtractNoMemory = 8,        // the 1 MB window could not be taken
    kExtractNotArchive = 9,      // no signature
    kExtractBadFileHeader = 10,  // file header checksum mismatch
    kExtractNoDestination = 11,  // empty destination or Create failed
};

// Last failure of the process's extraction runs; never reset by a run.
extern int32_t ExtractResult;

using ErrorTextHook = void (*)(void* context, const char* text);
using StatusTextHook = void (*)(void* context, const char* text);
using ProgressHook = void (*)(void* context, int32_t done, int32_t total);
using DestinationNameHook = void (*)(void* context, const AnsiString& entryName,
                                     AnsiString& destination);

template <typename F>
struct Hook {
    F Function = nullptr;
    void* Context = nullptr;
};

extern Hook<ErrorTextHook> OnErrorText;
extern Hook<StatusTextHook> OnStatusText;
extern Hook<ProgressHook> OnProgress;
extern Hook<DestinationNameHook> OnDestinationName;

// OnProgress(context, UnpSize - outputLeft, UnpSize) of the current entry.
void NotifyProgress(int32_t outputLeft);
void NotifyStatusText(const char* text);
void NotifyErrorText(const char* text);
