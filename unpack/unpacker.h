// The decompressor of packed entries (method version 20): bit input and
// canonical Huffman tables, LZ decoding in a 1 MB window, and multimedia
// (delta-predicted) decoding. One process-wide state, fixed arrays only.
#pragma once

#include <cstdint>

class TAbstractStream;

constexpr int32_t kWindowSize = 0x100000;
constexpr int32_t kWindowMask = kWindowSize - 1;

struct Unpacker {
    // Set by the extraction driver before each entry.
    TAbstractStream* InStream = nullptr;   // the archive, at the entry's packed data
    TAbstractStream* OutStream = nullptr;  // the file being written
    uint8_t* Window = nullptr;             // the run's 1 MB window (also the stored-copy buffer)
    int32_t ChecksumKind = 2;              // 1 old format, 2 CRC-32
    int32_t PackedRemaining = 0;
    int32_t OutputLeft = 0;
    uint32_t EntryChecksum = 0;
    bool DiscardOutput = false;
    bool SkipChecksum = false;
    // ... the decoder's own fields follow (bit input, tables, LZ and
    // multimedia state).
};

extern Unpacker Unp;

// Decodes the current packed entry into OutStream; solid continues the
// previous entry's state.
void UnpackEntry(uint8_t* window, bool solid);
// Copies the current stored entry (method 0x30) to OutStream.
void CopyStored();
