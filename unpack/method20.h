// The fixed parts of the method-20 stream, shared by the decoder and the
// writer in pack/: alphabet sizes, special symbols, the slot tables of
// lengths and distances, and the multimedia predictor. Header-only so that
// both sides run literally the same code.
#pragma once

#include <cstdint>
#include <cstring>

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
    const int32_t h0 = v.PrevDelta;
    const int32_t h1 = v.PrevDelta - h[0];
    const int32_t h2 = h[1];
    const int32_t h3 = h[2];
    h[0] = h0;
    h[1] = h1;
    h[2] = h2;
    h[3] = h3;
    const int32_t* w = v.Weights;
    // 8 * PrevByte through unsigned: only its low 8 bits reach bits 3..10.
    const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(v.PrevByte) * 8u) + w[0] * h0 +
                      w[1] * h1 + w[2] * h2 + w[3] * h3 + w[4] * crossDelta;
    return (p >> 3) & 0xFF;
}

// Second half: given the prediction and the coded delta 0..255, updates the
// error sums, the deltas and (every 32nd byte of the channel) the weights;
// returns the output byte.
inline uint8_t FinishPrediction(ChannelPredictor& v, int32_t& crossDelta, int32_t predicted,
                                int32_t delta) {
    const int32_t b = predicted - delta;
    const int32_t e = 8 * SignedByte(delta);
    const int32_t cross = crossDelta;
    const int32_t* h = v.DeltaHistory;
    int32_t* s = v.ErrorSums;
    // E1..E8 are |e - Hk| and |e + Hk| for k = 0..3, side by side: two
    // 4-lane additions instead of eight scalar ones.
    typedef int32_t Lanes __attribute__((vector_size(16)));
    const Lanes ev = {e, e, e, e};
    const Lanes negate = {-1, 0, -1, 0};
    Lanes low = {h[0], h[0], h[1], h[1]};
    Lanes high = {h[2], h[2], h[3], h[3]};
    low = ev + ((low ^ negate) - negate);
    high = ev + ((high ^ negate) - negate);
    low = (low ^ (low >> 31)) - (low >> 31);
    high = (high ^ (high >> 31)) - (high >> 31);
    Lanes sumLow;
    Lanes sumHigh;
    std::memcpy(&sumLow, s + 1, sizeof(sumLow));
    std::memcpy(&sumHigh, s + 5, sizeof(sumHigh));
    sumLow += low;
    sumHigh += high;
    std::memcpy(s + 1, &sumLow, sizeof(sumLow));
    std::memcpy(s + 5, &sumHigh, sizeof(sumHigh));
    s[0] += AbsoluteValue(e);
    s[9] += AbsoluteValue(e - cross);
    s[10] += AbsoluteValue(e + cross);

    const int32_t d = SignedByte(b - v.PrevByte);
    v.PrevDelta = d;
    crossDelta = d;
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
