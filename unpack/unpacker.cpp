// Decoding of method-20 streams.
//
// Input: packed bytes come through the caller's input into an 8 KB buffer;
// bits are taken most significant first; every symbol has a canonical
// Huffman code whose lengths arrive in code-table blocks inside the stream.
//
// Output: bytes are produced into a 1 MB circular window and handed to the
// caller's output in large pieces.
//
// The loop runs the format's decoding steps exactly (progress reports and
// flushes depend on them). Where the tests at the top of the steps can't
// fire for a while, as in a long multimedia stretch, the steps between run
// as one tight loop. Short codes decode with one table lookup, and matches
// that neither wrap nor overlap are copied in one piece; both give the same
// bytes as the plain rules.
#include "unpack/unpacker.h"

#include <algorithm>
#include <cstring>

#include "unpack/unpack_steps.h"

constinit Unpacker Unp{};

namespace {

// AVX2 (leaf 7, ebx bit 5), and the system saves its registers: it has
// enabled (OSXSAVE, leaf 1, ecx bit 27) the vector state in XCR0 (bits 1
// and 2). Asked of the processor itself: the compiler's own query brings a
// run-time library part larger than the code it would choose.
bool ProcessorHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    __asm__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(0), "c"(0));
    if (a < 7) return false;
    __asm__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(1), "c"(0));
    if ((c & (1u << 27)) == 0) return false;
    unsigned xcr0, high;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
    if ((xcr0 & 6) != 6) return false;
    __asm__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(7), "c"(0));
    return (b & (1u << 5)) != 0;
#else
    return false;
#endif
}

// Realigns the stack: a 32-bit Windows thread's is aligned to 4 bytes only,
// and vector spills need more.
__attribute__((target("avx2"), force_align_arg_pointer)) void AdaptWeightsWide(
    ChannelPredictor& v) {
    AdaptWeightsInline(v);
}

}  // namespace

bool WideErrorSums = ProcessorHasAvx2();

void AdaptWeights(ChannelPredictor& v) {
    if (WideErrorSums)
        AdaptWeightsWide(v);
    else
        AdaptWeightsInline(v);
}

namespace {

#define QV_HOT inline __attribute__((always_inline))

// Unsigned arithmetic where a 32-bit count may wrap, so that damaged sizes
// never reach undefined behaviour.
inline int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

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

BitReader ReaderAtInput() {
    BitReader in;
    in.Start(Unp.InputBuffer, Unp.InputPos, Unp.BitOffset);
    return in;
}

void StoreReader(const BitReader& in) {
    Unp.InputPos = in.Pos();
    Unp.BitOffset = in.Bit();
}

// Where the step-top test fires next: at the refill point, or earlier once
// the reader would be more than kOverrunLimit bytes past the packed data.
void UpdateStepCheck() {
    Unpacker& u = Unp;
    const int64_t overrun = u.PackedDelivered + kOverrunLimit - u.InputBase;
    u.StepCheckPos = overrun < kRefillStep ? static_cast<int32_t>(overrun) : kRefillStep;
}

bool OverrunPassed() {
    const Unpacker& u = Unp;
    return u.InputBase + u.InputPos > u.PackedDelivered + kOverrunLimit;
}

}  // namespace

// ---------------------------------------------------------------------------
// Bit input

int32_t ReadPacked(uint8_t* destination, int32_t count) {
    Unpacker& u = Unp;
    if (count > u.PackedRemaining) count = u.PackedRemaining;
    // Also refuses a negative remainder (a packed size of 2^31 or more).
    if (count <= 0 || u.Input.Function == nullptr) return 0;
    int32_t got = u.Input.Function(u.Input.Context, destination, count);
    if (got < 0 || got > count) got = 0;
    u.PackedRemaining -= got;
    u.PackedDelivered += got;
    return got;
}

