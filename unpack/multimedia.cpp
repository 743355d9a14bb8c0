// Multimedia decoding: the runs of multimedia steps.
#include "unpack/decoder_parts.h"

namespace {

// The error e (DeltaError) of the next code of a channel's table, or
// kNoError for the block-change symbol. A fast entry is never that symbol
// (BuildFast), and its symbol bits 6..13 are the delta's byte: shifted to
// the top and back by 21 (clearing the length bits that come along), they
// give e without the symbol itself.
constexpr int32_t kNoError = INT32_MIN;
QV_HOT int32_t NextError(BitReader& in, const HuffmanTable& table) {
    static_assert(kFastSymbolShift == 6 && kFastSlow == 0);
    const uint32_t fast = table.Fast[in.Bits >> (kWordBits - kFastBits)];
    if (__builtin_expect(fast != kFastSlow, 1)) {
        in.Skip(fast);
        return (static_cast<int32_t>(fast << 18) >> 21) & -8;
    }
    const int32_t s = in.DecodeSlow(table);
    return s == kAudioBlockChange ? kNoError : DeltaError(s);
}

// Whole frames of C channels (a byte of each, channel 0 first), up to
// `frames` of them; returns the bytes produced and sets change when a
// block-change symbol ended the run (the channel to go on with in
// channel). The channel of every byte is known to the compiler, and so are
// its table, its predictor and the reader's refills (before every
// kCodesPerRefill-th code of a frame); its factors and previous byte stay
// in locals, which the output bytes cannot alias. The frames go in
// stretches that end where a channel's window fills, so that the bytes
// need no test of it.
template <int32_t C>
int32_t Frames(Unpacker& u, BitReader& reader, int32_t& crossRef, uint8_t* out, int32_t frames,
               bool& change, int32_t& channel) {
    static_assert(C >= 1 && C <= kMaxChannels);
    // Locals, whose addresses are never taken, so that they stay in
    // registers; handed back on the way out.
    BitReader in = reader;
    int32_t cross = crossRef;
    ChannelPredictor* const p = u.Predictors;
    const HuffmanTable* const tables = u.AudioTables;
    int32_t f[C][4];
    uint32_t crossFactor[C];
    uint8_t prev[C];
    int32_t slot[C];  // the window slot of the stretch's first frame
    auto load = [&](int32_t c) {
        for (int k = 0; k < 4; ++k) f[c][k] = p[c].Factors[k];
        crossFactor[c] = p[c].CrossFactor;
    };
#pragma GCC unroll 4
    for (int32_t c = 0; c < C; ++c) {
        load(c);
        prev[c] = p[c].PrevByte;
        slot[c] = p[c].SampleCount & 31;
    }
    // Counts a stretch's bytes to each channel (frames of them, and one
    // more to the channels before `part`), and adapts the channels whose
    // window they filled.
    auto finish = [&](int32_t stretch, int32_t part) {
#pragma GCC unroll 4
        for (int32_t c = 0; c < C; ++c) {
            const int32_t n = stretch + (c < part ? 1 : 0);
            p[c].SampleCount = static_cast<int32_t>(static_cast<uint32_t>(p[c].SampleCount) +
                                                    static_cast<uint32_t>(n));
            p[c].PrevByte = prev[c];
            slot[c] += n;
            if (slot[c] == 32) {
                AdaptWeights(p[c]);
                load(c);
                slot[c] = 0;
            }
        }
    };
    uint8_t* o = out;
    int32_t done = 0;
    while (done < frames) {
        int32_t stretch = frames - done;
#pragma GCC unroll 4
        for (int32_t c = 0; c < C; ++c) {
            if (stretch > 32 - slot[c]) stretch = 32 - slot[c];
        }
        for (int32_t k = 0; k < stretch; ++k) {
#pragma GCC unroll 4
            for (int32_t c = 0; c < C; ++c) {
                if (c % kCodesPerRefill == 0) in.Refill();
                const int32_t e = NextError(in, tables[c]);
                if (e == kNoError) {
                    finish(k, c);
                    reader = in;
                    crossRef = cross;
                    change = true;
                    channel = c;
                    return static_cast<int32_t>(o - out);
                }
                const int32_t j = slot[c] + k;
                const int32_t d = ByteDelta(p[c].Deltas + j, f[c], crossFactor[c], cross, e);
                p[c].Deltas[4 + j] = static_cast<int16_t>(d);
                p[c].Errors[j] = static_cast<int16_t>(e);
                p[c].Cross[j] = static_cast<int16_t>(cross);
                cross = d;
                prev[c] = static_cast<uint8_t>(prev[c] + d);
                *o++ = prev[c];
            }
        }
        finish(stretch, 0);
        done += stretch;
    }
    reader = in;
    crossRef = cross;
    channel = 0;
    return static_cast<int32_t>(o - out);
}

// Bytes n up to last, step by step, as the rule reads: a code of the
// channel's table, its byte, the next channel; returns the new n.
QV_HOT int32_t StepBytes(Unpacker& u, BitReader& in, int32_t& cross, int32_t& channel, uint8_t* out,
                         int32_t n, int32_t last, bool& change) {
    const int32_t channels = u.ChannelCount;
    ChannelPredictor* const predictors = u.Predictors;
    const HuffmanTable* const tables = u.AudioTables;
    // The channel's table and predictor follow the channel by pointer.
    const HuffmanTable* table = tables + channel;
    ChannelPredictor* predictor = predictors + channel;
    int32_t codesLeft = 0;  // codes before the next refill
    while (n < last) {
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
    return n;
}

}  // namespace

// A 64-bit build runs whole frames through Frames, and the bytes before
// the first and after the last step by step. The 32-bit build goes step by
// step throughout: its seven registers hold no frame's state, and the
// shipped setup counts the code's bytes. (The caller has made sure that no
// step top in the run would do anything.)
int32_t AudioRun(Unpacker& u, BitReader& reader, uint8_t* out, int32_t steps, bool& change) {
    // Locals: the output bytes may alias the record, which would otherwise
    // be read again after every byte.
    BitReader in = reader;
    int32_t cross = u.CrossDelta;
    int32_t channel = u.CurrentChannel;
    int32_t n = 0;
    if constexpr (kWordBits == 64) {
        const int32_t channels = u.ChannelCount;
        if (channel != 0) {
            const int32_t first = channels - channel;
            n = StepBytes(u, in, cross, channel, out, 0, steps < first ? steps : first, change);
        }
        if (!change && channel == 0) {
            const int32_t frames = (steps - n) / channels;
            switch (channels) {
                case 1:
                    n += Frames<1>(u, in, cross, out + n, frames, change, channel);
                    break;
                case 2:
                    n += Frames<2>(u, in, cross, out + n, frames, change, channel);
                    break;
                case 3:
                    n += Frames<3>(u, in, cross, out + n, frames, change, channel);
                    break;
                default:
                    n += Frames<4>(u, in, cross, out + n, frames, change, channel);
                    break;
            }
        }
    }
    if (!change) n = StepBytes(u, in, cross, channel, out, n, steps, change);
    reader = in;
    u.CurrentChannel = channel;
    u.CrossDelta = cross;
    return n;
}
