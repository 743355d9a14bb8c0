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

// The run record of the fuzz targets, one for the process as in the setup.
inline ExtractRun& TheRun() {
    static ExtractRun* run = new ExtractRun;
    return *run;
}

// Everything that one run leaves to the next goes back to what a fresh
// program has: the reader's, the driver's and the decoder's state (the
// reset that every extraction run starts with), and the client's.
inline void FreshProcessState() {
    ExtractRun& run = TheRun();
    ResetRunState(run);
    static_cast<RunReports&>(run) = RunReports();
}

inline void UseAsArchive(const uint8_t* data, size_t size) {
    // An empty input is a readable archive of nothing, not a missing one.
    static const uint8_t kEmpty = 0;
    RegisterResource("ARC", "#101", size != 0 ? data : &kEmpty, static_cast<int32_t>(size));
}

// One extraction run over the archive resource into target; every entry
// goes where destination says.
inline void ExtractInto(TMyFileStream& target, DestinationNameHook destination) {
    ExtractRun& run = TheRun();
    TMyResourceStream archive;
    run.ArchiveName = "#101";
    run.ArchiveStream = &archive;
    run.TargetStream = &target;
    run.OnDestinationName = {destination, nullptr};
    ExtractArchive(run);
    run.OnDestinationName = {};
    run.ArchiveStream = nullptr;
    run.TargetStream = nullptr;
    ReleaseBuffers(run);
}

}  // namespace qvfuzz
