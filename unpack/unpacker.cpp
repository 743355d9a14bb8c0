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

#include "unpack/decoder_parts.h"

namespace {

// Unsigned arithmetic where a 32-bit count may wrap, so that damaged sizes
// never reach undefined behaviour.
inline int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Where the step-top test fires next: at the refill point, or earlier once
// the reader would be more than kOverrunLimit bytes past the packed data.
void UpdateStepCheck(Unpacker& u) {
    const int64_t overrun = u.PackedDelivered + kOverrunLimit - u.InputBase;
    u.StepCheckPos = overrun < kRefillStep ? static_cast<int32_t>(overrun) : kRefillStep;
}

bool OverrunPassed(const Unpacker& u, int32_t pos) {
    return u.InputBase + pos > u.PackedDelivered + kOverrunLimit;
}

}  // namespace

// ---------------------------------------------------------------------------
// Bit input

int32_t ReadPacked(Unpacker& u, uint8_t* destination, int32_t count) {
    if (count > u.PackedRemaining) count = u.PackedRemaining;
    // Also refuses a negative remainder (a packed size of 2^31 or more).
    if (count <= 0 || u.Input.Function == nullptr) return 0;
    int32_t got = u.Input.Function(u.Input.Context, destination, count);
    if (got < 0 || got > count) got = 0;
    u.PackedRemaining -= got;
    u.PackedDelivered += got;
    return got;
}

void FillInput(Unpacker& u, bool first) {
    if (first) {
        u.InputEnd = ReadPacked(u, u.InputBuffer, kInputSize);
        u.InputPos = 0;
        u.InputBase = 0;
    } else {
        std::memmove(u.InputBuffer, u.InputBuffer + kInputSize - kInputKeep, kInputKeep);
        u.InputBase += kInputSize - kInputKeep;
        u.InputPos &= kInputKeep - 1;
        const int32_t got = ReadPacked(u, u.InputBuffer + kInputKeep, kInputSize - kInputKeep);
        u.InputEnd = got > 0 ? got + kInputKeep : u.InputPos;
    }
    UpdateStepCheck(u);
}

BitReader RefillAt(Unpacker& u, const BitReader& in) {
    StoreReader(u, in);
    FillInput(u, false);
    return ReaderAt(u);
}

// ---------------------------------------------------------------------------
// Huffman decoding of the codes without a fast entry

// The symbol and length of the code in peek, as a fast entry would give them.
uint32_t BitReader::SlowEntry(const HuffmanTable& table, uint32_t peek) {
    int32_t length = 0;
    const int32_t symbol = DecodeByLimits(table, peek & 0xFFFE, length);
    return static_cast<uint32_t>(symbol) << kFastSymbolShift | static_cast<uint32_t>(length);
}

// ---------------------------------------------------------------------------
// Output

