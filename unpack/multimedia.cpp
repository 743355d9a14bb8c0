// Multimedia decoding: the runs of multimedia steps.
#include "unpack/decoder_parts.h"

// Step by step, as the rule reads: a code of the channel's table, its byte,
// the next channel. (The caller has made sure that no step top in the run
// would do anything.)
int32_t AudioRun(Unpacker& u, BitReader& reader, uint8_t* out, int32_t steps, bool& change) {
    BitReader in = reader;
    int32_t cross = u.CrossDelta;
    int32_t channel = u.CurrentChannel;
    // Locals: the output bytes may alias the record, which would otherwise
    // be read again after every byte.
    const int32_t channels = u.ChannelCount;
    ChannelPredictor* const predictors = u.Predictors;
    const HuffmanTable* const tables = u.AudioTables;
    // The channel's table and predictor follow the channel by pointer.
    const HuffmanTable* table = tables + channel;
    ChannelPredictor* predictor = predictors + channel;
    int32_t n = 0;
    int32_t codesLeft = 0;  // codes before the next refill
    while (n < steps) {
        if (codesLeft == 0) {
            in.Refill();
            codesLeft = kCodesPerRefill;
        }
        --codesLeft;
        const int32_t s = in.Decode(*table);
        if (s == kAudioBlockChange) {
            change = true;
            break;
        }
        out[n++] = PredictByte(*predictor, cross, s);
        ++table;
        ++predictor;
        if (++channel == channels) {
            channel = 0;
            table = tables;
            predictor = predictors;
        }
    }
    reader = in;
    u.CurrentChannel = channel;
    u.CrossDelta = cross;
    return n;
}
