// The decompressor of packed entries (method version 20): bit input and
// canonical Huffman tables, LZ decoding in a 1 MB window, and multimedia
// (delta-predicted) decoding. One process-wide state, fixed arrays only.
#pragma once

#include <cstdint>

#include "unpack/method20.h"

class TAbstractStream;

constexpr int32_t kWindowSize = 0x100000;
constexpr int32_t kWindowMask = kWindowSize - 1;

// Packed input is read in pieces of this size; a refill keeps the last 32
// bytes, so a symbol that straddles two pieces stays whole.
constexpr int32_t kInputSize = 8192;
constexpr int32_t kInputKeep = 32;
// Room after the buffer so that no peek can leave the array, whatever a
// damaged stream does (a peek reads up to 4 bytes; the refill points keep
// the read position below kInputSize).
constexpr int32_t kInputSpare = 16;
// Refill points: before a decoding step, at the start of a code-table
// block, before each code-length symbol.
constexpr int32_t kRefillStep = 8162;
constexpr int32_t kRefillTables = 8167;
constexpr int32_t kRefillLengths = 8187;
// A damaged stream may read on through stale buffer bytes; decoding of the
// entry ends once this many bytes beyond its real packed data are consumed.
constexpr int32_t kOverrunLimit = 32;

// Codes of up to this many bits decode with one lookup.
constexpr int kFastBits = 10;
constexpr uint16_t kFastSlow = 0xFFFF;

// A canonical-Huffman decode table. The limits and starts define the code;
// Fast is derived from them at build time and gives the same symbol and
// length for every code of kFastBits bits or less.
struct HuffmanTable {
    int32_t SymbolCount;
    int32_t LengthLimit[16];
    int32_t LengthStart[16];
    int32_t SortedSymbols[kLiteralSymbols];  // the largest alphabet
    uint16_t Fast[1 << kFastBits];           // symbol << 4 | length, or kFastSlow
};

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

    // Bit input.
    uint8_t InputBuffer[kInputSize + kInputSpare];
    int32_t InputPos;
    int32_t BitOffset;
    int32_t InputEnd;
    // Overrun guard: packed bytes delivered for this entry, the count of
    // them that lie before InputBuffer[0], and the step-top test position
    // (the refill point or the overrun point, whichever comes first).
    int64_t PackedDelivered;
    int64_t InputBase;
    int32_t StepCheckPos;

    // Decode tables and code-table block state.
    HuffmanTable LiteralTable;
    HuffmanTable DistanceTable;
    HuffmanTable RepeatLengthTable;
    HuffmanTable PreTable;
    HuffmanTable AudioTables[kMaxChannels];
    uint8_t PreviousLengths[kMaxTableSize];
    bool AudioMode;
    int32_t ChannelCount;
    int32_t CurrentChannel;

    // LZ state.
    int32_t WindowPos;
    int32_t FlushedPos;
    int32_t RecentDistances[4];
    int32_t RecentIndex;
    int32_t PrevMatchLength;
    int32_t PrevMatchDistance;

    // Multimedia state.
    ChannelPredictor Predictors[kMaxChannels];
    int32_t CrossDelta;
};

extern Unpacker Unp;

// Decodes the current packed entry into OutStream; solid continues the
// previous entry's state.
void UnpackEntry(uint8_t* window, bool solid);
// Copies the current stored entry (method 0x30) to OutStream.
void CopyStored();

// The steps of the decoder, open to tests.
int32_t ReadPacked(uint8_t* destination, int32_t count);
void FillInput(bool first);
uint32_t PeekBits();
void SkipBits(int32_t n);
void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count);
int32_t DecodeSymbol(const HuffmanTable& table);
void ReadCodeTables();
void StartEntry(bool solid);
void CopyMatch(int32_t length, int32_t distance);
void FlushWindow();
int32_t EmitOutput(const uint8_t* data, int32_t count);
void ReadTrailingTables();
uint8_t PredictByte(int32_t delta);
