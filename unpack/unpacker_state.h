// The decoder's state record and the limits of its buffers. Its owner (the
// run that extracts) includes this for the record's size; everything else
// uses the calls of unpack/unpacker.h. The field names are the format
// description's.
#pragma once

#include <cstdint>

#include "unpack/method20.h"
#include "unpack/unpacker.h"

constexpr int32_t kWindowMask = kWindowSize - 1;

// The longest step of the LZ loop reads a literal-table code, the length's
// extra bits, a distance code and the distance's extra bits.
constexpr int32_t kMaxStepBits = kMaxCodeLength + kSlots.LengthExtraBits[kRepeatLengthSymbols - 1] +
                                 kMaxCodeLength + kSlots.DistanceExtraBits[kDistanceSymbols - 1];
static_assert(kMaxStepBits == 51);
// A code-table block reads its flags and its pre-code before the first
// code-length step; a code-length step reads a pre-code code and a run count.
constexpr int32_t kMaxTableHeadBits = 2 + 2 + kPreSymbols * 4;
constexpr int32_t kMaxLengthStepBits = kMaxCodeLength + 7;
// No step writes more than a longest match with both far-distance bumps.
constexpr int32_t kMaxStepOutput =
    kSlots.LengthBase[kRepeatLengthSymbols - 1] + (1 << 5) - 1 + 3 + 2;
static_assert(kMaxStepOutput == 260);

// Running out of input, and damage: the one policy.
//
// Packed input is read in pieces into a buffer of kInputSize bytes; a refill
// keeps the last kInputKeep bytes, so a symbol that straddles two pieces
// stays whole. The format refills at three points only, when InputPos is
// past them: before a decoding step (kRefillStep), at the start of a
// code-table block (kRefillTables), before each code-length step
// (kRefillLengths). From one point to the next no read leaves the buffer.
//
// Running out: no byte past the entry's packed size is ever asked of the
// input (ReadPacked). A refill that gets nothing keeps the buffer as it was
// and sets InputEnd to InputPos; decoding then goes on over the stale bytes
// still in the buffer, exactly as if they were data, which decides what a
// damaged or cut stream produces, so the refill points are the format's,
// not ours. The decoder stops at the first step top (the one place that
// tests it, with the refill) at which it has read more than kOverrunLimit
// bytes past the packed data it was given, or when the output is complete.
// Reads between two step tops stay inside the buffer and its spare bytes.
//
// Damage: every code is accepted whatever its shape. Lengths that over- or
// under-subscribe the code space are built all the same; a code past the
// last limit takes 15 bits, and one whose index falls past the sorted
// symbols decodes as SortedSymbols[0]. Nothing is rejected and no error is
// reported: the entry's checksum is the verdict on its output.
//
// The trailing code-table block is read only when five bytes of data are
// left after the last step (the format's test against InputEnd); a stored
// entry ends when its packed data does.
constexpr int32_t kInputSize = 8192;
constexpr int32_t kInputKeep = 32;
constexpr int32_t kRefillStep = 8162;
constexpr int32_t kRefillTables = 8167;
constexpr int32_t kRefillLengths = 8187;
constexpr int32_t kOverrunLimit = 32;
constexpr int32_t kTrailingTablesBytes = 5;
// A read position after `bits` more bits, from the last bit of byte `pos`.
constexpr int32_t PosAfter(int32_t pos, int32_t bits) {
    return pos + (7 + bits) / 8;
}
// A refill moves the read position along with the kept bytes, so it must
// find the position inside them: a refill point is at least at their start,
// and what is read from one point to the next test stays in the buffer.
static_assert(kRefillStep + 1 >= kInputSize - kInputKeep);
static_assert(kRefillTables + 1 >= kInputSize - kInputKeep);
static_assert(kRefillLengths + 1 >= kInputSize - kInputKeep);
static_assert(PosAfter(kRefillStep, kMaxStepBits) < kInputSize);
static_assert(PosAfter(kRefillTables, kMaxTableHeadBits) < kInputSize);
static_assert(PosAfter(kRefillLengths, kMaxLengthStepBits) < kInputSize);
// The bit reader fetches a machine word (at most eight bytes) at a time and
// may fetch up to 15 bytes past the read position. The latest read
// position that fetches is the code-length refill point; the buffer has
// spare bytes up to there.
constexpr int32_t kReaderLookahead = 15;
constexpr int32_t kInputSpare = kRefillLengths + kReaderLookahead + 1 - kInputSize;
static_assert(kRefillStep < kRefillLengths && kRefillTables < kRefillLengths);

// The format's write-out guard: the window is flushed once fewer than this
// many bytes separate the write position from the unwritten data.
constexpr int32_t kFlushGuard = 270;
static_assert(kFlushGuard > kMaxStepOutput);
// Progress is reported when the bytes still to produce are a multiple of this.
constexpr int32_t kProgressInterval = 4096;
// A stored entry is copied through the window in pieces of this size.
constexpr int32_t kStoredPiece = 0x7F00;
static_assert(kStoredPiece <= kWindowSize);

// Codes of up to this many bits decode with one lookup.
constexpr int kFastBits = 10;
// A fast entry is symbol << kFastSymbolShift | length; the shift by the
// entry itself then takes the length (shifts use the low six bits).
constexpr int kFastSymbolShift = 6;
constexpr uint16_t kFastLengthMask = (1 << kFastSymbolShift) - 1;
static_assert(kFastBits <= kFastLengthMask && (kLiteralSymbols << kFastSymbolShift) <= 0xFFFF);
// A fast entry for longer codes; real entries have a length of 1 or more.
constexpr uint16_t kFastSlow = 0;

