// Shared pieces of the fuzz targets: the state a fresh program starts
// with, and the input handed to the reader as the program's archive
// resource "ARC" "#101".
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/reader.h"
#include "archive/reports.h"
#include "base/platform.h"
#include "extract/extract.h"

namespace qvfuzz {

// Every process-wide value that one run leaves to the next goes back to
// what a fresh program has: the reader's, the driver's and the decoder's
// (the reset that every extraction run starts with), and the client's.
inline void FreshProcessState() {
    ResetRunState();
    ExtractResult = 0;
    OnErrorText = {};
    OnStatusText = {};
    OnProgress = {};
    OnDestinationName = {};
}

inline void UseAsArchive(const uint8_t* data, size_t size) {
    // An empty input is a readable archive of nothing, not a missing one.
    static const uint8_t kEmpty = 0;
    RegisterResource("ARC", "#101", size != 0 ? data : &kEmpty, static_cast<int32_t>(size));
}

// One extraction run over the archive resource into target; every entry
// goes where destination says.
inline void ExtractInto(TMyFileStream& target, DestinationNameHook destination) {
    {
        TMyResourceStream archive;
        ArchiveStream = &archive;
        TargetStream = &target;
        OnDestinationName = {destination, nullptr};
        ExtractArchive();
        OnDestinationName = {};
        ArchiveStream = nullptr;
        TargetStream = nullptr;
    }
    ReleaseBuffers();
}

}  // namespace qvfuzz
