// The multimedia predictor's adaptation, shared by the decoder and the
// writer in pack/ (which links this alone).
#include "unpack/method20.h"

void AdaptWeights(ChannelPredictor& v) {
    ErrorSums sums;
    SumWindowErrors(v, sums);
    MoveWeight(v, BestCandidate(sums));
    for (int k = 0; k < 4; ++k) v.Deltas[k] = v.Deltas[32 + k];
}
