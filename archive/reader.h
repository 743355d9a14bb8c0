// The archive's block format: signature detection, main and file headers,
// the block walk, and the two checksums of the system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/ansi_string.h"
#include "archive/streams.h"

struct MainHeaderRecord {
    uint16_t HeadCrc = 0;
    uint8_t HeadType = 0;
    uint16_t HeadFlags = 0;
    uint16_t HeadSize = 0;
    uint16_t Reserved1 = 0;
    uint32_t Reserved2 = 0;
};

struct OldMainHeaderRecord {
    uint8_t Mark[4] = {};
    uint16_t HeadSize = 0;
    uint8_t HeadFlags = 0;
};

struct FileHeaderRecord {
    uint16_t HeadCrc = 0;
    uint8_t HeadType = 0;
    uint16_t HeadFlags = 0;
    uint16_t HeadSize = 0;
    uint32_t PackSize = 0;
    uint32_t UnpSize = 0;
    uint8_t HostOs = 0;
    uint32_t FileCrc = 0;
    uint32_t FileTime = 0;
    uint8_t UnpVer = 0;
    uint8_t Method = 0;
    uint16_t NameSize = 0;
    uint32_t FileAttr = 0;
    AnsiString FileName;
};

struct BlockHeaderRecord {
    uint16_t HeadCrc = 0;
    uint8_t HeadType = 0;
    uint16_t HeadFlags = 0;
    uint16_t HeadSize = 0;
    uint32_t DataSize = 0;
};

// Block types and flags the system looks at.
constexpr uint8_t kMainHeadType = 0x73;
constexpr uint8_t kFileHeadType = 0x74;
constexpr uint8_t kSubBlockType = 0x77;
constexpr int32_t kSubBlockSearch = 0x8000;
constexpr uint16_t kFlagHasData = 0x8000;
constexpr uint16_t kFlagSolidArchive = 0x0008;  // main header
constexpr uint16_t kFlagSplitBefore = 0x0001;   // file header
constexpr uint16_t kFlagSolidEntry = 0x0010;    // file header

// Process-wide reader state (one run at a time).
extern int32_t ArchiveFormat;  // 0 none, 1 old, 2 current
extern MainHeaderRecord MainHeader;
extern OldMainHeaderRecord OldMainHeader;
extern int32_t MainFixedSize;
extern bool SolidArchive;
extern FileHeaderRecord FileHeader;
extern BlockHeaderRecord BlockHeader;
extern int32_t BlockStart;
extern int32_t NextBlockStart;
extern uint8_t LastRequestedType;
extern uint32_t HeaderCrcAcc;
extern uint8_t* ScanBuffer;  // only held inside DetectArchive's scan
// The stream the archive is read from: constructed (closed) by the client,
// opened and closed by the extraction driver, read by the reader.
extern TAbstractStream* ArchiveStream;

extern uint32_t CrcTable[256];

// Whether long runs take the CRC by carry-less multiplication: set at
// start-up when the processor has it; else (and for the rest of a run)
// the table steps serve. Tests clear it to run the table steps.
extern bool CrcByFolding;

void BuildCrcTable();
uint32_t UpdateCrc32(uint32_t crc, const void* data, int32_t count);
uint16_t UpdateOldChecksum(uint16_t sum, const void* data, int32_t count);
uint32_t UpdateChecksum(uint32_t start, const void* data, int32_t count, int32_t kind);

// Clears the reader's state to that of a fresh process and frees ScanBuffer
// (ArchiveStream and CrcTable stay).
void ResetReader();
// The run's two large buffers, the decoder window and the signature-scan
// buffer, come from TakeRunBuffer: zero-filled, released with std::free,
// nullptr when memory is short. Tests make one fail through
// RunBufferRefused (asked with the size); unset, it costs one test.
extern bool (*RunBufferRefused)(size_t size);
uint8_t* TakeRunBuffer(size_t size);

bool DetectArchive();
int32_t ParseHeader(uint8_t type);
int32_t FindNextBlock(int32_t request);

// Seeks ArchiveStream to an absolute position; a position outside the
// archive puts the stream at its end, so that the walk ends there with
// "Unexpected end of file" instead of reading blocks out of the middle of
// another block's data.
void SeekOrEnd(int32_t position);