namespace {

void ReportProgress(const Unpacker& u, int32_t outputLeft) {
    if (u.Progress.Function != nullptr) u.Progress.Function(u.Progress.Context, outputLeft);
}

// Writes out the window from FlushedPos up to windowPos.
void FlushWindow(Unpacker& u, int32_t windowPos) {
    if (windowPos < u.FlushedPos) {
        EmitOutput(u, u.Window + u.FlushedPos, kWindowSize - u.FlushedPos);
        EmitOutput(u, u.Window, windowPos);
    } else {
        EmitOutput(u, u.Window + u.FlushedPos, windowPos - u.FlushedPos);
    }
    u.FlushedPos = windowPos;
}

// ---------------------------------------------------------------------------
// LZ decoding

// A match copy's piece: two machine words.
constexpr int32_t kCopyPiece = 2 * sizeof(BitWord);

// Whole pieces from a source at least a piece behind (or ahead), so that
// they read only bytes that are already final. The last piece may write
// past the match's end: those bytes are history still, so they are read
// before and written back after.
QV_HOT void CopyPieces(uint8_t* d, const uint8_t* f, int32_t length) {
    uint8_t after[kCopyPiece];
    uint8_t piece[kCopyPiece];
    std::memcpy(after, d + length, kCopyPiece);
    int32_t o = 0;
    do {
        std::memcpy(piece, f + o, kCopyPiece);
        std::memcpy(d + o, piece, kCopyPiece);
        o += kCopyPiece;
    } while (o < length);
    std::memcpy(d + length, after, kCopyPiece);
}
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
// faster where that gives the same bytes. Works on the loop's own window
// position, which it advances by length without masking (the next step
// top masks it), so that a run of steps ends at the window's end.
QV_HOT void CopyMatch(Unpacker& u, int32_t length, int32_t distance, int32_t& windowPos) {
    u.RecentDistances[u.RecentIndex & 3] = distance;
    u.RecentIndex = WrapAdd(u.RecentIndex, 1);
    u.PrevMatchDistance = distance;
    u.PrevMatchLength = length;

    uint8_t* const window = u.Window;
    int32_t pos = windowPos & kWindowMask;
    windowPos = pos + length;
    // Most matches: a source at least a piece behind, in the same pass
    // through the window, and room for the last piece.
    if (distance >= kCopyPiece && distance <= pos && pos + length <= kWindowSize - kCopyPiece) {
        CopyPieces(window + pos, window + pos - distance, length);
        return;
    }
    const int32_t from = WrapAdd(pos, -distance) & kWindowMask;
    // A source at or past the write position (a distance beyond the
    // window's start, 0, or the whole window) before the window has
    // wrapped: its bytes past what was written read as zeros. Cleared
    // here, before the copy reads them; the copy writes each only after
    // reading it there.
    if (__builtin_expect(from >= pos, 0) && u.WindowFilled < kWindowSize) {
        const int32_t start = std::max({from, pos, u.WindowFilled});
        const int32_t end = std::min(from + length, kWindowSize);
        if (start < end) std::memset(window + start, 0, static_cast<size_t>(end - start));
    }
    // The same from a source at least a piece ahead (the history before
    // the window's wrap).
    if (distance >= kCopyPiece && distance <= kWindowSize - kCopyPiece &&
        pos + length <= kWindowSize - kCopyPiece && from + length <= kWindowSize - kCopyPiece) {
        CopyPieces(window + pos, window + from, length);
        return;
    }
    if (pos + length <= kWindowSize && from + length <= kWindowSize) {
        // Neither end wraps. With the source at least 8 bytes behind (or,
        // seen the other way round, at least 8 ahead), wide pieces read
        // only bytes that are already final; the last piece may overlap the
        // one before it and rewrites the same values. (Where pieces are 8
        // bytes, as in a 32-bit build, only the window's last bytes come
        // here: not worth the code.)
        if (kCopyPiece > 8 && distance >= 8 && distance <= kWindowSize - 8) {
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
        return;
    }
    for (int32_t n = 0; n < length; ++n) {
        window[pos] = window[WrapAdd(pos, -distance) & kWindowMask];
        pos = (pos + 1) & kWindowMask;
    }
}

// A literal-table step entry of a literal byte (symbol below 256).
QV_HOT bool IsLiteralStep(uint32_t step) {
    return step - 1u < (256u << kStepValueShift) - 1u;
}
// Literals that a run decodes after the first one from the same refill: a
// refill leaves kMinBits valid bits, each literal takes up to kFastBits,
// and a lookup needs kFastBits.
constexpr int32_t kMoreLiterals = (BitReader::kMinBits - 2 * kFastBits) / kFastBits + 1;
static_assert(BitReader::kMinBits - kFastBits * (kMoreLiterals + 1) >= 0);

// ---------------------------------------------------------------------------
// Multimedia decoding

// Counts the multimedia steps, from the one about to run, whose step tops
// fire nothing. Called after this step's top; every bound is at least 1.
QV_HOT int32_t QuietAudioSteps(int32_t bitPos, int32_t stepCheckBits, int32_t outputLeft,
                               int32_t windowPos, int32_t flushedPos) {
    // Progress fires at the next multiple of kProgressInterval below
    // outputLeft; the loop ends after outputLeft reaches 0.
    int32_t n = ((outputLeft - 1) & (kProgressInterval - 1)) + 1;
    // Compared without outputLeft + 1, which overflows for an entry of
    // 2^31 bytes (outputLeft 2^31 - 1).
    if (n - 1 > outputLeft) n = outputLeft + 1;
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

}  // namespace

// ---------------------------------------------------------------------------
// The decoding loop

void ResetUnpacker(Unpacker& u, const UnpackHooks& hooks, uint8_t* window, bool windowZero) {
    // Every field's fresh value is zero (unpacker_state.h); no 45 KB
    // temporary on the stack.
    std::memset(static_cast<void*>(&u), 0, sizeof(u));
    AttachUnpacker(u, hooks, window, windowZero);
}

void AttachUnpacker(Unpacker& u, const UnpackHooks& hooks, uint8_t* window, bool windowZero) {
    u.Input = hooks.Input;
    u.Output = hooks.Output;
    u.Progress = hooks.Progress;
    u.Window = window;
    u.WindowFilled = windowZero ? kWindowSize : 0;
}

bool TablesRead(const Unpacker& u) {
    return u.TablesRead;
}

void UnpackEntry(Unpacker& u, int32_t packedSize, int32_t unpackedSize, bool solid) {
    u.PackedRemaining = packedSize;
    u.OutputLeft = unpackedSize;
    StartEntry(u, solid);
    FillInput(u, true);
    BitReader in = ReaderAt(u);
    if (!solid) in = ReadCodeTables(u, BitReader(in));

    // The loop's own state lives in locals (the compiler can't keep fields
    // in registers across stores into the window); the out-of-line steps
    // take what they need as arguments and give back what they change.
    int32_t windowPos = u.WindowPos;
    int32_t outputLeft = WrapAdd(u.OutputLeft, -1);
    // Changed only by the out-of-line steps, so read again after them.
    // The step-top test fires once InputPos > StepCheckPos, here in bits.
    int32_t stepCheckBits = (u.StepCheckPos + 1) * 8;
    int32_t flushedPos = u.FlushedPos;
    bool audioMode = u.AudioMode;
    uint8_t* const out = u.Window;
    // After a code-table block: its mode, and the refills it made.
    auto tablesRead = [&] {
        stepCheckBits = (u.StepCheckPos + 1) * 8;
        audioMode = u.AudioMode;
    };

    while (outputLeft >= 0) {
        // The one test of running out of input (unpacker_state.h): it
        // covers both the refill point and the overrun guard.
        if (in.BitPos() >= stepCheckBits) {
            if (OverrunPassed(u, in.Pos())) break;
            if (in.Pos() > kRefillStep) {
                in = RefillAt(u, BitReader(in));
                stepCheckBits = (u.StepCheckPos + 1) * 8;
            }
        }
        in.Refill();
        if ((outputLeft & (kProgressInterval - 1)) == 0) ReportProgress(u, outputLeft);
        // The window has filled once its write position wraps.
        if (windowPos >= kWindowSize) {
            windowPos -= kWindowSize;
            u.WindowFilled = kWindowSize;
        }
        if (((flushedPos - windowPos) & kWindowMask) < kFlushGuard && flushedPos != windowPos) {
            FlushWindow(u, windowPos);
            flushedPos = windowPos;
        }

        if (audioMode) {
            // This step and the ones after it, up to the first whose top
            // would do something, run as one.
            const int32_t steps =
                QuietAudioSteps(in.BitPos(), stepCheckBits, outputLeft, windowPos, flushedPos);
            bool change = false;
            // Through a copy, so that the loop's reader itself never has
            // its address taken and stays in registers.
            BitReader reader = in;
            const int32_t k = AudioRun(u, reader, out + windowPos, steps, change);
            in = reader;
            windowPos += k;
            outputLeft -= k;
            if (change) {
                in = ReadCodeTables(u, BitReader(in));
                tablesRead();
            }
            continue;
        }

        // This step and the ones after it, up to the first whose top would
        // do something, run as one. The window position is not masked in
        // the run: it only grows, and the tops stay quiet while it is below
        // stopPos (the next progress multiple of outputLeft, or 0; the
        // window's end; the flush guard) and while the reader's next fetch
        // is at most at StepCheckPos (the read position is never past it).
        const int32_t runStart = windowPos;
        int32_t stopPos = QuietWindowLimit(windowPos, flushedPos);
        {
            // Bytes to produce until outputLeft reaches its next multiple
            // of kProgressInterval below (or -1): 1..kProgressInterval.
            const int32_t toMark =
                outputLeft > 0 ? outputLeft - ((outputLeft - 1) & -kProgressInterval) : 1;
            if (stopPos - windowPos > toMark) stopPos = windowPos + toMark;
        }
        const int32_t checkNext = stepCheckBits / 8 - 1;
        bool tables = false;
        // The most extra bits of a length and of a short distance: the reads
        // between refills of a 32-bit reader (RefillAfter).
        constexpr int32_t kLengthExtra = kSlots.LengthExtraBits[kRepeatLengthSymbols - 1];
        constexpr int32_t kShortExtra = kSlots.ShortDistanceExtraBits[7];
        constexpr int32_t kMaxLiteralStepBits = kMaxCodeLength + kLengthExtra;
        constexpr int32_t kMaxDistanceExtra = kSlots.DistanceExtraBits[kDistanceSymbols - 1];
        // Each step's refill and first lookup are made at the end of the
        // step before (before its copy, which then overlaps the lookup). A
        // refill keeps the top bits, so an entry looked up before it stays
        // good; one made early only makes the fetch guard stricter.
        in.Refill();
        uint32_t step = u.LiteralSteps[in.Bits >> (kWordBits - kFastBits)];
        const auto nextStep = [&] {
            in.Refill();
            step = u.LiteralSteps[in.Bits >> (kWordBits - kFastBits)];
        };
        do {
            if (IsLiteralStep(step)) {
                // A literal, and more of them from the same refill, each a
                // step of its own whose top is quiet: a fast code leaves at
                // least kFastBits valid bits for the next lookup.
                in.Skip(step);
                out[windowPos++] = static_cast<uint8_t>(step >> kStepValueShift);
                int32_t more = in.Next <= checkNext ? kMoreLiterals : 0;
                for (;;) {
                    if (more == 0 || windowPos >= stopPos) {
                        nextStep();
                        break;
                    }
                    step = u.LiteralSteps[in.Bits >> (kWordBits - kFastBits)];
                    if (!IsLiteralStep(step)) {
                        // Looked up with kFastBits valid bits: the next step's.
                        in.Refill();
                        break;
                    }
                    in.Skip(step);
                    out[windowPos++] = static_cast<uint8_t>(step >> kStepValueShift);
                    --more;
                }
                continue;
            }
            // A longer code: the format's rule, and its symbol's entry.
            if (step == 0) {
                const uint32_t code = BitReader::SlowEntry(u.LiteralTable, in.Peek16());
                step = LiteralStepOf(static_cast<int32_t>(code >> kFastSymbolShift)) +
                       (code & kFastLengthMask);
            }
            // Every kind of match ends in the one copy below.
            int32_t length;
            int32_t distance;
            if (step >= kStepMatch << kStepValueShift) {
                // A length slot with its extra bits, a distance code with
                // its extra bits, then the far-distance bumps.
                length = in.TakeStep(step) - static_cast<int32_t>(kStepMatch);
                in.RefillAfter<kMaxLiteralStepBits, kFastBits + kMaxDistanceExtra>();
                const uint32_t d = u.DistanceSteps[in.Bits >> (kWordBits - kFastBits)];
                if (d != 0) {
                    distance = in.TakeStep(d);
                } else {
                    const uint32_t code = BitReader::SlowEntry(u.DistanceTable, in.Peek16());
                    const uint32_t ds =
                        DistanceStepOf(static_cast<int32_t>(code >> kFastSymbolShift));
                    in.Skip(code);
                    in.RefillAfter<kMaxLiteralStepBits + kMaxCodeLength, kMaxDistanceExtra>();
                    distance = static_cast<int32_t>(ds >> kStepValueShift) +
                               in.Extra((ds >> kStepExtraShift) & 31);
                }
                if (distance >= kFarDistance2) length += 1;
                if (distance >= kFarDistance1) length += 1;
            } else {
                // A symbol without extra bits of its own.
                const int32_t s = static_cast<int32_t>(step >> kStepValueShift);
                in.Skip(step);
                if (s < 256) {
                    out[windowPos++] = static_cast<uint8_t>(s);
                    nextStep();
                    continue;
                }
                if (s == kSymbolBlockChange) {
                    tables = true;
                    break;
                }
                if (s == kSymbolRepeatMatch) {
                    length = u.PrevMatchLength;
                    distance = u.PrevMatchDistance;
                    // A repeat before any match produces nothing: the next top
                    // is on the same count and reports again if this one did.
                    if (length == 0) stopPos = windowPos;
                } else if (s < kSymbolShortFirst) {
                    distance = u.RecentDistances[WrapAdd(u.RecentIndex, 256 - s) & 3];
                    in.RefillAfter<kMaxCodeLength, 16>();
                    const int32_t r = in.Decode(u.RepeatLengthTable);
                    length = kSlots.LengthBase[r] + 2;
                    in.RefillAfter<2 * kMaxCodeLength, kLengthExtra>();
                    if (kSlots.LengthExtraBits[r] > 0)
                        length += in.Field(kSlots.LengthExtraBits[r]);
                    if (distance >= kFarDistance2) length += 1;
                    if (distance >= kFarDistance1) length += 1;
                    if (distance >= kRecentNearLimit) length += 1;
                } else {
                    const int32_t k = s - kSymbolShortFirst;
                    in.RefillAfter<kMaxCodeLength, kShortExtra>();
                    distance = kSlots.ShortDistanceBase[k] + 1 +
                               in.Field(kSlots.ShortDistanceExtraBits[k]);
                    length = 2;
                }
            }
            nextStep();
            CopyMatch(u, length, distance, windowPos);
        } while (windowPos < stopPos && in.Next <= checkNext);
        outputLeft = WrapAdd(outputLeft, runStart - windowPos);
        if (tables) {
            in = ReadCodeTables(u, BitReader(in));
            tablesRead();
        }
    }
    StoreReader(u, in);
    u.WindowPos = windowPos;
    u.WindowFilled = std::max(u.WindowFilled, windowPos & kWindowMask);
    if (windowPos >= kWindowSize) u.WindowFilled = kWindowSize;
    u.OutputLeft = outputLeft;
    ReadTrailingTables(u);
    FlushWindow(u, u.WindowPos);
}
