// The archive's block format, for the reader and the writer: the signature,
// the headers' sizes and field offsets, the block types, the flags, the
// methods and attributes the system looks at, and the decoded headers.
// Every number is little-endian.
#pragma once

#include <cstdint>

#include "base/ansi_string.h"

// ArchiveFormat: none found, the old format (recognised, its blocks not
// read), the current one (format version 2.0).
constexpr int32_t kFormatNone = 0;
constexpr int32_t kFormatOld = 1;
constexpr int32_t kFormatCurrent = 2;

// The signature: 'R' or 'r', then these six bytes.
constexpr int32_t kMarkSize = 7;
constexpr uint8_t kMarkTail[6] = {'a', 'r', '!', 0x1A, 0x07, 0x00};
// The old format's signature, the start of its 7-byte main header.
constexpr uint8_t kOldMark[4] = {'R', 'E', '~', '^'};

// Fixed parts of the headers, in bytes. Every block begins with the first
// kBlockHeadFixed bytes of a file header (HeadCrc, HeadType, HeadFlags,
// HeadSize); a block with data carries its size where PackSize is.
constexpr int32_t kBlockHeadFixed = 7;
constexpr int32_t kMainHeadFixed = 13;
constexpr int32_t kOldMainHeadFixed = 7;
constexpr int32_t kFileHeadFixed = 32;

// Field offsets shared by every header.
constexpr int32_t kAtHeadCrc = 0;
constexpr int32_t kAtHeadType = 2;
constexpr int32_t kAtHeadFlags = 3;
constexpr int32_t kAtHeadSize = 5;
// The header checksum covers the header from its type byte on.
constexpr int32_t kHeadCrcCovers = kAtHeadType;
// The main header's reserved fields.
constexpr int32_t kAtReserved1 = 7;
constexpr int32_t kAtReserved2 = 9;
// The file header's fields; the name follows the fixed part.
constexpr int32_t kAtPackSize = 7;  // also a data block's size
constexpr int32_t kAtUnpSize = 11;
constexpr int32_t kAtHostOs = 15;
constexpr int32_t kAtFileCrc = 16;
constexpr int32_t kAtFileTime = 20;
constexpr int32_t kAtUnpVer = 24;
constexpr int32_t kAtMethod = 25;
constexpr int32_t kAtNameSize = 26;
constexpr int32_t kAtFileAttr = 28;
// The old main header's fields after its signature.
constexpr int32_t kAtOldHeadSize = 4;
constexpr int32_t kAtOldHeadFlags = 6;

// Block types the system looks at; every other type is passed over.
constexpr uint8_t kMainHeadType = 0x73;
constexpr uint8_t kFileHeadType = 0x74;
constexpr uint8_t kSubBlockType = 0x77;
// FindNextBlock's request: a block type, plus this flag to stop at a
// sub-block of the type asked for last.
constexpr int32_t kSubBlockSearch = 0x8000;

// HeadFlags.
constexpr uint16_t kFlagHasData = 0x8000;       // every block: data follows the header
constexpr uint16_t kFlagSolidArchive = 0x0008;  // main header
constexpr uint16_t kFlagSplitBefore = 0x0001;   // file header: continued from a previous volume
constexpr uint16_t kFlagSolidEntry = 0x0010;    // file header: continues the decoder's state
// The old main header's flags that carry over into the current ones.
constexpr uint8_t kOldFlagMask = 0x3F;

// Methods: stored, or packed with one of five levels.
constexpr uint8_t kMethodStored = 0x30;
constexpr uint8_t kMethodFastest = 0x31;
constexpr uint8_t kMethodNormal = 0x33;
constexpr uint8_t kMethodBest = 0x35;
// Method versions (UnpVer): the range the driver accepts, the first whose
// packed data this decoder reads, and the one the writer stamps.
constexpr uint8_t kUnpVerOldest = 13;
constexpr uint8_t kUnpVerPacked = 16;
constexpr uint8_t kUnpVerNewest = 20;

// File attributes (FileAttr): entries that produce no file, and the usual
// mark of a file.
constexpr uint32_t kAttrVolumeLabel = 0x08;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
// HostOs of the entries this system writes.
constexpr uint8_t kHostWin32 = 2;

// The checksum kinds of entries: the old format's 16-bit sum, and CRC-32.
constexpr int32_t kChecksumOld = 1;
constexpr int32_t kChecksumCrc32 = 2;

// A header's stored HeadCrc from the CRC-32 register after its covered
// bytes (started at all ones, not yet inverted).
constexpr uint16_t HeadCrcOf(uint32_t crcRegister) {
    return static_cast<uint16_t>(~crcRegister & 0xFFFF);
}

// The decoded headers.
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
