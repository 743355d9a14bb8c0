// The multimedia predictor's adaptation, shared by the decoder and the
// writer in pack/ (which links this alone).
#include "unpack/method20.h"

namespace {

// Given the best candidate: move its weight, and start the next window
// with the last four deltas as its history.
inline void FinishWindow(ChannelPredictor& v, int best) {
    MoveWeight(v, best);
    for (int k = 0; k < 4; ++k) v.Deltas[k] = v.Deltas[32 + k];
}

}  // namespace

// A native 64-bit build has an AVX2 variant too, of its own formulation,
// for the processors that have it: the window's sums take a quarter of the
// decoder's multimedia time. The shipped Windows builds keep the one
// variant.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)

namespace {

// Sixteen and eight 16-bit lanes; the sums unsigned (they pass 2^15 and
// may wrap, as in SumWindowErrors), and their eight lanes as four and two
// wider ones.
typedef int16_t Lanes16x16 __attribute__((vector_size(32)));
typedef int16_t Lanes16x8 __attribute__((vector_size(16)));
typedef uint16_t Sums16x16 __attribute__((vector_size(32)));
typedef uint16_t Sums16x8 __attribute__((vector_size(16)));
typedef uint32_t Sums32x4 __attribute__((vector_size(16)));
typedef uint64_t Sums64x2 __attribute__((vector_size(16)));

#define QV_AVX2 inline __attribute__((always_inline, target("avx2")))

QV_AVX2 Lanes16x16 Load16(const int16_t* p) {
    Lanes16x16 x;
    std::memcpy(&x, p, sizeof(x));
    return x;
}
QV_AVX2 Lanes16x16 Abs16(Lanes16x16 x) {
    const Lanes16x16 n = -x;
    return x > n ? x : n;
}
// The high eight lanes added to the low ones.
QV_AVX2 Sums16x8 Fold(Sums16x16 a) {
    return __builtin_shufflevector(a, a, 0, 1, 2, 3, 4, 5, 6, 7) +
           __builtin_shufflevector(a, a, 8, 9, 10, 11, 12, 13, 14, 15);
}
// One step of adding up many vectors' lanes at once: lanes i and i + 4
// (pairs of them, quadruples) of a and of b, added, interleaved.
QV_AVX2 Sums16x8 Pairs16(Sums16x8 a, Sums16x8 b) {
    return __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11) +
           __builtin_shufflevector(a, b, 4, 12, 5, 13, 6, 14, 7, 15);
}
QV_AVX2 Sums16x8 Pairs32(Sums16x8 a, Sums16x8 b) {
    const Sums32x4 x = reinterpret_cast<Sums32x4>(a), y = reinterpret_cast<Sums32x4>(b);
    return reinterpret_cast<Sums16x8>(__builtin_shufflevector(x, y, 0, 4, 1, 5)) +
           reinterpret_cast<Sums16x8>(__builtin_shufflevector(x, y, 2, 6, 3, 7));
}
QV_AVX2 Sums16x8 Pairs64(Sums16x8 a, Sums16x8 b) {
    const Sums64x2 x = reinterpret_cast<Sums64x2>(a), y = reinterpret_cast<Sums64x2>(b);
    return reinterpret_cast<Sums16x8>(__builtin_shufflevector(x, y, 0, 2)) +
           reinterpret_cast<Sums16x8>(__builtin_shufflevector(x, y, 1, 3));
}

// SumWindowErrors in sixteen lanes, whose eleven sums are then added up
// side by side: lane k of the result is E[k]. Added up one by one, as the
// compiler does, they cost as much as the sums themselves (measured per
// window: 54 cycles, 39 this way).
__attribute__((target("avx2"))) void AdaptWeightsAvx2(ChannelPredictor& v) {
    Sums16x16 acc[kErrorCandidates] = {};
    for (int j = 0; j < 32; j += 16) {
        const int16_t* d = v.Deltas + j;
        const Lanes16x16 e = Load16(v.Errors + j);
        const Lanes16x16 d1 = Load16(d + 3), d2 = Load16(d + 2), d3 = Load16(d + 1), d4 = Load16(d);
        const Lanes16x16 terms[5] = {d1, d1 - d2, d2 - d3, d3 - d4, Load16(v.Cross + j)};
        acc[0] += reinterpret_cast<Sums16x16>(Abs16(e));
#pragma GCC unroll 5
        for (int k = 0; k < 5; ++k) {
            acc[2 * k + 1] += reinterpret_cast<Sums16x16>(Abs16(e - terms[k]));
            acc[2 * k + 2] += reinterpret_cast<Sums16x16>(Abs16(e + terms[k]));
        }
    }
    static_assert(kErrorCandidates == 11);
    const Sums16x8 zero = {};
    const Sums16x8 low =
        Pairs64(Pairs32(Pairs16(Fold(acc[0]), Fold(acc[1])), Pairs16(Fold(acc[2]), Fold(acc[3]))),
                Pairs32(Pairs16(Fold(acc[4]), Fold(acc[5])), Pairs16(Fold(acc[6]), Fold(acc[7]))));
    const Sums16x8 high =
        Pairs32(Pairs16(Fold(acc[8]), Fold(acc[9])), Pairs16(Fold(acc[10]), zero));
    // E8..E10, and the largest value in the other lanes.
    const Sums16x8 rest =
        Pairs64(high, high) | Sums16x8{0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    // BestCandidate: the least unsigned lane of each, its index in lane 1,
    // the lowest of equal ones (the instruction's own rule); of equal
    // minima, the low lanes'.
    const Lanes16x8 a = __builtin_ia32_phminposuw128(reinterpret_cast<Lanes16x8>(low));
    const Lanes16x8 b = __builtin_ia32_phminposuw128(reinterpret_cast<Lanes16x8>(rest));
    const uint16_t lowSum = static_cast<uint16_t>(a[0]), restSum = static_cast<uint16_t>(b[0]);
    FinishWindow(v, restSum < lowSum ? 8 + b[1] : a[1]);
}

}  // namespace

#endif

void AdaptWeights(ChannelPredictor& v) {
#if defined(QV_AVX2)
    if (__builtin_cpu_supports("avx2")) return AdaptWeightsAvx2(v);
#endif
    ErrorSums sums;
    SumWindowErrors(v, sums);
    FinishWindow(v, BestCandidate(sums));
}
