// What the decoder's sources share (private to unpack/): the bit reader,
// the work per block and per entry (entry.cpp), and the multimedia run
// (multimedia.cpp) to which the decoding loop (unpacker.cpp) hands long
// multimedia stretches. They are built apart, so that the product builds
// each for what it needs (cmake/product.cmake). Every function takes the
// state record; the reader comes back by value and goes in as a reference
// to a copy, so that the loop's reader never has its address taken and
// stays in registers. (Not in by value: a 32-bit build realigns the stack
// of a function that passes an aggregate by value, which costs the
// decoding loop its frame register.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "unpack/unpacker_state.h"

#define QV_HOT inline __attribute__((always_inline))

// The bit reader's container: a machine word, so that a 32-bit build
// keeps the bits in one register and shifts them in one instruction.
using BitWord = std::size_t;
constexpr int32_t kWordBits = 8 * sizeof(BitWord);
static_assert(kWordBits == 32 || kWordBits == 64);

// The bit reader: up to kWordBits - 1 unread bits of the stream in Bits,
// the next one in the top bit, fetched from the input buffer a word at a
// time. The read position is Next * 8 - ValidBits() bits into the buffer;
// InputPos and BitOffset follow from it whenever the reader hands its
// position back.
struct BitReader {
    const uint8_t* Buffer;
    int32_t Next;  // first buffer byte not yet counted in Bits
    // The count of valid bits in Bits (below kWordBits) is its low six
    // bits: a fast table entry is skipped whole, and its symbol bits above
    // the length only change the bits above. The bits below the valid ones
    // are 0 or the true next bits of the stream.
    uint32_t Count;
    BitWord Bits;

    // A refill leaves at least this many valid bits: all but the bits of
    // the partly counted byte.
    static constexpr int32_t kMinBits = kWordBits - 8;

    static QV_HOT BitWord Fetch(const uint8_t* p) {
        BitWord v;
        std::memcpy(&v, p, sizeof(v));
        if constexpr (kWordBits == 64)
            return __builtin_bswap64(v);
        else
            return __builtin_bswap32(v);
    }
    // Fetches the word at pos.
    QV_HOT void Start(const uint8_t* buffer, int32_t pos, int32_t bit) {
        Buffer = buffer;
        Next = pos;
        Count = 0;
        Bits = 0;
        Refill();
        Skip(bit);
    }
    QV_HOT int32_t ValidBits() const { return static_cast<int32_t>(Count & kFastLengthMask); }
    QV_HOT int32_t BitPos() const { return Next * 8 - ValidBits(); }
    QV_HOT int32_t Pos() const { return BitPos() >> 3; }
    QV_HOT int32_t Bit() const { return BitPos() & 7; }
    // Fetches a word, its last byte at most kReaderLookahead bytes past the
    // read position. The valid bits become kMinBits plus those of the
    // partly counted byte, which is what setting kMinBits's bits gives.
    QV_HOT void Refill() {
        Bits |= Fetch(Buffer + Next) >> ValidBits();
        Next += (kWordBits - 1 - ValidBits()) >> 3;
        Count |= kMinBits;
    }
    // Inside an LZ step, before reading `needed` more bits when `read` may
    // have been read since the step's refill: refills when one refill does
    // not cover both (never in a 64-bit reader, whose refill covers a whole
    // step).
    template <int32_t read, int32_t needed>
    QV_HOT void RefillAfter() {
        if constexpr (read + needed > kMinBits) Refill();
    }
    QV_HOT uint32_t Peek16() const { return static_cast<uint32_t>(Bits >> (kWordBits - 16)); }
    // Consumes n & 63 bits (n is a bit count or a fast table entry).
    QV_HOT void Skip(uint32_t n) {
        Bits <<= n & kFastLengthMask;
        Count -= n;
    }
    // A field of n bits (1..16).
    QV_HOT int32_t Field(int32_t n) {
        const int32_t value = static_cast<int32_t>(Bits >> (kWordBits - n));
        Skip(n);
        return value;
    }
    // A field of n bits, 0..16 (two shifts, so that 0 needs no test).
    QV_HOT int32_t Extra(uint32_t n) {
        const auto value = static_cast<int32_t>((Bits >> 1) >> (kWordBits - 1 - n));
        Skip(n);
        return value;
    }
    // A step entry's value plus its extra bits, code and extra bits
    // skipped; needs as many valid bits as the entry takes (at least 1).
    QV_HOT int32_t TakeStep(uint32_t step) {
        const uint32_t taken = step & kFastLengthMask;
        const uint32_t extra = (step >> kStepExtraShift) & 31;
        const auto bits = static_cast<uint32_t>(Bits >> (kWordBits - taken)) & ((1u << extra) - 1);
        Skip(step);
        return static_cast<int32_t>((step >> kStepValueShift) + bits);
    }
    // One symbol; needs 16 valid bits (what the format's rule peeks).
    QV_HOT int32_t Decode(const HuffmanTable& table) {
        int32_t symbol;
        return TryFast(table, symbol) ? symbol : DecodeSlow(table);
    }
    // The format's rule, for the codes without a fast entry: the longer
    // ones, and a multimedia table's block-change code. (The rule itself
    // is out of line and sees no reader, so that the reader's fields stay
    // in registers.)
    QV_HOT int32_t DecodeSlow(const HuffmanTable& table) {
        const uint32_t entry = SlowEntry(table, Peek16());
        Skip(entry);
        return static_cast<int32_t>(entry >> kFastSymbolShift);
    }
    // A code of up to kFastBits bits, when the next one is that short.
    QV_HOT bool TryFast(const HuffmanTable& table, int32_t& symbol) {
        const uint16_t fast = table.Fast[Bits >> (kWordBits - kFastBits)];
        if (__builtin_expect(fast == kFastSlow, 0)) return false;
        Skip(fast);
        symbol = static_cast<int32_t>(static_cast<uint32_t>(fast) >> kFastSymbolShift);
        return true;
    }
    static uint32_t SlowEntry(const HuffmanTable& table, uint32_t peek);
};

