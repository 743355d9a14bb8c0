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
//   the output byte only. Those bits are the top byte of the sum shifted up
//   by 21, so the term of cross, the one that waits for the byte just
//   before (of any channel), costs a multiply, an add and a shift.
// - The eleven error sums are read only at the 32nd byte. A byte records
//   its error e (the coded delta as a signed byte, times 8) and the cross
//   delta it saw (the terms follow from the delta history), and the 32nd
//   sums the window in 16-bit values (a sum over 32 bytes stays below
//   2^16), which the compiler adds up eight or sixteen bytes at a time
//   where the processor has vector lanes.
// - The sum subtracts e in place of 8 times the coded delta: the two differ
//   by 0 or 2^11, which the shift by 21 drops, and e is what the window
//   records anyway.
constexpr int32_t kWeightMin = -17;
constexpr int32_t kWeightMax = 16;
struct ChannelPredictor {
    int32_t Weights[5];    // W0..W4, within kWeightMin..kWeightMax
    int32_t Factors[4];    // of d1, d2, d3 and d4 (SetFactors)
    uint32_t CrossFactor;  // W4 << 21
    int32_t SampleCount;   // bytes of this channel
    uint8_t PrevByte;      // the channel's last byte
    // The window: the bytes since the last adaptation, slot SampleCount & 31.
    int16_t Errors[32];  // e: the coded delta as a signed byte, times 8
    // The four deltas before the window, then the window's own.
    int16_t Deltas[4 + 32];
    int16_t Cross[32];  // the cross delta each byte saw
};

// W0*H0 + W1*H1 + W2*H2 + W3*H3 + W4*cross as factors of d1..d4 and cross.
inline void SetFactors(ChannelPredictor& v) {
    const int32_t* w = v.Weights;
    v.Factors[0] = w[0] + w[1];
    v.Factors[1] = w[2] - w[1];
    v.Factors[2] = w[3] - w[2];
    v.Factors[3] = -w[3];
    v.CrossFactor = static_cast<uint32_t>(w[4]) << 21;
}

// A coded delta's error e: the delta as a signed byte, times 8.
inline int32_t DeltaError(int32_t delta) {
    return static_cast<int8_t>(delta) * 8;
}

// The byte delta from own, the weighted delta history less e, and the
// cross term.
inline int32_t CombineDelta(int32_t own, uint32_t crossFactor, int32_t cross) {
    const uint32_t sum =
        (static_cast<uint32_t>(own) << 21) + crossFactor * static_cast<uint32_t>(cross);
    return static_cast<int32_t>(sum) >> 24;
}

// The byte delta for a coded delta of error e, from the delta history d
// (d[3] is d1, d[0] is d4), the Factors f and the CrossFactor. (The
// decoder's multimedia run keeps the factors in locals.)
inline int32_t ByteDelta(const int16_t* d, const int32_t* f, uint32_t crossFactor, int32_t cross,
                         int32_t e) {
    // Signed, so that the compiler keeps the order: d1, of this channel's
    // byte just before, last.
    return CombineDelta(f[3] * d[0] + f[2] * d[1] + f[1] * d[2] - e + f[0] * d[3], crossFactor,
                        cross);
}

// The byte delta of the channel's next byte for a coded delta of error e.
inline int32_t NextByteDelta(const ChannelPredictor& v, int32_t slot, int32_t cross, int32_t e) {
    return ByteDelta(v.Deltas + slot, v.Factors, v.CrossFactor, cross, e);
}

// The byte the channel predicts next (what a coded delta of 0 gives).
inline uint8_t PredictedByte(const ChannelPredictor& v, int32_t cross) {
    return static_cast<uint8_t>(v.PrevByte + NextByteDelta(v, v.SampleCount & 31, cross, 0));
}

// The error sums of a full window: E0 (no correction), then for each of
// H0, H1, H2, H3 and cross the term subtracted and added (E1..E10).
constexpr int kErrorCandidates = 11;
struct ErrorSums {
    uint16_t E[kErrorCandidates];
};

