// Multimedia decoding: the runs of multimedia steps.
#include "unpack/decoder_parts.h"

#include <type_traits>

#if defined(__SSE2__)
// Eight 16-bit lanes, four 32-bit ones: the compiler's own vector types,
// so that the decoder includes no system header.
typedef int16_t Lanes16 __attribute__((vector_size(16)));
typedef int32_t Lanes32 __attribute__((vector_size(16)));
typedef int64_t Lanes64 __attribute__((vector_size(16)));
#endif

namespace {

// The error e (DeltaError) of the next code of a channel's table, or
// kNoError for the block-change symbol. A fast entry is never that symbol
// (BuildFast), and its symbol bits 6..13 are the delta's byte: shifted to
// the top and back by 21 (clearing the length bits that come along), they
// give e without the symbol itself.
constexpr int32_t kNoError = INT32_MIN;
QV_HOT int32_t NextError(BitReader& in, const HuffmanTable& table) {
    static_assert(kFastSlow == 0 && kFastSymbolShift + 8 <= 24);
    const uint32_t fast = table.Fast[in.Bits >> (kWordBits - kFastBits)];
    if (__builtin_expect(fast != kFastSlow, 1)) {
        in.Skip(fast);
        return (static_cast<int32_t>(fast << (24 - kFastSymbolShift)) >> 21) & -8;
    }
    // Inline rather than through SlowEntry, whose call would save and
    // restore the frame's vector registers.
    int32_t length = 0;
    const int32_t s = DecodeByLimits(table, in.Peek16() & 0xFFFE, length);
    in.Skip(static_cast<uint32_t>(length));
    return s == kAudioBlockChange ? kNoError : DeltaError(s);
}

// BitReader::Refill, with Buffer + Next as one pointer.
QV_HOT void RefillFrom(BitReader& in, const uint8_t*& at) {
    in.Bits |= BitReader::Fetch(at) >> in.ValidBits();
    at += (kWordBits - 1 - in.ValidBits()) >> 3;
    in.Count |= BitReader::kMinBits;
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
    const uint8_t* at = in.Buffer + in.Next;  // the reader's Next, as a pointer
    int32_t cross = crossRef;
    ChannelPredictor* const p = u.Predictors;
    const HuffmanTable* const tables = u.AudioTables;
    int32_t f[C][4];
#if defined(__SSE2__)
    // With three channels or more, the four products of the history come
    // from one multiply-add of 16-bit lanes (a factor is the sum or
    // difference of two weights), whose latency the other channels' bytes
    // cover. The history itself (d4..d1) stays in a register: read back
    // from the window just after its store, it waited for the store
    // (measured: picture.bmp's /infl 0.81 to 0.73; kept in the register,
    // 0.87). Fewer channels, measured none, keep the plain products.
    constexpr bool kLanes = C >= 3;
    static_assert(2 * -kWeightMin <= INT16_MAX && 2 * kWeightMax <= INT16_MAX);
    Lanes16 lanes[C];
#endif
    uint32_t crossFactor[C];
    uint8_t prev[C];
    int32_t slot[C];  // the window slot of the stretch's first frame
    auto load = [&](int32_t c) {
        for (int k = 0; k < 4; ++k) f[c][k] = p[c].Factors[k];
        crossFactor[c] = p[c].CrossFactor;
#if defined(__SSE2__)
        // In the order of the history, d4 first.
        lanes[c] = Lanes16{static_cast<int16_t>(f[c][3]), static_cast<int16_t>(f[c][2]),
                           static_cast<int16_t>(f[c][1]), static_cast<int16_t>(f[c][0])};
#endif
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
#if defined(__SSE2__)
        Lanes16 history[C];
        if constexpr (kLanes) {
#pragma GCC unroll 4
            for (int32_t c = 0; c < C; ++c) {
                // Through a scalar, so that the array has no address
                // taken and stays in registers.
                int64_t h;
                std::memcpy(&h, p[c].Deltas + slot[c], sizeof(h));
                history[c] = reinterpret_cast<Lanes16>(Lanes64{h, 0});
            }
        }
#endif
        // The stretch's frames; false when a block-change symbol ended
        // them. Aligned: every channel is at the same window slot (as they
        // are unless a block of another channel count came between), so that
        // one index addresses all of their windows.
        auto stretchFrames = [&](auto aligned) __attribute__((always_inline)) {
            for (int32_t k = 0; k < stretch; ++k) {
#pragma GCC unroll 4
                for (int32_t c = 0; c < C; ++c) {
                    if (c % kCodesPerRefill == 0) RefillFrom(in, at);
                    const int32_t e = NextError(in, tables[c]);
                    if (e == kNoError) {
                        finish(k, c);
                        channel = c;
                        return false;
                    }
                    const int32_t j = (aligned ? slot[0] : slot[c]) + k;
                    int32_t d;
#if defined(__SSE2__)
                    if constexpr (kLanes) {
                        const Lanes32 h = __builtin_ia32_pmaddwd128(history[c], lanes[c]);
                        d = CombineDelta(h[0] + h[1] - e, crossFactor[c], cross);
                        // Shifted by a lane, d1 inserted in lane 3 (an
                        // element store would go through memory).
                        history[c] = __builtin_ia32_vec_set_v8hi(
                            __builtin_shufflevector(history[c], history[c], 1, 2, 3, 3, 4, 5, 6, 7),
                            d, 3);
                    } else
#endif
                        d = ByteDelta(p[c].Deltas + j, f[c], crossFactor[c], cross, e);
                    p[c].Deltas[4 + j] = static_cast<int16_t>(d);
                    p[c].Errors[j] = static_cast<int16_t>(e);
                    p[c].Cross[j] = static_cast<int16_t>(cross);
                    cross = d;
                    prev[c] = static_cast<uint8_t>(prev[c] + d);
                    *o++ = prev[c];
                }
            }
            return true;
        };
        bool aligned = true;
#pragma GCC unroll 4
        for (int32_t c = 1; c < C; ++c) aligned = aligned && slot[c] == slot[0];
        if (!(aligned ? stretchFrames(std::true_type()) : stretchFrames(std::false_type()))) {
            in.Next = static_cast<int32_t>(at - in.Buffer);
            reader = in;
            crossRef = cross;
            change = true;
            return static_cast<int32_t>(o - out);
        }
        finish(stretch, 0);
        done += stretch;
    }
    in.Next = static_cast<int32_t>(at - in.Buffer);
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
