// Decoding of method-20 streams.
//
// Input: packed bytes come from the archive stream into an 8 KB buffer; bits
// are taken most significant first; every symbol has a canonical Huffman
// code whose lengths arrive in code-table blocks inside the stream.
//
// Output: bytes are produced into a 1 MB circular window and written out in
// large pieces, each folded into the entry checksum.
//
// Speed: the loop runs one decoding step per output byte or match, exactly
// as the format defines its steps (progress reports and flushes depend on
// them). Short codes decode with one table lookup, and matches that neither
// wrap nor overlap are copied in one piece; both give the same bytes as the
// plain byte-by-byte rules.
#include "unpack/unpacker.h"

#include <cstring>

#include "archive/reader.h"
#include "archive/reports.h"
#include "archive/streams.h"

Unpacker Unp;

namespace {

#define QV_HOT inline __attribute__((always_inline))

// A read position in the input buffer. The decoding loop keeps one in
// registers and stores it back into InputPos and BitOffset around the
// steps that work on those fields.
struct Cursor {
    const uint8_t* Buffer;
    int32_t Pos;
    int32_t Bit;

    // The next 16 bits: the four bytes at Pos as one big-endian number,
    // shifted so that bit Bit of the first byte lands in bit 15. The spare
    // bytes after the buffer keep the fourth byte inside the array.
    QV_HOT uint32_t Peek() const {
        const uint8_t* p = Buffer + Pos;
        const uint32_t bits = static_cast<uint32_t>(p[0]) << 24 |
                              static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
                              p[3];
        return (bits >> (16 - Bit)) & 0xFFFF;
    }
    QV_HOT void Skip(int32_t n) {
        const int32_t bits = Bit + n;
        Pos += bits >> 3;
        Bit = bits & 7;
    }
    // A bit field of n bits (1..16).
    QV_HOT int32_t Field(int32_t n) {
        const int32_t value = static_cast<int32_t>(Peek() >> (16 - n));
        Skip(n);
        return value;
    }
    QV_HOT int32_t Decode(const HuffmanTable& table);
};

QV_HOT Cursor LoadCursor() {
    return {Unp.InputBuffer, Unp.InputPos, Unp.BitOffset};
}

QV_HOT void StoreCursor(const Cursor& c) {
    Unp.InputPos = c.Pos;
    Unp.BitOffset = c.Bit;
}

QV_HOT uint32_t Peek16() {
    return LoadCursor().Peek();
}

QV_HOT void Skip(int32_t n) {
    Cursor c = LoadCursor();
    c.Skip(n);
    StoreCursor(c);
}

}  // namespace