// Every value fits 16 bits: |e -/+ t| <= 1024 + 255, and 32 of them stay
// below 2^16 (unsigned, so that a wrap would be defined). The candidates'
// loop is unrolled, so that the loop over the bytes is one that the
// compiler vectorises where the build has vector lanes.
inline void SumWindowErrors(const ChannelPredictor& v, ErrorSums& sums) {
    uint16_t acc[kErrorCandidates] = {};
    for (int j = 0; j < 32; ++j) {
        const int16_t* d = v.Deltas + j;  // d[3] is d1, d[0] is d4
        const int16_t e = v.Errors[j];
        const int16_t terms[5] = {d[3], static_cast<int16_t>(d[3] - d[2]),
                                  static_cast<int16_t>(d[2] - d[1]),
                                  static_cast<int16_t>(d[1] - d[0]), v.Cross[j]};
        acc[0] = static_cast<uint16_t>(acc[0] + (e < 0 ? -e : e));
#pragma GCC unroll 5
        for (int k = 0; k < 5; ++k) {
            const int16_t minus = static_cast<int16_t>(e - terms[k]);
            const int16_t plus = static_cast<int16_t>(e + terms[k]);
            acc[2 * k + 1] = static_cast<uint16_t>(acc[2 * k + 1] + (minus < 0 ? -minus : minus));
            acc[2 * k + 2] = static_cast<uint16_t>(acc[2 * k + 2] + (plus < 0 ? -plus : plus));
        }
    }
    std::memcpy(sums.E, acc, sizeof(acc));
}

// The candidate with the smallest sum; a tie keeps the lower index, so 0
// (no change) wins unless another is strictly better: the least key
// sum * 16 + index. (Keys in a register, rather than the best index, whose
// sum would be read again through it at every step; and unrolled, so that
// the sums need not go through memory at all.)
inline int BestCandidate(const ErrorSums& s) {
    static_assert(kErrorCandidates <= 16);
    uint32_t best = s.E[0] * 16u;
#pragma GCC unroll 16
    for (int k = 1; k < kErrorCandidates; ++k) {
        const uint32_t key = s.E[k] * 16u + static_cast<uint32_t>(k);
        best = key < best ? key : best;
    }
    return static_cast<int>(best & 15);
}

// Odd candidates subtracted their term: its weight goes down; even ones
// added it: up. Weights stay within -17..16: a weight moves by one, so the
// rule's conditions are a clamp.
inline void MoveWeight(ChannelPredictor& v, int best) {
    if (best == 0) return;
    int32_t& w = v.Weights[(best - 1) >> 1];
    w += best & 1 ? -1 : 1;
    w = w < kWeightMin ? kWeightMin : (w > kWeightMax ? kWeightMax : w);
    SetFactors(v);
}

// After the 32nd byte of a window: adapt, and start the next window with
// the last four deltas as its history (predictor.cpp).
void AdaptWeights(ChannelPredictor& v);

// The channel's next byte from its coded delta (0..255), at the window slot
// SampleCount & 31: returns the byte and updates the channel and cross, all
// but SampleCount and the adaptation that follows the 32nd byte of a window
// (PredictByte does everything).
inline uint8_t TakeByte(ChannelPredictor& v, int32_t slot, int32_t& cross, int32_t delta) {
    const int32_t e = DeltaError(delta);
    const int32_t d = NextByteDelta(v, slot, cross, e);
    v.Deltas[4 + slot] = static_cast<int16_t>(d);
    v.Errors[slot] = static_cast<int16_t>(e);
    v.Cross[slot] = static_cast<int16_t>(cross);
    cross = d;
    v.PrevByte = static_cast<uint8_t>(v.PrevByte + d);
    return v.PrevByte;
}

inline uint8_t PredictByte(ChannelPredictor& v, int32_t& cross, int32_t delta) {
    const int32_t slot = v.SampleCount & 31;
    const uint8_t b = TakeByte(v, slot, cross, delta);
    // Wraps instead of overflowing on a (theoretical) endless solid stream.
    v.SampleCount = static_cast<int32_t>(static_cast<uint32_t>(v.SampleCount) + 1u);
    if (slot == 31) AdaptWeights(v);
    return b;
}
