// The multimedia predictor's adaptation, shared by the decoder and the
// writer in pack/ (which links this alone).
#include "unpack/method20.h"

// A native 64-bit build (glibc picks the variant at load time) has an
// AVX2 variant too: 16 lanes where the baseline has 8 halve the window's
// sums, a quarter of the decoder's multimedia time (measured /infl:
// audio.wav 0.92 to 0.98, picture.bmp 0.86 to 0.92). The shipped Windows
// builds have no such loader and keep the one variant.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
__attribute__((target_clones("avx2", "default")))
#endif
void AdaptWeights(ChannelPredictor& v) {
    ErrorSums sums;
    SumWindowErrors(v, sums);
    MoveWeight(v, BestCandidate(sums));
    for (int k = 0; k < 4; ++k) v.Deltas[k] = v.Deltas[32 + k];
}