void FillInput(bool first) {
    Unpacker& u = Unp;
    if (first) {
        u.InputEnd = ReadPacked(u.InputBuffer, kInputSize);
        u.InputPos = 0;
        u.InputBase = 0;
    } else {
        std::memmove(u.InputBuffer, u.InputBuffer + kInputSize - kInputKeep, kInputKeep);
        u.InputBase += kInputSize - kInputKeep;
        u.InputPos &= kInputKeep - 1;
        const int32_t got = ReadPacked(u.InputBuffer + kInputKeep, kInputSize - kInputKeep);
        u.InputEnd = got > 0 ? got + kInputKeep : u.InputPos;
    }
    UpdateStepCheck();
}

uint32_t PeekBits() {
    return ReaderAtInput().Peek16();
}

void SkipBits(int32_t n) {
    BitReader in = ReaderAtInput();
    in.Skip(n);
    StoreReader(in);
}

// ---------------------------------------------------------------------------
// Huffman tables

namespace {

// The format's decoding rule for a peeked f (lowest bit clear); gives the
// symbol and the code length.
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

// One entry per kFastBits-bit prefix. The limits of lengths up to kFastBits
// are multiples of 2^(16 - kFastBits) or the cap 0xFFFF (which every f with
// its lowest bit clear is below), so the prefix alone decides whether the
// code is that short, and then which symbol it is: the prefixes of length n
// run from limit[n-1] to limit[n], and each 2^(kFastBits - n) of them are
// one index of the rule (past the sorted symbols: the first one). A
// multimedia table keeps its block-change symbol out of the fast entries,
// so that a fast hit there is always a byte.
void BuildFast(HuffmanTable& t) {
    const int32_t slowSymbol = t.SymbolCount == kAudioSymbols ? kAudioBlockChange : -1;
    constexpr uint32_t kPrefixes = 1u << kFastBits;
    uint32_t prefix = 0;
    for (int32_t n = 1; n <= kFastBits; ++n) {
        const uint32_t end =
            std::min<uint32_t>(kPrefixes, (static_cast<uint32_t>(t.LengthLimit[n]) + 63) >> 6);
        const uint32_t group = 1u << (kFastBits - n);
        for (uint32_t index = static_cast<uint32_t>(t.LengthStart[n]); prefix < end; ++index) {
            const uint32_t at = index < static_cast<uint32_t>(t.SymbolCount) ? index : 0;
            const int32_t symbol = t.SortedSymbols[at];
            const uint16_t entry = symbol != slowSymbol
                                       ? static_cast<uint16_t>(symbol << kFastSymbolShift | n)
                                       : kFastSlow;
            const uint32_t stop = std::min(end, prefix + group);
            for (; prefix < stop; ++prefix) t.Fast[prefix] = entry;
        }
    }
    for (; prefix < kPrefixes; ++prefix) t.Fast[prefix] = kFastSlow;
}

}  // namespace

// Damage policy: lengths that over- or under-subscribe the code space are
// built all the same, and decoded by the same rule. A code past the last
// limit takes 15 bits, and one whose index falls past the sorted symbols
// decodes as the fixed symbol SortedSymbols[0]; nothing is rejected here.
// Such an entry decodes to wrong bytes, and its checksum rejects it.
void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count) {
    int32_t lengthCount[16] = {};
    for (int32_t i = 0; i < count; ++i) lengthCount[lengths[i] & 15] += 1;
    lengthCount[0] = 0;
    table.LengthLimit[0] = 0;
    table.LengthStart[0] = 0;
    int32_t next[16] = {};
    // At most 1028 symbols: acc stays below 2^16 * 1028, no overflow.
    int32_t acc = 0;
    for (int32_t k = 1; k <= kMaxCodeLength; ++k) {
        acc = 2 * (acc + lengthCount[k]);
        const int32_t limit = acc << (15 - k);
        table.LengthLimit[k] = limit > 0xFFFF ? 0xFFFF : limit;
        table.LengthStart[k] = table.LengthStart[k - 1] + lengthCount[k - 1];
        next[k] = table.LengthStart[k];
    }
    for (int32_t i = 0; i < count; ++i) {
        const int32_t len = lengths[i] & 15;
        if (len != 0) table.SortedSymbols[next[len]++] = i;
    }
    table.SymbolCount = count;
    BuildFast(table);
}

