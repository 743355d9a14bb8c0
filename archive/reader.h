// The archive reader: recognises the signature, reads the main header and
// walks the blocks after it, decoding each file header and checking its
// header checksum. Its state is the first part of a run's record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/block_format.h"
#include "archive/checksums.h"
#include "archive/reports.h"
#include "base/streams.h"

// One run over an archive: what the client gives it (the archive's name
// and stream, the hooks), and the reader's positions and headers.
struct ArchiveRun : RunReports {
    // The archive: its name for ArchiveStream's Open ("#101", the
    // setup's resource, or a file's path) and the stream, constructed
    // (closed) by the client, opened and closed by the walk. (Every field
    // starts at zero, so that a process-wide record takes no room in the
    // program file.)
    const char* ArchiveName = nullptr;
    TAbstractStream* ArchiveStream = nullptr;
    // Tests make a run buffer (window, scan buffer) fail through this
    // (asked with the size); unset, it costs one test.
    bool (*BufferRefused)(size_t size) = nullptr;

    // Reset by ResetReader; DetectArchive starts them.
    int32_t ArchiveFormat = kFormatNone;
    MainHeaderRecord MainHeader;
    OldMainHeaderRecord OldMainHeader;
    int32_t MainFixedSize = 0;
    bool SolidArchive = false;
    FileHeaderRecord FileHeader;
    BlockHeaderRecord BlockHeader;
    int32_t BlockStart = 0;
    int32_t NextBlockStart = 0;
    uint8_t LastRequestedType = 0;
    uint32_t HeaderCrcAcc = 0;
    uint8_t* ScanBuffer = nullptr;  // only held inside DetectArchive's scan
};

// Clears the reader's part of the run and frees ScanBuffer; what the
// client gives the run stays.
void ResetReader(ArchiveRun& run);
// The run's two large buffers, the decoder window and the signature-scan
// buffer: zero-filled, released with std::free, nullptr when memory is
// short (or BufferRefused says so).
uint8_t* TakeRunBuffer(const ArchiveRun& run, size_t size);

bool DetectArchive(ArchiveRun& run);
int32_t ParseHeader(ArchiveRun& run, uint8_t type);
int32_t FindNextBlock(ArchiveRun& run, int32_t request);

// Seeks ArchiveStream to an absolute position; a position outside the
// archive puts the stream at its end, so that the walk ends there with
// "Unexpected end of file" instead of reading blocks out of the middle of
// another block's data.
void SeekOrEnd(ArchiveRun& run, int32_t position);