// The format's decoding rule for a peeked f (lowest bit clear); gives the
// symbol and the code length. (SlowEntry, and inline where a call costs.)
inline int32_t DecodeByLimits(const HuffmanTable& t, uint32_t f, int32_t& length) {
    // The limits never decrease: past the fast lengths' limit the code is
    // longer than they are.
    int32_t n = f < static_cast<uint32_t>(t.LengthLimit[kFastBits]) ? 1 : kFastBits + 1;
    while (n < kMaxCodeLength && f >= static_cast<uint32_t>(t.LengthLimit[n])) ++n;
    length = n;
    uint32_t index = static_cast<uint32_t>(t.LengthStart[n]) +
                     ((f - static_cast<uint32_t>(t.LengthLimit[n - 1])) >> (16 - n));
    if (index >= static_cast<uint32_t>(t.SymbolCount)) index = 0;
    return t.SortedSymbols[index];
}

// Valid-bit counts fit a fast entry's length field, and no skip or field
// (at most 16 bits) shifts by a whole word.
static_assert(kWordBits - 1 <= kFastLengthMask && 16 < kWordBits);
// A multimedia run reads as many codes to a refill as leave 16 bits for
// the last one's peek; a code-length step takes one refill's worth.
constexpr int32_t kCodesPerRefill = (BitReader::kMinBits - 16) / kMaxCodeLength + 1;
static_assert(kCodesPerRefill == (kWordBits == 64 ? 3 : 1));
static_assert(kMaxLengthStepBits <= BitReader::kMinBits);
// Next * 8 is at most the bit offset (7) plus kWordBits - 1 past the read
// position's byte, and a fetch takes the word from Next.
static_assert((7 + kWordBits - 1) / 8 + static_cast<int32_t>(sizeof(BitWord)) - 1 <=
              kReaderLookahead);
// The refills inside an LZ step fetch no later than the code-length
// refill point, the latest that the input buffer's spare bytes allow for.
static_assert(PosAfter(kRefillStep, kMaxStepBits) <= kRefillLengths);

// The reader at the record's read position, and its position handed back.
inline BitReader ReaderAt(const Unpacker& u) {
    BitReader in;
    in.Start(u.InputBuffer, u.InputPos, u.BitOffset);
    return in;
}

inline void StoreReader(Unpacker& u, const BitReader& in) {
    u.InputPos = in.Pos();
    u.BitOffset = in.Bit();
}

// unpacker.cpp: the format's input operations (see unpacker_state.h for
// the policy they follow).
int32_t ReadPacked(Unpacker& u, uint8_t* destination, int32_t count);
void FillInput(Unpacker& u, bool first);
// A refill at the reader's position; the reader after it.
BitReader RefillAt(Unpacker& u, const BitReader& in);

// entry.cpp: building a table from code lengths; a code-table block read at
// the reader's position (the reader after it); an entry's start (solid:
// continuing the previous one's state); after its last step, the
// code-table block that may follow (at the record's position).
void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count);
// The same with step entries from each symbol's (stepOf) in place of the
// table's Fast entries, which stay as they were: the table is then decoded
// through its steps, or by the format's rule.
void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count, uint32_t* steps,
                uint32_t (*stepOf)(int32_t));
BitReader ReadCodeTables(Unpacker& u, const BitReader& in);
void StartEntry(Unpacker& u, bool solid);
void ReadTrailingTables(Unpacker& u);

// Hands produced bytes to the caller's output.
inline void EmitOutput(const Unpacker& u, const uint8_t* data, int32_t count) {
    if (u.Output.Function != nullptr) u.Output.Function(u.Output.Context, data, count);
}

// Up to steps multimedia steps whose step tops would do nothing, from
// reader's position into out; returns the bytes produced and sets change
// when a block-change symbol ended the run.
int32_t AudioRun(Unpacker& u, BitReader& reader, uint8_t* out, int32_t steps, bool& change);