// The symbol and length of the code in peek, as a fast entry would give them.
uint32_t BitReader::SlowEntry(const HuffmanTable& table, uint32_t peek) {
    int32_t length = 0;
    const int32_t symbol = DecodeByLimits(table, peek & 0xFFFE, length);
    return static_cast<uint32_t>(symbol) << kFastSymbolShift | static_cast<uint32_t>(length);
}

int32_t DecodeSymbol(const HuffmanTable& table) {
    BitReader in = ReaderAtInput();
    const int32_t symbol = in.Decode(table);
    StoreReader(in);
    return symbol;
}

namespace {

void ReadCodeTables() {
    Unpacker& u = Unp;
    if (u.InputPos > kRefillTables) FillInput(false);
    BitReader in = ReaderAtInput();
    const uint32_t f = in.Peek16();
    u.AudioMode = (f & 0x8000) != 0;
    if ((f & 0x4000) == 0) std::memset(u.PreviousLengths, 0, sizeof(u.PreviousLengths));
    in.Skip(2);
    int32_t tableSize = kLzTableSize;
    if (u.AudioMode) {
        u.ChannelCount = static_cast<int32_t>((f >> 12) & 3) + 1;
        if (u.CurrentChannel >= u.ChannelCount) u.CurrentChannel = 0;
        in.Skip(2);
        tableSize = kAudioSymbols * u.ChannelCount;
    }
    uint8_t preLengths[kPreSymbols];
    for (int32_t i = 0; i < kPreSymbols; ++i) {
        in.Refill();
        preLengths[i] = static_cast<uint8_t>(in.Field(4));
    }
    BuildTable(preLengths, u.PreTable, kPreSymbols);

    // Starts as zeros: lengths past the table size are 0 afterwards.
    uint8_t work[kMaxTableSize] = {};
    int32_t i = 0;
    while (i < tableSize) {
        if (in.Pos() > kRefillLengths) {
            StoreReader(in);
            FillInput(false);
            in = ReaderAtInput();
        }
        in.Refill();
        const int32_t s = in.Decode(u.PreTable);
        if (s < 16) {
            work[i] = static_cast<uint8_t>((s + u.PreviousLengths[i]) & 15);
            ++i;
            continue;
        }
        int32_t n;
        if (s == kPreRepeatPrevious) {
            n = in.Field(2) + 3;
            // At the first position there is no length to repeat: 0.
            for (; n > 0 && i < tableSize; --n, ++i) work[i] = i > 0 ? work[i - 1] : 0;
            continue;
        }
        n = s == kPreShortZeros ? in.Field(3) + 3 : in.Field(7) + 11;
        for (; n > 0 && i < tableSize; --n, ++i) work[i] = 0;
    }
    StoreReader(in);
    if (u.AudioMode) {
        for (int32_t c = 0; c < u.ChannelCount; ++c) {
            BuildTable(work + kAudioSymbols * c, u.AudioTables[c], kAudioSymbols);
        }
    } else {
        BuildTable(work, u.LiteralTable, kLiteralSymbols);
        BuildTable(work + kLiteralSymbols, u.DistanceTable, kDistanceSymbols);
        BuildTable(work + kLiteralSymbols + kDistanceSymbols, u.RepeatLengthTable,
                   kRepeatLengthSymbols);
    }
    std::memcpy(u.PreviousLengths, work, sizeof(work));
    u.TablesRead = true;
}

// ---------------------------------------------------------------------------
// Output

void EmitOutput(const uint8_t* data, int32_t count) {
    const Unpacker& u = Unp;
    if (u.Output.Function != nullptr) u.Output.Function(u.Output.Context, data, count);
}

void ReportProgress(int32_t outputLeft) {
    const Unpacker& u = Unp;
    if (u.Progress.Function != nullptr) u.Progress.Function(u.Progress.Context, outputLeft);
}

void FlushWindow() {
    Unpacker& u = Unp;
    if (u.WindowPos < u.FlushedPos) {
        EmitOutput(u.Window + u.FlushedPos, kWindowSize - u.FlushedPos);
        EmitOutput(u.Window, u.WindowPos);
    } else {
        EmitOutput(u.Window + u.FlushedPos, u.WindowPos - u.FlushedPos);
    }
    u.FlushedPos = u.WindowPos;
}

// ---------------------------------------------------------------------------
// LZ decoding

QV_HOT void Copy8(uint8_t* to, const uint8_t* from) {
    uint64_t v;
    std::memcpy(&v, from, sizeof(v));
    std::memcpy(to, &v, sizeof(v));
}
QV_HOT void Copy4(uint8_t* to, const uint8_t* from) {
    uint32_t v;
    std::memcpy(&v, from, sizeof(v));
    std::memcpy(to, &v, sizeof(v));
}
QV_HOT void Copy2(uint8_t* to, const uint8_t* from) {
    uint16_t v;
    std::memcpy(&v, from, sizeof(v));
    std::memcpy(to, &v, sizeof(v));
}

// A match: records it in the history, then copies length bytes from
// distance back, one at a time in increasing order with a masked index, or
// faster where that gives the same bytes. Works on the loop's own copies of
// WindowPos and OutputLeft.
QV_HOT void CopyMatch(int32_t length, int32_t distance, int32_t& windowPos, int32_t& outputLeft) {
    Unpacker& u = Unp;
    u.RecentDistances[u.RecentIndex & 3] = distance;
    u.RecentIndex = WrapAdd(u.RecentIndex, 1);
    u.PrevMatchDistance = distance;
    u.PrevMatchLength = length;
    outputLeft = WrapAdd(outputLeft, -length);

    uint8_t* const window = u.Window;
    int32_t pos = windowPos & kWindowMask;
    const int32_t from = WrapAdd(pos, -distance) & kWindowMask;
    if (pos + length <= kWindowSize && from + length <= kWindowSize) {
        // Neither end wraps. With the source at least 8 bytes behind (or,
        // seen the other way round, at least 8 ahead), wide pieces read
        // only bytes that are already final; the last piece may overlap the
        // one before it and rewrites the same values.
        if (distance >= 8 && distance <= kWindowSize - 8) {
            uint8_t* d = window + pos;
            const uint8_t* f = window + from;
            if (length >= 8) {
                int32_t o = 0;
                for (; o + 8 < length; o += 8) Copy8(d + o, f + o);
                Copy8(d + length - 8, f + length - 8);
            } else if (length >= 4) {
                Copy4(d, f);
                Copy4(d + length - 4, f + length - 4);
            } else if (length >= 2) {
                Copy2(d, f);
                Copy2(d + length - 2, f + length - 2);
            } else if (length == 1) {
                d[0] = f[0];
            }
            windowPos = (pos + length) & kWindowMask;
            return;
        }
        // Apart ranges copy as one block; a source that runs into the
        // destination repeats its last distance bytes, which a forward byte
        // copy without masking gives.
        if (from + length <= pos || pos + length <= from) {
            std::memcpy(window + pos, window + from, static_cast<size_t>(length));
        } else {
            uint8_t* d = window + pos;
            const uint8_t* f = window + from;
            for (int32_t n = 0; n < length; ++n) d[n] = f[n];
        }
        windowPos = (pos + length) & kWindowMask;
        return;
    }
    for (int32_t n = 0; n < length; ++n) {
        window[pos] = window[WrapAdd(pos, -distance) & kWindowMask];
        pos = (pos + 1) & kWindowMask;
    }
    windowPos = pos;
}

void StartEntry(bool solid) {
    Unpacker& u = Unp;
    u.InputPos = 0;
    u.BitOffset = 0;
    u.PackedDelivered = 0;
    u.InputBase = 0;
    if (solid) return;
    u.CrossDelta = 0;
    u.CurrentChannel = 0;
    std::memset(u.Predictors, 0, sizeof(u.Predictors));
    std::memset(u.RecentDistances, 0, sizeof(u.RecentDistances));
    u.RecentIndex = 0;
    u.PrevMatchDistance = 0;
    u.PrevMatchLength = 0;
    if (!u.WindowZero) std::memset(u.Window, 0, kWindowSize);
    u.WindowZero = false;
    std::memset(u.PreviousLengths, 0, sizeof(u.PreviousLengths));
    u.WindowPos = 0;
    u.FlushedPos = 0;
}

void ReadTrailingTables() {
    Unpacker& u = Unp;
    if (u.InputPos + 5 > u.InputEnd) return;
    const HuffmanTable& table = u.AudioMode ? u.AudioTables[u.CurrentChannel] : u.LiteralTable;
    if (DecodeSymbol(table) == (u.AudioMode ? kAudioBlockChange : kSymbolBlockChange)) {
        ReadCodeTables();
    }
}

// ---------------------------------------------------------------------------
// Multimedia decoding

// Counts the multimedia steps, from the one about to run, whose step tops
// fire nothing. Called after this step's top; every bound is at least 1.
QV_HOT int32_t QuietAudioSteps(int32_t bitPos, int32_t stepCheckBits, int32_t outputLeft,
                               int32_t windowPos, int32_t flushedPos) {
    // Progress fires at the next multiple of kProgressInterval below
    // outputLeft; the loop ends after outputLeft reaches 0.
    int32_t n = ((outputLeft - 1) & (kProgressInterval - 1)) + 1;
    if (n > outputLeft + 1) n = outputLeft + 1;
    // The test at the step top stays quiet while the bit position is below
    // stepCheckBits; a multimedia step reads one code.
    const int32_t byInput = (stepCheckBits - 1 - bitPos) / kMaxCodeLength + 1;
    if (n > byInput) n = byInput;
    // The flush guard fires once fewer than kFlushGuard bytes separate
    // WindowPos from FlushedPos; equal positions mean nothing waits.
    int32_t gap = (flushedPos - windowPos) & kWindowMask;
    if (gap == 0) gap = kWindowSize;
    if (n > gap - (kFlushGuard - 1)) n = gap - (kFlushGuard - 1);
    // No masking inside the run: it stops at the window's end.
    if (n > kWindowSize - windowPos) n = kWindowSize - windowPos;
    return n;
}

// The window position from which a step top would flush (fewer than
// kFlushGuard bytes left before FlushedPos, which equal positions are not)
// or mask; positions below it keep the tops quiet.
QV_HOT int32_t QuietWindowLimit(int32_t windowPos, int32_t flushedPos) {
    const int32_t guard =
        (flushedPos > windowPos ? flushedPos : flushedPos + kWindowSize) - (kFlushGuard - 1);
    return guard < kWindowSize ? guard : kWindowSize;
}

// Up to steps multimedia steps whose step tops would do nothing; returns
// the bytes produced and sets change when a block-change symbol ended the
// run. Whole rounds from channel 0 in which no channel fills its window run
// without the adaptation test, each channel at a constant index; the other
// steps go one by one.
int32_t AudioRun(BitReader& reader, uint8_t* out, int32_t steps, bool& change) {
    Unpacker& u = Unp;
    ChannelPredictor* const v = u.Predictors;
    BitReader in = reader;
    int32_t cross = u.CrossDelta;
    int32_t channel = u.CurrentChannel;
    const int Channels = u.ChannelCount;
    int32_t n = 0;
    while (n < steps && !change) {
        int32_t rounds = channel == 0 ? (steps - n) / Channels : 0;
        int32_t slot[kMaxChannels];
        for (int c = 0; c < Channels; ++c) {
            slot[c] = v[c].SampleCount & 31;
            if (rounds > 31 - slot[c]) rounds = 31 - slot[c];
        }
        if (rounds == 0) {
            in.Refill();
            const int32_t s = in.Decode(u.AudioTables[channel]);
            if (s == kAudioBlockChange) {
                change = true;
                break;
            }
            out[n++] = PredictByte(v[channel], cross, s);
            if (++channel == Channels) channel = 0;
            continue;
        }
        int32_t r = 0;
        int done = Channels;  // channels that had their byte in the last round
        for (; r < rounds && done == Channels; ++r) {
#pragma GCC unroll 4
            for (done = 0; done < Channels; ++done) {
                if (done % kCodesPerRefill == 0) in.Refill();
                int32_t s;
                if (!in.TryFast(u.AudioTables[done], s)) {
                    s = in.DecodeSlow(u.AudioTables[done]);
                    if (s == kAudioBlockChange) {
                        change = true;
                        break;
                    }
                }
                out[n++] = TakeByte(v[done], slot[done] + r, cross, s);
            }
        }
        for (int c = 0; c < Channels; ++c) {
            const int32_t taken = r - (c < done ? 0 : 1);
            v[c].SampleCount = static_cast<int32_t>(static_cast<uint32_t>(v[c].SampleCount) +
                                                    static_cast<uint32_t>(taken));
        }
        channel = done % Channels;
    }
    reader = in;
    u.CurrentChannel = channel;
    u.CrossDelta = cross;
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// The decoding loop

void ResetUnpacker() {
    // Every field's fresh value is zero (unpacker.h); no 37 KB temporary on
    // the stack.
    std::memset(static_cast<void*>(&Unp), 0, sizeof(Unp));
}

void UnpackEntry(uint8_t* window, bool solid) {
    Unpacker& u = Unp;
    u.Window = window;
    StartEntry(solid);
    FillInput(true);
    if (!solid) ReadCodeTables();

    // The loop works on local copies of the busiest fields (the compiler
    // can't keep fields in registers across stores into the window) and
    // hands them back to the fields around every out-of-line step.
    BitReader in = ReaderAtInput();
    int32_t windowPos = u.WindowPos;
    int32_t outputLeft = WrapAdd(u.OutputLeft, -1);
    // Changed only by the out-of-line steps, so read again after them.
    // The step-top test fires once InputPos > StepCheckPos, here in bits.
    int32_t stepCheckBits = (u.StepCheckPos + 1) * 8;
    int32_t flushedPos = u.FlushedPos;
    bool audioMode = u.AudioMode;
    uint8_t* const out = u.Window;
    auto save = [&] {
        StoreReader(in);
        u.WindowPos = windowPos;
        u.OutputLeft = outputLeft;
    };
    auto load = [&] {
        in = ReaderAtInput();
        windowPos = u.WindowPos;
        outputLeft = u.OutputLeft;
        stepCheckBits = (u.StepCheckPos + 1) * 8;
        flushedPos = u.FlushedPos;
        audioMode = u.AudioMode;
    };

    while (outputLeft >= 0) {
        // One test covers both the refill point and the overrun guard.
        if (in.BitPos() >= stepCheckBits) {
            save();
            if (OverrunPassed()) break;
            if (u.InputPos > kRefillStep) FillInput(false);
            load();
        }
        in.Refill();
        if ((outputLeft & (kProgressInterval - 1)) == 0) ReportProgress(outputLeft);
        windowPos &= kWindowMask;
        if (((flushedPos - windowPos) & kWindowMask) < kFlushGuard && flushedPos != windowPos) {
            save();
            FlushWindow();
            load();
        }

        if (audioMode) {
            // This step and the ones after it, up to the first whose top
            // would do something, run as one.
            const int32_t steps =
                QuietAudioSteps(in.BitPos(), stepCheckBits, outputLeft, windowPos, flushedPos);
            bool change = false;
            const int32_t k = AudioRun(in, out + windowPos, steps, change);
            windowPos += k;
            outputLeft -= k;
            if (change) {
                save();
                ReadCodeTables();
                load();
            }
            continue;
        }

        // This step and the ones after it, up to the first whose top would
        // do something, run as one: the tops stay quiet while outputLeft
        // is above the next progress multiple (or 0), the bit position
        // below the test point and the window position below both the
        // window's end and the flush guard.
        const int32_t progressMark = outputLeft > 0 ? (outputLeft - 1) & -kProgressInterval : -1;
        const int32_t windowLimit = QuietWindowLimit(windowPos, flushedPos);
        bool tables = false;
        // The most extra bits of a length and of a short distance: the reads
        // between refills of a 32-bit reader (RefillAfter).
        constexpr int32_t kLengthExtra = kSlots.LengthExtraBits[kRepeatLengthSymbols - 1];
        constexpr int32_t kShortExtra = kSlots.ShortDistanceExtraBits[7];
        do {
            in.Refill();
            const int32_t s = in.Decode(u.LiteralTable);
            if (s < 256) {
                out[windowPos] = static_cast<uint8_t>(s);
                windowPos += 1;
                outputLeft -= 1;
                continue;
            }
            // Every kind of match ends in the one copy below.
            int32_t length;
            int32_t distance;
            if (s >= kSymbolMatchFirst) {
                // Length slot with its extra bits, a distance symbol with its
                // extra bits, then the far-distance bumps.
                const int32_t slot = s - kSymbolMatchFirst;
                length = kSlots.LengthBase[slot] + 3;
                in.RefillAfter<kMaxCodeLength, kLengthExtra>();
                if (kSlots.LengthExtraBits[slot] > 0)
                    length += in.Field(kSlots.LengthExtraBits[slot]);
                in.RefillAfter<kMaxCodeLength + kLengthExtra, 16>();
                const int32_t d = in.Decode(u.DistanceTable);
                distance = kSlots.DistanceBase[d] + 1;
                in.RefillAfter<2 * kMaxCodeLength + kLengthExtra, 16>();
                if (kSlots.DistanceExtraBits[d] > 0)
                    distance += in.Field(kSlots.DistanceExtraBits[d]);
                if (distance >= kFarDistance2) length += 1;
                if (distance >= kFarDistance1) length += 1;
            } else if (s == kSymbolBlockChange) {
                tables = true;
                break;
            } else if (s == kSymbolRepeatMatch) {
                length = u.PrevMatchLength;
                distance = u.PrevMatchDistance;
            } else if (s < kSymbolShortFirst) {
                distance = u.RecentDistances[WrapAdd(u.RecentIndex, 256 - s) & 3];
                in.RefillAfter<kMaxCodeLength, 16>();
                const int32_t r = in.Decode(u.RepeatLengthTable);
                length = kSlots.LengthBase[r] + 2;
                in.RefillAfter<2 * kMaxCodeLength, kLengthExtra>();
                if (kSlots.LengthExtraBits[r] > 0) length += in.Field(kSlots.LengthExtraBits[r]);
                if (distance >= kFarDistance2) length += 1;
                if (distance >= kFarDistance1) length += 1;
                if (distance >= kRecentNearLimit) length += 1;
            } else {
                const int32_t k = s - kSymbolShortFirst;
                in.RefillAfter<kMaxCodeLength, kShortExtra>();
                distance =
                    kSlots.ShortDistanceBase[k] + 1 + in.Field(kSlots.ShortDistanceExtraBits[k]);
                length = 2;
            }
            CopyMatch(length, distance, windowPos, outputLeft);
        } while (!tables && outputLeft > progressMark && windowPos < windowLimit &&
                 in.BitPos() < stepCheckBits);
        if (tables) {
            save();
            ReadCodeTables();
            load();
        }
    }
    save();
    ReadTrailingTables();
    FlushWindow();
}

void CopyStored() {
    Unpacker& u = Unp;
    u.WindowZero = false;
    for (;;) {
        const int32_t got = ReadPacked(u.Window, kStoredPiece);
        if (got <= 0) return;
        const int32_t n = got < u.OutputLeft ? got : u.OutputLeft;
        // Nothing is written once the unpacked size is reached, nor for a
        // size of 2^31 or more (a negative count).
        if (n > 0) EmitOutput(u.Window, n);
        if (u.OutputLeft >= 0) u.OutputLeft -= n;
    }
}
