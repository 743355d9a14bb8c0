// The fixed parts of the method-20 stream, shared by the decoder and the
// writer in pack/: alphabet sizes, special symbols, the slot tables of
// lengths and distances, and the multimedia predictor. Header-only so that
// both sides run literally the same code.
#pragma once

#include <cstdint>

// Alphabets of an LZ code-table block, in the order their lengths are sent.
constexpr int kLiteralSymbols = 298;
constexpr int kDistanceSymbols = 48;
constexpr int kRepeatLengthSymbols = 28;
constexpr int kLzTableSize = kLiteralSymbols + kDistanceSymbols + kRepeatLengthSymbols;  // 374
// A multimedia block sends 257 lengths per channel, up to four channels.
constexpr int kAudioSymbols = 257;
constexpr int kMaxChannels = 4;
constexpr int kMaxTableSize = kAudioSymbols * kMaxChannels;  // 1028
// The pre-code that codes the code lengths.
constexpr int kPreSymbols = 19;
constexpr int kMaxCodeLength = 15;

// Symbols of the literal table above the 256 literal bytes.
constexpr int kSymbolRepeatMatch = 256;  // same length and distance as the last match
constexpr int kSymbolRecentFirst = 257;  // 257..260: 1st..4th most recent distance
constexpr int kSymbolShortFirst = 261;   // 261..268: length 2, short distance slot
constexpr int kSymbolBlockChange = 269;  // a code-table block follows
constexpr int kSymbolMatchFirst = 270;   // 270..297: length slot, then a distance symbol
// In a multimedia table 0..255 are deltas and 256 announces a code-table block.
constexpr int kAudioBlockChange = 256;

// Pre-code symbols: 0..15 delta to the previous length, then three runs.
constexpr int kPreRepeatPrevious = 16;  // 2-bit count + 3
constexpr int kPreShortZeros = 17;      // 3-bit count + 3
constexpr int kPreLongZeros = 18;       // 7-bit count + 11

// Bumps that far matches get on top of their coded length (a far match has
// to be longer to pay for its distance bits).
constexpr int32_t kFarDistance1 = 0x2000;    // 8,192
constexpr int32_t kFarDistance2 = 0x40000;   // 262,144
constexpr int32_t kRecentNearLimit = 0x101;  // 257: recent matches only

// Slot tables. Each is given by its extra-bit counts; the bases follow from
// base[0] = 0 and base[i + 1] = base[i] + 2^extra[i], so the slots tile their
// range without gaps.
struct SlotTables {
    int32_t LengthBase[kRepeatLengthSymbols];
    uint8_t LengthExtraBits[kRepeatLengthSymbols];
    int32_t DistanceBase[kDistanceSymbols];
    uint8_t DistanceExtraBits[kDistanceSymbols];
    int32_t ShortDistanceBase[8];
    uint8_t ShortDistanceExtraBits[8];
};

constexpr SlotTables MakeSlotTables() {
    SlotTables t{};
    // Lengths: eight single slots, then groups of four with 1..5 extra bits.
    for (int i = 0; i < kRepeatLengthSymbols; ++i) t.LengthExtraBits[i] = i < 8 ? 0 : (i - 4) / 4;
    // Distances: four single slots, two slots per count 1..15, then 16 bits.
    for (int i = 0; i < kDistanceSymbols; ++i) {
        t.DistanceExtraBits[i] = i < 4 ? 0 : (i < 34 ? (i - 2) / 2 : 16);
    }
    // Short distances: 2, 2, then one more bit per slot up to 6.
    for (int i = 0; i < 8; ++i) t.ShortDistanceExtraBits[i] = i < 2 ? 2 : (i + 1 < 6 ? i + 1 : 6);
    t.LengthBase[0] = t.DistanceBase[0] = t.ShortDistanceBase[0] = 0;
    for (int i = 1; i < kRepeatLengthSymbols; ++i) {
        t.LengthBase[i] = t.LengthBase[i - 1] + (1 << t.LengthExtraBits[i - 1]);
    }
    for (int i = 1; i < kDistanceSymbols; ++i) {
        t.DistanceBase[i] = t.DistanceBase[i - 1] + (1 << t.DistanceExtraBits[i - 1]);
    }
    for (int i = 1; i < 8; ++i) {
        t.ShortDistanceBase[i] =
            t.ShortDistanceBase[i - 1] + (1 << t.ShortDistanceExtraBits[i - 1]);
    }
    return t;
}

