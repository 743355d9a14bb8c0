// The extraction driver: extracts every entry of the run's archive into
// the files that the client's destination hook names (without one: beside
// the running program). Each entry is written to a temporary file beside
// its destination, checked, stamped, and only then moved over the
// destination; a broken entry's temporary file is erased and whatever was
// at the destination stays. The outcome is the run's ExtractResult
// (archive/reports.h).
#pragma once

#include <cstdint>

#include "archive/reader.h"
#include "base/ansi_string.h"
#include "base/streams.h"
#include "unpack/unpacker_state.h"

// Where the decoder's bytes go during an entry: to TargetStream unless
// DiscardOutput, and folded into EntryChecksum (ChecksumKind) unless
// SkipChecksum.
struct EntryOutput {
    bool DiscardOutput = false;
    bool SkipChecksum = false;
    int32_t ChecksumKind = 0;  // set per entry: kChecksumOld or kChecksumCrc32
    uint32_t EntryChecksum = 0;
};

// One extraction run: the reader's part (the archive, the hooks, the
// result code, the positions and headers), the driver's, and the
// decoder's state. The client
// constructs both streams (closed), points the record at them and at the
// archive's name, installs its hooks, and runs ExtractArchive.
struct ExtractRun : ArchiveRun {
    TMyFileStream* TargetStream = nullptr;
    // The decoder's 1 MB history window, held only during a run.
    uint8_t* Window = nullptr;
    EntryOutput Output;
    // The decoder's state; its hooks are the run's archive, target and
    // progress, installed for the run's length.
    Unpacker Decoder;
};

void ExtractArchive(ExtractRun& run);
// Frees Window and the reader's ScanBuffer if they are still held.
void ReleaseBuffers(ExtractRun& run);
// Puts the reader, the driver and the decoder into the state of a fresh
// run, buffers freed; ExtractArchive starts with it. ExtractResult, the
// hooks, the archive's name and the streams belong to the client and stay
// as they are.
void ResetRunState(ExtractRun& run);

// OnDestinationName's answer; without that hook, the entry's last name
// component in the running program's folder.
AnsiString GetDestinationName(const ExtractRun& run, const AnsiString& entryName);
// OnProgress(UnpSize - outputLeft, UnpSize) of the current entry.
void NotifyProgress(const ExtractRun& run, int32_t outputLeft);
// Whether the driver decodes the entry: UnpVer 13 to 20, and packed data
// from 16 on (others end the entry with result 1).
bool VersionSupported(const FileHeaderRecord& h);
