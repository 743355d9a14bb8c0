// The extraction driver: extracts every entry of the archive "ARC" "#101"
// into the files that the client's destination hook names (without one:
// beside the running program). Each entry is written to a temporary file
// beside its destination, checked, stamped, and only then moved over the
// destination; a broken entry's temporary file is erased and whatever was
// at the destination stays. The outcome is ExtractResult
// (archive/reports.h).
#pragma once

#include <cstdint>

#include "archive/ansi_string.h"
#include "archive/reader.h"
#include "archive/reports.h"
#include "archive/streams.h"

// Driver state, one run at a time. The client constructs both streams
// (closed) and points these at them before the run; ArchiveStream is the
// reader's stream (archive/reader.h).
extern TMyFileStream* TargetStream;
// The decoder's 1 MB history window, zero-filled, held only during a run.
extern uint8_t* Window;

void ExtractArchive();
// Frees Window and the reader's ScanBuffer if they are still held.
void ReleaseBuffers();
// Puts the reader, the driver and the decoder into the state of a fresh
// process, buffers freed; ExtractArchive starts with it. ExtractResult, the
// hooks and the two streams belong to the client and stay as they are.
void ResetRunState();

// Where the decoder's bytes go during an entry: to TargetStream unless
// DiscardOutput, and folded into EntryChecksum (checksum kind 1 old
// format, 2 CRC-32) unless SkipChecksum.
struct EntryOutput {
    bool DiscardOutput = false;
    bool SkipChecksum = false;
    int32_t ChecksumKind = 2;
    uint32_t EntryChecksum = 0;
};
extern EntryOutput Output;
// OnDestinationName's answer; without that hook, the entry's last name
// component in the running program's folder.
AnsiString GetDestinationName(const AnsiString& entryName);
// Whether the driver decodes the entry: UnpVer 13 to 20, and packed data
// from 16 on (others end the entry with result 1).
bool VersionSupported(const FileHeaderRecord& h);