inline constexpr SlotTables kSlots = MakeSlotTables();

// The longest codable distance equals the window size.
static_assert(kSlots.DistanceBase[kDistanceSymbols - 1] + (1 << 16) == 0x100000);
static_assert(kSlots.LengthBase[kRepeatLengthSymbols - 1] + (1 << 5) == 256);
static_assert(kSlots.ShortDistanceBase[7] + (1 << 6) == 256);

// One multimedia channel's predictor. Fields in the order of the record.
struct ChannelPredictor {
    int32_t Weights[5];
    int32_t DeltaHistory[4];
    int32_t PrevDelta;
    int32_t ErrorSums[11];
    int32_t SampleCount;
    int32_t PrevByte;
};

inline int32_t AbsoluteValue(int32_t v) {
    return v < 0 ? -v : v;
}
inline int32_t SignedByte(int32_t v) {
    return static_cast<int32_t>(static_cast<int8_t>(v & 0xFF));
}

// First half of a byte: counts it, shifts the delta history and returns
// the predicted byte 0..255. Every value here is small (weights -17..16,
// terms -255..255), so the 32-bit sum cannot overflow.
inline int32_t BeginPrediction(ChannelPredictor& v, int32_t crossDelta) {
    // Wraps instead of overflowing on a (theoretical) endless solid stream.
    v.SampleCount = static_cast<int32_t>(static_cast<uint32_t>(v.SampleCount) + 1u);
    int32_t* h = v.DeltaHistory;
    h[3] = h[2];
    h[2] = h[1];
    h[1] = v.PrevDelta - h[0];
    h[0] = v.PrevDelta;
    const int32_t* w = v.Weights;
    // 8 * PrevByte through unsigned: only its low 8 bits reach bits 3..10.
    const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(v.PrevByte) * 8u) + w[0] * h[0] +
                      w[1] * h[1] + w[2] * h[2] + w[3] * h[3] + w[4] * crossDelta;
    return (p >> 3) & 0xFF;
}

// Second half: given the prediction and the coded delta 0..255, updates the
// error sums, the deltas and (every 32nd byte of the channel) the weights;
// returns the output byte.
inline uint8_t FinishPrediction(ChannelPredictor& v, int32_t& crossDelta, int32_t predicted,
                                int32_t delta) {
    const int32_t b = predicted - delta;
    const int32_t e = 8 * SignedByte(delta);
    const int32_t* h = v.DeltaHistory;
    int32_t* s = v.ErrorSums;
    s[0] += AbsoluteValue(e);
    s[1] += AbsoluteValue(e - h[0]);
    s[2] += AbsoluteValue(e + h[0]);
    s[3] += AbsoluteValue(e - h[1]);
    s[4] += AbsoluteValue(e + h[1]);
    s[5] += AbsoluteValue(e - h[2]);
    s[6] += AbsoluteValue(e + h[2]);
    s[7] += AbsoluteValue(e - h[3]);
    s[8] += AbsoluteValue(e + h[3]);
    s[9] += AbsoluteValue(e - crossDelta);
    s[10] += AbsoluteValue(e + crossDelta);
    crossDelta = v.PrevDelta = SignedByte(b - v.PrevByte);
    v.PrevByte = b;
    if ((v.SampleCount & 0x1F) == 0) {
        int best = 0;
        int32_t least = s[0];
        s[0] = 0;
        for (int k = 1; k <= 10; ++k) {
            if (s[k] < least) {
                least = s[k];
                best = k;
            }
            s[k] = 0;
        }
        if (best != 0) {
            // Odd candidates subtracted their term: lower its weight; even
            // ones raise it. Weights stay within -17..16.
            int32_t& w = v.Weights[(best - 1) / 2];
            if (best & 1) {
                if (w >= -16) w -= 1;
            } else {
                if (w < 16) w += 1;
            }
        }
    }
    return static_cast<uint8_t>(b & 0xFF);
}