// A step entry: what one lookup of kFastBits bits tells an LZ step, for the
// literal table (Unpacker::LiteralSteps) and the distance table
// (DistanceSteps), derived from the same code as the table's Fast entries.
//   bits 0..5    the code's length plus the count of extra bits after it:
//                the reader skips the entry itself, code and extra bits
//                in one shift, as it skips a Fast entry;
//   bits 6..10   the count of extra bits (0..16);
//   bits 11..31  the value the extra bits are added to: a distance's base
//                + 1; a literal table's symbol, but for a match slot
//                (270..297) kStepMatch plus its length base + 3.
// 0: no entry (a longer code, or one that a reader can't take with its
// extra bits from one refill): the format's rule decodes the code, and
// LiteralStepOf or DistanceStepOf gives the entry for its symbol.
constexpr int kStepExtraShift = 6;
constexpr int kStepValueShift = 11;
constexpr uint32_t kStepMatch = 1u << 20;

constexpr uint32_t MakeStep(uint32_t value, uint32_t extra) {
    return value << kStepValueShift | extra << kStepExtraShift | extra;
}

// Each symbol's step entry less its code's length (which a table adds),
// from the slot tables (no tables of their own: the setup keeps its size).
constexpr uint32_t LiteralStepOf(int32_t s) {
    if (s < kSymbolMatchFirst) return MakeStep(static_cast<uint32_t>(s), 0);
    const int32_t slot = s - kSymbolMatchFirst;
    return MakeStep(kStepMatch + static_cast<uint32_t>(kSlots.LengthBase[slot]) + 3,
                    kSlots.LengthExtraBits[slot]);
}
constexpr uint32_t DistanceStepOf(int32_t d) {
    return MakeStep(static_cast<uint32_t>(kSlots.DistanceBase[d]) + 1, kSlots.DistanceExtraBits[d]);
}
// Every value fits above the shift, and the match flag above every length
// and below the top bit's overflow; the longest code with the most extra
// bits fits the length field.
static_assert(kSlots.DistanceBase[kDistanceSymbols - 1] + 1 < (1 << (32 - kStepValueShift)));
static_assert(kSlots.LengthBase[kRepeatLengthSymbols - 1] + 3 < kStepMatch &&
              2 * kStepMatch <= (1u << (32 - kStepValueShift)));
static_assert(kMaxCodeLength + 16 <= kFastLengthMask &&
              16 < (1 << (kStepValueShift - kStepExtraShift)));

// A canonical-Huffman decode table. The limits and starts define the code;
// Fast is derived from them at build time and gives the same symbol and
// length for every code of kFastBits bits or less (the literal and distance
// tables have step entries instead: their Fast stays all kFastSlow, as the
// reset left it, so that Decode still answers by the rule). An all-zero
// table is the empty code, as if built from zero lengths: every input
// decodes as symbol 0 in 15 bits.
struct HuffmanTable {
    int32_t SymbolCount;
    int32_t LengthLimit[16];
    int32_t LengthStart[16];
    int32_t SortedSymbols[kLiteralSymbols];  // the largest alphabet
    uint16_t Fast[1 << kFastBits];           // see kFastSymbolShift, or kFastSlow
};

// Every field starts at zero (ResetUnpacker clears the whole record). While
// an entry decodes, its loop keeps the read position, the window position
// and the output count in locals; the fields hold them between entries.
struct Unpacker {
    // Set for the run (ResetUnpacker) and per entry (UnpackEntry, CopyStored).
    UnpackHook<PackedInput> Input;
    UnpackHook<OutputSink> Output;
    UnpackHook<ProgressReport> Progress;
    uint8_t* Window = nullptr;  // the run's 1 MB window (also the stored-copy buffer)
    // What of the window holds bytes: [0, WindowFilled) at an entry's
    // start, and up to the write position while the window fills for the
    // first time; all of it once the write position has wrapped. A byte
    // past both was never written and reads as zero (a match reaching
    // there clears it first), so an entry never clears the whole window.
    int32_t WindowFilled = 0;
    int32_t PackedRemaining = 0;
    int32_t OutputLeft = 0;

    // Bit input.
    uint8_t InputBuffer[kInputSize + kInputSpare] = {};
    int32_t InputPos = 0;
    int32_t BitOffset = 0;
    int32_t InputEnd = 0;
    // Overrun guard: packed bytes delivered for this entry, the count of
    // them that lie before InputBuffer[0], and the step-top test position
    // (the refill point or the overrun point, whichever comes first).
    int64_t PackedDelivered = 0;
    int64_t InputBase = 0;
    int32_t StepCheckPos = 0;

    // Decode tables and code-table block state. TablesRead: a code-table
    // block was read since the last reset.
    HuffmanTable LiteralTable;
    HuffmanTable DistanceTable;
    uint32_t LiteralSteps[1 << kFastBits];  // step entries of the two tables
    uint32_t DistanceSteps[1 << kFastBits];
    HuffmanTable RepeatLengthTable;
    HuffmanTable PreTable;
    HuffmanTable AudioTables[kMaxChannels];
    uint8_t PreviousLengths[kMaxTableSize] = {};
    bool TablesRead = false;
    bool AudioMode = false;
    int32_t ChannelCount = 0;  // 0 until a multimedia block sets it
    int32_t CurrentChannel = 0;

    // LZ state.
    int32_t WindowPos = 0;
    int32_t FlushedPos = 0;
    int32_t RecentDistances[4] = {};
    int32_t RecentIndex = 0;
    int32_t PrevMatchLength = 0;
    int32_t PrevMatchDistance = 0;

    // Multimedia state.
    ChannelPredictor Predictors[kMaxChannels] = {};
    int32_t CrossDelta = 0;
};
