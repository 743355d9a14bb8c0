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

// One multimedia channel's predictor, shared by the decoder and the writer.
//
// The rule: a byte is the channel's previous byte plus a correction,
// (W0*H0 + W1*H1 + W2*H2 + W3*H3 + W4*cross) / 8, minus the coded delta,
// all modulo 256. H0..H3 come from the channel's last four byte deltas d1
// (newest) to d4: H0 = d1, H1 = d1 - d2, H2 = d2 - d3, H3 = d3 - d4; cross
// is the last byte delta of any channel. At every 32nd byte of the channel
// the weight of the term that would have erred least over those 32 bytes
// moves by one.
//
// What the rule needs per byte is less than it says:
// - Only bits 3..10 of the weighted sum reach the byte, so the new byte
//   delta follows from the sum alone; the previous byte is added back for
//   the output byte only.
// - The eleven error sums are read only at the 32nd byte. A byte records
//   its coded delta and the cross delta it saw (the terms follow from the
//   delta history), and the 32nd sums the window in one pass over 16-bit
//   lanes: a sum over 32 bytes stays below 2^16.
struct ChannelPredictor {
    int32_t Weights[5];   // W0..W4, within -17..16
    int32_t Factors[5];   // of d1, d2, d3, d4 and cross (SetFactors)
    int32_t SampleCount;  // bytes of this channel
    int32_t PrevDelta;    // d1
    uint8_t PrevByte;     // the channel's last byte
    // The window: the bytes since the last adaptation, slot SampleCount & 31.
    int8_t Codes[32];  // the coded delta as a signed byte
    // The four deltas before the window, then the window's own.
    int16_t Deltas[4 + 32];
    int16_t Cross[32];  // the cross delta each byte saw
};

constexpr int kErrorCandidates = 11;

inline int32_t SignedByte(int32_t v) {
    return static_cast<int32_t>(static_cast<int8_t>(v & 0xFF));
}

// The factors of d1..d4 and cross that give W0*H0 + ... + W3*H3 + W4*cross.
inline void SetFactors(ChannelPredictor& v) {
    const int32_t* w = v.Weights;
    const int32_t f[5] = {w[0] + w[1], w[2] - w[1], w[3] - w[2], -w[3], w[4]};
    for (int k = 0; k < 5; ++k) v.Factors[k] = f[k];
}

// The byte delta of the channel's next byte for a coded delta of 0..255.
inline int32_t NextByteDelta(const ChannelPredictor& v, int32_t cross, int32_t delta) {
    const int16_t* d = v.Deltas + (v.SampleCount & 31);  // d[2] is d2, d[0] is d4
    const int32_t* f = v.Factors;
    // Signed, so that the compiler keeps this order: the terms of the
    // bytes just before come last.
    const int32_t older = f[1] * d[2] + f[2] * d[1] + f[3] * d[0] - 8 * delta;
    return SignedByte((older + f[0] * v.PrevDelta + f[4] * cross) >> 3);
}

// The byte the channel predicts next (what a coded delta of 0 gives).
inline uint8_t PredictedByte(const ChannelPredictor& v, int32_t cross) {
    return static_cast<uint8_t>(v.PrevByte + NextByteDelta(v, cross, 0));
}

// The eleven candidate corrections' error sums over a full window: no
// correction, then each of H0, H1, H2, H3 and cross subtracted and added.
inline void WindowErrorSums(const ChannelPredictor& v, uint16_t (&sums)[kErrorCandidates]) {
    int16_t error[32];
    int16_t terms[5][32];
    for (int j = 0; j < 32; ++j) {
        const int16_t* d = v.Deltas + j;
        error[j] = static_cast<int16_t>(8 * v.Codes[j]);
        terms[0][j] = d[3];
        terms[1][j] = static_cast<int16_t>(d[3] - d[2]);
        terms[2][j] = static_cast<int16_t>(d[2] - d[1]);
        terms[3][j] = static_cast<int16_t>(d[1] - d[0]);
        terms[4][j] = v.Cross[j];
    }
    // |e - sign * t| fits 16 bits (|e| <= 1024, |t| <= 255), and 32 of them
    // fit an unsigned 16-bit sum.
    auto sum = [&error](const int16_t* t, int sign) {
        uint16_t s = 0;
        for (int j = 0; j < 32; ++j) {
            const int16_t x = static_cast<int16_t>(error[j] - sign * t[j]);
            s = static_cast<uint16_t>(s + (x < 0 ? -x : x));
        }
        return s;
    };
    static constexpr int16_t kNone[32] = {};
    sums[0] = sum(kNone, 1);
    for (int k = 0; k < 5; ++k) {
        sums[2 * k + 1] = sum(terms[k], 1);
        sums[2 * k + 2] = sum(terms[k], -1);
    }
}

// The candidate with the smallest sum; a tie keeps the lower index, so 0
// (no change) wins unless another is strictly better.
inline int BestCandidate(const uint16_t (&sums)[kErrorCandidates]) {
    int best = 0;
    for (int k = 1; k < kErrorCandidates; ++k) {
        if (sums[k] < sums[best]) best = k;
    }
    return best;
}

// Odd candidates subtracted their term: its weight goes down; even ones
// added it: up. Weights stay within -17..16.
inline void MoveWeight(ChannelPredictor& v, int best) {
    if (best == 0) return;
    int32_t& w = v.Weights[(best - 1) / 2];
    if (best & 1) {
        if (w >= -16) w -= 1;
    } else {
        if (w < 16) w += 1;
    }
    SetFactors(v);
}

// After the 32nd byte of a window: adapt, and start the next window with
// the last four deltas as its history.
[[gnu::noinline]] inline void AdaptWeights(ChannelPredictor& v) {
    uint16_t sums[kErrorCandidates];
    WindowErrorSums(v, sums);
    MoveWeight(v, BestCandidate(sums));
    std::memcpy(v.Deltas, v.Deltas + 32, 4 * sizeof(v.Deltas[0]));
}

// The channel's next byte from its coded delta (0..255): returns the byte
// and updates the channel and cross, all but the adaptation that follows
// the 32nd byte of a window (PredictByte does both).
inline uint8_t TakeByte(ChannelPredictor& v, int32_t& cross, int32_t delta) {
    const int32_t slot = v.SampleCount & 31;
    const int32_t d = NextByteDelta(v, cross, delta);
    v.Deltas[4 + slot] = static_cast<int16_t>(d);
    v.Codes[slot] = static_cast<int8_t>(delta);
    v.Cross[slot] = static_cast<int16_t>(cross);
    cross = d;
    v.PrevDelta = d;
    v.PrevByte = static_cast<uint8_t>(v.PrevByte + d);
    // Wraps instead of overflowing on a (theoretical) endless solid stream.
    v.SampleCount = static_cast<int32_t>(static_cast<uint32_t>(v.SampleCount) + 1u);
    return v.PrevByte;
}

inline uint8_t PredictByte(ChannelPredictor& v, int32_t& cross, int32_t delta) {
    const uint8_t b = TakeByte(v, cross, delta);
    if ((v.SampleCount & 31) == 0) AdaptWeights(v);
    return b;
}