namespace {

// Unsigned arithmetic where a 32-bit count may wrap, so that damaged sizes
// never reach undefined behaviour.
inline int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Bit fields of n bits (1..16), most significant first.
QV_HOT int32_t ReadField(int32_t n) {
    Cursor c = LoadCursor();
    const int32_t value = c.Field(n);
    StoreCursor(c);
    return value;
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
    if (count <= 0) return 0;
    int32_t got = u.InStream != nullptr ? u.InStream->Read(destination, count) : 0;
    if (got < 0) got = 0;
    if (got > count) got = count;
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
    return Peek16();
}

void SkipBits(int32_t n) {
    Skip(n);
}

// ---------------------------------------------------------------------------
// Huffman tables

namespace {

// The reference decoding rule for a peeked f (lowest bit clear), looking at
// code lengths from firstLength on; gives the symbol and the code length.
inline int32_t DecodeByLimits(const HuffmanTable& t, uint32_t f, int32_t firstLength,
                              int32_t lastLength, int32_t& length) {
    int32_t n = firstLength;
    while (n < lastLength && f >= static_cast<uint32_t>(t.LengthLimit[n])) ++n;
    length = n;
    uint32_t index = static_cast<uint32_t>(t.LengthStart[n]) +
                     ((f - static_cast<uint32_t>(t.LengthLimit[n - 1])) >> (16 - n));
    if (index >= static_cast<uint32_t>(t.SymbolCount)) index = 0;
    return t.SortedSymbols[index];
}

// One entry per kFastBits-bit prefix. The limits of lengths up to kFastBits
// are multiples of 2^(16 - kFastBits) or the cap 0xFFFF (which every f with
// its lowest bit clear is below), so the prefix alone decides whether the
// code is that short, and then which symbol it is.
void BuildFast(HuffmanTable& t) {
    // The same search as DecodeByLimits over lengths 1..kFastBits, kept
    // running: prefixes grow, so their code lengths never shrink.
    int32_t n = 1;
    for (uint32_t prefix = 0; prefix < (1u << kFastBits); ++prefix) {
        const uint32_t f = prefix << (16 - kFastBits);
        if (f >= static_cast<uint32_t>(t.LengthLimit[kFastBits])) {
            t.Fast[prefix] = kFastSlow;
            continue;
        }
        while (n < kFastBits && f >= static_cast<uint32_t>(t.LengthLimit[n])) ++n;
        uint32_t index = static_cast<uint32_t>(t.LengthStart[n]) +
                         ((f - static_cast<uint32_t>(t.LengthLimit[n - 1])) >> (16 - n));
        if (index >= static_cast<uint32_t>(t.SymbolCount)) index = 0;
        t.Fast[prefix] = static_cast<uint16_t>(t.SortedSymbols[index] << 4 | n);
    }
}

}  // namespace

void BuildTable(const uint8_t* lengths, HuffmanTable& table, int32_t count) {
    int32_t lengthCount[16] = {};
    for (int32_t i = 0; i < count; ++i) lengthCount[lengths[i] & 15] += 1;
    lengthCount[0] = 0;
    table.LengthLimit[0] = 0;
    table.LengthStart[0] = 0;
    int32_t next[16] = {};
    // At most 1028 symbols: acc stays below 2^16 * 1028, no overflow.
    int32_t acc = 0;
    for (int32_t k = 1; k <= 15; ++k) {
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

QV_HOT int32_t Cursor::Decode(const HuffmanTable& table) {
    const uint32_t f = Peek() & 0xFFFE;
    const uint16_t fast = table.Fast[f >> (16 - kFastBits)];
    if (fast != kFastSlow) {
        Skip(fast & 15);
        return fast >> 4;
    }
    // Longer codes: the plain rule from length kFastBits + 1 on.
    int32_t length = 0;
    const int32_t symbol = DecodeByLimits(table, f, kFastBits + 1, 15, length);
    Skip(length);
    return symbol;
}

namespace {

// The decoding loop's reader: up to 63 unread bits in a 64-bit word, first
// bit at bit 63, taken from the input buffer eight bytes at a time. The
// read position is Next * 8 - Count bits into the buffer, so InputPos and
// BitOffset follow from it exactly whenever the loop hands them back.
struct WideCursor {
    const uint8_t* Buffer;
    int32_t Next;   // first buffer byte not yet counted in Bits
    int32_t Count;  // valid bits in Bits, 0..63; the bits below them are 0 or
                    // the true next bits of the stream
    uint64_t Bits;

    static QV_HOT uint64_t Load(const uint8_t* p) {
        uint64_t v;
        std::memcpy(&v, p, sizeof(v));
        return __builtin_bswap64(v);
    }
    QV_HOT void Start(const uint8_t* buffer, int32_t pos, int32_t bit) {
        Buffer = buffer;
        Next = pos + 7;
        Bits = Load(buffer + pos) << bit;
        Count = 56 - bit;
    }
    QV_HOT int32_t BitPos() const { return Next * 8 - Count; }
    QV_HOT int32_t Pos() const { return BitPos() >> 3; }
    QV_HOT int32_t Bit() const { return BitPos() & 7; }
    // Afterwards at least 56 bits are valid. The bytes loaded lie at most
    // 15 past the read position, inside the buffer's spare room.
    QV_HOT void Refill() {
        Bits |= Load(Buffer + Next) >> Count;
        Next += (63 - Count) >> 3;
        Count |= 56;
    }
    QV_HOT void Skip(int32_t n) {
        Bits <<= n;
        Count -= n;
    }
    // n in 1..16; needs n valid bits.
    QV_HOT int32_t Field(int32_t n) {
        const int32_t value = static_cast<int32_t>(Bits >> (64 - n));
        Skip(n);
        return value;
    }
    // Needs 16 valid bits (what the plain reader peeks).
    QV_HOT int32_t Decode(const HuffmanTable& table) {
        const uint16_t fast = table.Fast[Bits >> (64 - kFastBits)];
        if (fast != kFastSlow) {
            Skip(fast & 15);
            return fast >> 4;
        }
        const uint32_t f = static_cast<uint32_t>(Bits >> 48) & 0xFFFE;
        int32_t length = 0;
        const int32_t symbol = DecodeByLimits(table, f, kFastBits + 1, 15, length);
        Skip(length);
        return symbol;
    }
};

QV_HOT int32_t Decode(const HuffmanTable& table) {
    Cursor c = LoadCursor();
    const int32_t symbol = c.Decode(table);
    StoreCursor(c);
    return symbol;
}

}  // namespace

int32_t DecodeSymbol(const HuffmanTable& table) {
    return Decode(table);
}

void ReadCodeTables() {
    Unpacker& u = Unp;
    if (u.InputPos > kRefillTables) FillInput(false);
    const uint32_t f = PeekBits();
    u.AudioMode = (f & 0x8000) != 0;
    if ((f & 0x4000) == 0) std::memset(u.PreviousLengths, 0, sizeof(u.PreviousLengths));
    SkipBits(2);
    int32_t tableSize = kLzTableSize;
    if (u.AudioMode) {
        u.ChannelCount = static_cast<int32_t>((f >> 12) & 3) + 1;
        if (u.CurrentChannel >= u.ChannelCount) u.CurrentChannel = 0;
        SkipBits(2);
        tableSize = kAudioSymbols * u.ChannelCount;
    }
    uint8_t preLengths[kPreSymbols];
    for (int32_t i = 0; i < kPreSymbols; ++i) preLengths[i] = static_cast<uint8_t>(ReadField(4));
    BuildTable(preLengths, u.PreTable, kPreSymbols);

    // Starts as zeros: lengths past the table size are 0 afterwards.
    uint8_t work[kMaxTableSize] = {};
    int32_t i = 0;
    while (i < tableSize) {
        if (u.InputPos > kRefillLengths) FillInput(false);
        const int32_t s = DecodeSymbol(u.PreTable);
        if (s < 16) {
            work[i] = static_cast<uint8_t>((s + u.PreviousLengths[i]) & 15);
            ++i;
            continue;
        }
        int32_t n;
        if (s == kPreRepeatPrevious) {
            n = ReadField(2) + 3;
            // At the first position there is no length to repeat: 0.
            for (; n > 0 && i < tableSize; --n, ++i) work[i] = i > 0 ? work[i - 1] : 0;
            continue;
        }
        n = s == kPreShortZeros ? ReadField(3) + 3 : ReadField(7) + 11;
        for (; n > 0 && i < tableSize; --n, ++i) work[i] = 0;
    }
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
}

// ---------------------------------------------------------------------------
// Output

int32_t EmitOutput(const uint8_t* data, int32_t count) {
    Unpacker& u = Unp;
    int32_t written = count;
    if (!u.DiscardOutput) {
        written = u.OutStream != nullptr ? u.OutStream->Write(data, count) : 0;
        if (written < 0 || written > count) written = 0;
    }
    if (!u.SkipChecksum) {
        u.EntryChecksum = UpdateChecksum(u.EntryChecksum, data, written, u.ChecksumKind);
    }
    return written;
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

namespace {

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

// The match copy on the loop's own copies of WindowPos and OutputLeft.
QV_HOT void CopyMatchAt(int32_t length, int32_t distance, int32_t& windowPos, int32_t& outputLeft) {
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

}  // namespace

void CopyMatch(int32_t length, int32_t distance) {
    CopyMatchAt(length, distance, Unp.WindowPos, Unp.OutputLeft);
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
    std::memset(u.Window, 0, kWindowSize);
    std::memset(u.PreviousLengths, 0, sizeof(u.PreviousLengths));
    u.WindowPos = 0;
    u.FlushedPos = 0;
}

void ReadTrailingTables() {
    Unpacker& u = Unp;
    if (u.InputPos + 5 > u.InputEnd) return;
    if (u.AudioMode) {
        if (DecodeSymbol(u.AudioTables[u.CurrentChannel]) == kAudioBlockChange) ReadCodeTables();
    } else {
        if (DecodeSymbol(u.LiteralTable) == kSymbolBlockChange) ReadCodeTables();
    }
}

namespace {

QV_HOT uint8_t Predict(int32_t delta) {
    Unpacker& u = Unp;
    ChannelPredictor& v = u.Predictors[u.CurrentChannel];
    int32_t cross = u.CrossDelta;
    const int32_t predicted = BeginPrediction(v, cross);
    const uint8_t b = FinishPrediction(v, cross, predicted, delta);
    u.CrossDelta = cross;
    return b;
}

}  // namespace

namespace {

// Counts the multimedia steps, from the one about to run, whose step tops
// fire nothing. Called after this step's top; every bound is at least 1.
QV_HOT int32_t QuietAudioSteps(int32_t bitPos, int32_t stepCheckBits, int32_t outputLeft,
                               int32_t windowPos, int32_t flushedPos) {
    // Progress fires at the next multiple of 4096 below outputLeft; the
    // loop ends after outputLeft reaches 0.
    int32_t n = ((outputLeft - 1) & 0xFFF) + 1;
    // Compared without outputLeft + 1, which overflows for an entry of
    // 2^31 bytes (outputLeft 2^31 - 1).
    if (n - 1 > outputLeft) n = outputLeft + 1;
    // The test at the step top stays quiet while the bit position is below
    // stepCheckBits.
    const int32_t byInput = (stepCheckBits - 1 - bitPos) / 15 + 1;
    if (n > byInput) n = byInput;
    // The flush guard fires once fewer than 270 bytes separate WindowPos
    // from FlushedPos; equal positions mean nothing waits.
    int32_t gap = (flushedPos - windowPos) & kWindowMask;
    if (gap == 0) gap = kWindowSize;
    if (n > gap - 269) n = gap - 269;
    // No masking inside the run: it stops at the window's end.
    if (n > kWindowSize - windowPos) n = kWindowSize - windowPos;
    return n;
}

// Up to steps multimedia steps with channels predictors; returns the bytes
// produced and sets change when a block-change symbol ended the run. The
// predictors live in locals meanwhile, rotated so that local 0 is the
// current channel: the output stores can't alias them, and the unrolled
// channel loop indexes them with constants.
// The same run as AudioRun, on the predictors in place.
[[maybe_unused]] int32_t AudioRunSmall(WideCursor& in, uint8_t* to, int32_t steps, bool& change) {
    Unpacker& u = Unp;
    int32_t channel = u.CurrentChannel;
    int32_t cross = u.CrossDelta;
    int32_t k = 0;
    for (; k < steps; ++k) {
        in.Refill();
        const int32_t s = in.Decode(u.AudioTables[channel]);
        if (s == kAudioBlockChange) {
            change = true;
            break;
        }
        ChannelPredictor& v = u.Predictors[channel];
        const int32_t predicted = BeginPrediction(v, cross);
        to[k] = FinishPrediction(v, cross, predicted, s);
        if (++channel == u.ChannelCount) channel = 0;
    }
    u.CurrentChannel = channel;
    u.CrossDelta = cross;
    return k;
}

// A channel predictor laid out for a run: the four history terms side by
// side, and the error sums of subtracting and of adding each term in two
// four-lane vectors (Minus = E1, E3, E5, E7; Plus = E2, E4, E6, E8), so a
// byte updates eight sums with a few vector operations. Same values as
// ChannelPredictor throughout.
typedef int32_t Lanes __attribute__((vector_size(16)));

struct RunChannel {
    int32_t W[5];
    int32_t H0, H1, H2, H3;
    int32_t PrevDelta;
    Lanes Minus, Plus;
    Lanes Rest;  // E0, E9, E10 and an unused lane
    int32_t Count;
    int32_t PrevByte;

    QV_HOT void From(const ChannelPredictor& v) {
        std::memcpy(W, v.Weights, sizeof(W));
        H0 = v.DeltaHistory[0];
        H1 = v.DeltaHistory[1];
        H2 = v.DeltaHistory[2];
        H3 = v.DeltaHistory[3];
        PrevDelta = v.PrevDelta;
        const int32_t* e = v.ErrorSums;
        Rest = Lanes{e[0], e[9], e[10], 0};
        Minus = Lanes{e[1], e[3], e[5], e[7]};
        Plus = Lanes{e[2], e[4], e[6], e[8]};
        Count = v.SampleCount;
        PrevByte = v.PrevByte;
    }
    QV_HOT void To(ChannelPredictor& v) const {
        std::memcpy(v.Weights, W, sizeof(W));
        v.DeltaHistory[0] = H0;
        v.DeltaHistory[1] = H1;
        v.DeltaHistory[2] = H2;
        v.DeltaHistory[3] = H3;
        v.PrevDelta = PrevDelta;
        int32_t* e = v.ErrorSums;
        e[0] = Rest[0];
        e[9] = Rest[1];
        e[10] = Rest[2];
        for (int k = 0; k < 4; ++k) {
            e[2 * k + 1] = Minus[k];
            e[2 * k + 2] = Plus[k];
        }
        v.SampleCount = Count;
        v.PrevByte = PrevByte;
    }
    // BeginPrediction and FinishPrediction in one.
    QV_HOT uint8_t Step(int32_t delta, int32_t& cross) {
        Count = static_cast<int32_t>(static_cast<uint32_t>(Count) + 1u);
        H3 = H2;
        H2 = H1;
        H1 = PrevDelta - H0;
        H0 = PrevDelta;
        const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(PrevByte) * 8u) + W[0] * H0 +
                          W[1] * H1 + W[2] * H2 + W[3] * H3 + W[4] * cross;
        const int32_t b = ((p >> 3) & 0xFF) - delta;
        const int32_t e = 8 * SignedByte(delta);
        const Lanes ev = {e, e, e, e};
        const Lanes h = {H0, H1, H2, H3};
        Lanes m = ev - h;
        Lanes q = ev + h;
        m = (m ^ (m >> 31)) - (m >> 31);
        q = (q ^ (q >> 31)) - (q >> 31);
        Lanes r = ev - Lanes{0, cross, -cross, 0};
        r = (r ^ (r >> 31)) - (r >> 31);
        Minus += m;
        Plus += q;
        Rest += r;
        const int32_t d = SignedByte(b - PrevByte);
        PrevDelta = d;
        cross = d;
        PrevByte = b;
        if ((Count & 0x1F) == 0) Adapt();
        return static_cast<uint8_t>(b & 0xFF);
    }
    void Adapt() {
        const int32_t sums[11] = {Rest[0], Minus[0], Plus[0], Minus[1], Plus[1], Minus[2],
                                  Plus[2], Minus[3], Plus[3], Rest[1],  Rest[2]};
        int best = 0;
        int32_t least = sums[0];
        for (int k = 1; k <= 10; ++k) {
            if (sums[k] < least) {
                least = sums[k];
                best = k;
            }
        }
        Rest = Lanes{0, 0, 0, 0};
        Minus = Lanes{0, 0, 0, 0};
        Plus = Lanes{0, 0, 0, 0};
        if (best != 0) {
            int32_t& w = W[(best - 1) / 2];
            if (best & 1) {
                if (w >= -16) w -= 1;
            } else {
                if (w < 16) w += 1;
            }
        }
    }
};

template <int Channels>
QV_HOT int32_t AudioRun(WideCursor& in, uint8_t* to, int32_t steps, bool& change) {
    Unpacker& u = Unp;
    const int32_t first = u.CurrentChannel;
    RunChannel p[Channels];
    const HuffmanTable* tables[Channels];
    for (int c = 0; c < Channels; ++c) {
        const int32_t real = (first + c) % Channels;
        p[c].From(u.Predictors[real]);
        tables[c] = &u.AudioTables[real];
    }
    int32_t cross = u.CrossDelta;
    int32_t k = 0;
    int32_t c = 0;
    for (;;) {
        // One byte per channel, in channel order.
#pragma GCC unroll 4
        for (c = 0; c < Channels; ++c) {
            if (k == steps) goto done;
            in.Refill();
            const int32_t s = in.Decode(*tables[c]);
            if (s == kAudioBlockChange) {
                change = true;
                goto done;
            }
            to[k] = p[c].Step(s, cross);
            ++k;
        }
    }
done:
    for (int i = 0; i < Channels; ++i) p[i].To(u.Predictors[(first + i) % Channels]);
    u.CurrentChannel = (first + c) % Channels;
    u.CrossDelta = cross;
    return k;
}

}  // namespace

uint8_t PredictByte(int32_t delta) {
    return Predict(delta);
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
    WideCursor in;
    in.Start(u.InputBuffer, u.InputPos, u.BitOffset);
    int32_t windowPos = u.WindowPos;
    int32_t outputLeft = WrapAdd(u.OutputLeft, -1);
    // Changed only by the out-of-line steps, so read again after them.
    // The step-top test fires once InputPos > StepCheckPos, here in bits.
    int32_t stepCheckBits = (u.StepCheckPos + 1) * 8;
    int32_t flushedPos = u.FlushedPos;
    bool audioMode = u.AudioMode;
    uint8_t* const out = u.Window;
    auto save = [&] {
        u.InputPos = in.Pos();
        u.BitOffset = in.Bit();
        u.WindowPos = windowPos;
        u.OutputLeft = outputLeft;
    };
    auto load = [&] {
        in.Start(u.InputBuffer, u.InputPos, u.BitOffset);
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
        // One step reads at most 51 bits.
        in.Refill();
        if ((outputLeft & 0xFFF) == 0) NotifyProgress(outputLeft);
        windowPos &= kWindowMask;
        if (((flushedPos - windowPos) & kWindowMask) < 270 && flushedPos != windowPos) {
            save();
            FlushWindow();
            load();
        }

        if (audioMode) {
            // This step and the ones after it, up to the first whose top
            // would do something (report progress, refill or stop at the
            // overrun point, flush, mask the window position), run as one
            // tight loop. Each takes at most 15 bits and gives one byte.
            const int32_t steps =
                QuietAudioSteps(in.BitPos(), stepCheckBits, outputLeft, windowPos, flushedPos);
            bool change = false;
            int32_t k;
#if defined(__OPTIMIZE_SIZE__)
            // Builds for size (the product) take one plain loop for every
            // channel count instead of four unrolled ones.
            k = AudioRunSmall(in, out + windowPos, steps, change);
#else
            switch (u.ChannelCount) {
                case 1:
                    k = AudioRun<1>(in, out + windowPos, steps, change);
                    break;
                case 2:
                    k = AudioRun<2>(in, out + windowPos, steps, change);
                    break;
                case 3:
                    k = AudioRun<3>(in, out + windowPos, steps, change);
                    break;
                default:
                    k = AudioRun<4>(in, out + windowPos, steps, change);
                    break;
            }
#endif
            windowPos += k;
            outputLeft -= k;
            if (change) {
                save();
                ReadCodeTables();
                load();
            }
            continue;
        }

        const int32_t s = in.Decode(u.LiteralTable);
        if (s < 256) {
            out[windowPos] = static_cast<uint8_t>(s);
            windowPos += 1;
            outputLeft -= 1;
        } else if (s >= kSymbolMatchFirst) {
            // Length slot with its extra bits, a distance symbol with its
            // extra bits, then the far-distance bumps.
            const int32_t slot = s - kSymbolMatchFirst;
            int32_t length = kSlots.LengthBase[slot] + 3;
            if (kSlots.LengthExtraBits[slot] > 0) length += in.Field(kSlots.LengthExtraBits[slot]);
            const int32_t d = in.Decode(u.DistanceTable);
            int32_t distance = kSlots.DistanceBase[d] + 1;
            if (kSlots.DistanceExtraBits[d] > 0) distance += in.Field(kSlots.DistanceExtraBits[d]);
            if (distance >= kFarDistance2) length += 1;
            if (distance >= kFarDistance1) length += 1;
            CopyMatchAt(length, distance, windowPos, outputLeft);
        } else if (s == kSymbolBlockChange) {
            save();
            ReadCodeTables();
            load();
        } else if (s == kSymbolRepeatMatch) {
            CopyMatchAt(u.PrevMatchLength, u.PrevMatchDistance, windowPos, outputLeft);
        } else if (s < kSymbolShortFirst) {
            const int32_t distance = u.RecentDistances[WrapAdd(u.RecentIndex, 256 - s) & 3];
            const int32_t r = in.Decode(u.RepeatLengthTable);
            int32_t length = kSlots.LengthBase[r] + 2;
            if (kSlots.LengthExtraBits[r] > 0) length += in.Field(kSlots.LengthExtraBits[r]);
            if (distance >= kFarDistance2) length += 1;
            if (distance >= kFarDistance1) length += 1;
            if (distance >= kRecentNearLimit) length += 1;
            CopyMatchAt(length, distance, windowPos, outputLeft);
        } else {
            const int32_t k = s - kSymbolShortFirst;
            const int32_t distance =
                kSlots.ShortDistanceBase[k] + 1 + in.Field(kSlots.ShortDistanceExtraBits[k]);
            CopyMatchAt(2, distance, windowPos, outputLeft);
        }
    }
    save();
    ReadTrailingTables();
    FlushWindow();
}

void CopyStored() {
    Unpacker& u = Unp;
    for (;;) {
        const int32_t got = ReadPacked(u.Window, 0x7F00);
        if (got <= 0) return;
        const int32_t n = got < u.OutputLeft ? got : u.OutputLeft;
        // Nothing is written once the unpacked size is reached, nor for a
        // size of 2^31 or more (a negative count).
        if (n > 0) EmitOutput(u.Window, n);
        if (u.OutputLeft >= 0) u.OutputLeft -= n;
    }
}
