// The decoder against a plain step-by-step decoder written straight from
// the format's rules (three-byte peeks, a linear search of the limits, byte
// copies with a masked index, the predictor term by term). Both decode the
// same streams, valid and damaged; every output byte, every write piece,
// every progress report and the checksum must agree.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "pack/compressor.h"
#include "tests/common/unpack_harness.h"

using qvpack::Block;
using qvpack::EncodedEntry;
using qvpack::EncoderState;
using qvpack::Token;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;
#else
constexpr int kScale = 1;
#endif

struct PlainTable {
    int32_t Count = 0;
    int32_t Limit[16] = {};
    int32_t Start[16] = {};
    int32_t Sorted[kLiteralSymbols] = {};
};

struct PlainChannel {
    int32_t W[5] = {};
    int32_t H[4] = {};
    int32_t PrevDelta = 0;
    int32_t E[11] = {};
    int32_t Count = 0;
    int32_t PrevByte = 0;
};

struct Result {
    std::vector<uint8_t> Bytes;
    std::vector<int32_t> Writes;
    std::vector<std::pair<int32_t, int32_t>> Progress;
    uint32_t Checksum = 0;
    int32_t StepsWithoutInput = 0;
};

class PlainDecoder {
public:
    Result Entry(const std::vector<uint8_t>& packed, uint32_t size, bool solid, int32_t chunk) {
        Result r;
        res_ = &r;
        src_ = &packed;
        srcPos_ = 0;
        chunk_ = chunk;
        remaining_ = static_cast<int32_t>(packed.size());
        delivered_ = 0;
        base_ = 0;
        crc_ = 0xFFFFFFFFu;
        pos_ = 0;
        bit_ = 0;
        if (!solid) {
            cross_ = 0;
            channel_ = 0;
            for (PlainChannel& c : ch_) c = PlainChannel();
            std::memset(recent_, 0, sizeof(recent_));
            recentIndex_ = 0;
            prevLength_ = 0;
            prevDistance_ = 0;
            window_.assign(kWindowSize, 0);
            std::memset(prevLengths_, 0, sizeof(prevLengths_));
            windowPos_ = 0;
            flushedPos_ = 0;
        }
        end_ = Read(in_, 8192);
        if (!solid) ReadTables();
        int32_t left = static_cast<int32_t>(size - 1u);
        int64_t stepStart = -1;
        while (left >= 0) {
            // Every step reads at least one bit, or a stream could make the
            // decoder write without reading.
            const int64_t at = (base_ + pos_) * 8 + bit_;
            if (at == stepStart) ++r.StepsWithoutInput;
            stepStart = at;
            if (base_ + pos_ > delivered_ + kOverrunLimit) break;
            if ((left & 0xFFF) == 0) {
                r.Progress.push_back({static_cast<int32_t>(size - static_cast<uint32_t>(left)),
                                      static_cast<int32_t>(size)});
            }
            windowPos_ &= 0xFFFFF;
            if (pos_ > 8162) Refill();
            if (((flushedPos_ - windowPos_) & 0xFFFFF) < 270 && flushedPos_ != windowPos_) Flush();
            if (audioMode_) {
                const int32_t s = Decode(audio_[channel_]);
                if (s == 256) {
                    ReadTables();
                    continue;
                }
                window_[static_cast<size_t>(windowPos_)] = Predict(s);
                windowPos_ += 1;
                if (++channel_ == channelCount_) channel_ = 0;
                left -= 1;
                continue;
            }
            const int32_t s = Decode(lit_);
            if (s < 256) {
                window_[static_cast<size_t>(windowPos_)] = static_cast<uint8_t>(s);
                windowPos_ += 1;
                left -= 1;
            } else if (s >= 270) {
                const int32_t slot = s - 270;
                int32_t length = kSlots.LengthBase[slot] + 3 + Extra(kSlots.LengthExtraBits[slot]);
                const int32_t d = Decode(dist_);
                const int32_t distance =
                    kSlots.DistanceBase[d] + 1 + Extra(kSlots.DistanceExtraBits[d]);
                if (distance >= 0x40000) length += 1;
                if (distance >= 0x2000) length += 1;
                Copy(length, distance, left);
            } else if (s == 269) {
                ReadTables();
            } else if (s == 256) {
                Copy(prevLength_, prevDistance_, left);
            } else if (s <= 260) {
                const int32_t distance = recent_[(recentIndex_ - (s - 256)) & 3];
                const int32_t k = Decode(rep_);
                int32_t length = kSlots.LengthBase[k] + 2 + Extra(kSlots.LengthExtraBits[k]);
                if (distance >= 0x40000) length += 1;
                if (distance >= 0x2000) length += 1;
                if (distance >= 0x101) length += 1;
                Copy(length, distance, left);
            } else {
                const int32_t k = s - 261;
                Copy(2, kSlots.ShortDistanceBase[k] + 1 + Extra(kSlots.ShortDistanceExtraBits[k]),
                     left);
            }
        }
        if (pos_ + 5 <= end_) {
            if (audioMode_ ? Decode(audio_[channel_]) == 256 : Decode(lit_) == 269) ReadTables();
        }
        Flush();
        r.Checksum = crc_;
        res_ = nullptr;
        return r;
    }

private:
    int32_t Read(uint8_t* to, int32_t count) {
        if (count > remaining_) count = remaining_;
        if (count <= 0) return 0;
        size_t n = std::min<size_t>(static_cast<size_t>(count), src_->size() - srcPos_);
        n = std::min<size_t>(n, static_cast<size_t>(chunk_));
        if (n > 0) std::memcpy(to, src_->data() + srcPos_, n);
        srcPos_ += n;
        remaining_ -= static_cast<int32_t>(n);
        delivered_ += static_cast<int64_t>(n);
        return static_cast<int32_t>(n);
    }
    void Refill() {
        std::memmove(in_, in_ + 8160, 32);
        base_ += 8160;
        pos_ &= 31;
        const int32_t got = Read(in_ + 32, 8160);
        end_ = got > 0 ? got + 32 : pos_;
    }
    uint32_t Peek() const {
        const uint32_t v = static_cast<uint32_t>(in_[pos_]) << 16 |
                           static_cast<uint32_t>(in_[pos_ + 1]) << 8 | in_[pos_ + 2];
        return (v >> (8 - bit_)) & 0xFFFF;
    }
    void Skip(int32_t n) {
        bit_ += n;
        pos_ += bit_ / 8;
        bit_ &= 7;
    }
    int32_t Extra(int32_t n) {
        if (n == 0) return 0;
        const int32_t v = static_cast<int32_t>(Peek() >> (16 - n));
        Skip(n);
        return v;
    }
    int32_t Decode(const PlainTable& t) {
        const uint32_t f = Peek() & 0xFFFE;
        int32_t n = 15;
        for (int32_t k = 1; k <= 14; ++k) {
            if (f < static_cast<uint32_t>(t.Limit[k])) {
                n = k;
                break;
            }
        }
        Skip(n);
        uint32_t index = static_cast<uint32_t>(t.Start[n]) +
                         ((f - static_cast<uint32_t>(t.Limit[n - 1])) >> (16 - n));
        if (index >= static_cast<uint32_t>(t.Count)) index = 0;
        return t.Sorted[index];
    }
    static void Build(const uint8_t* lengths, PlainTable& t, int32_t count) {
        int32_t c[16] = {};
        for (int32_t i = 0; i < count; ++i) c[lengths[i] & 15] += 1;
        c[0] = 0;
        int32_t next[16] = {};
        int32_t acc = 0;
        for (int32_t k = 1; k <= 15; ++k) {
            acc = 2 * (acc + c[k]);
            t.Limit[k] = std::min(acc << (15 - k), 0xFFFF);
            t.Start[k] = t.Start[k - 1] + c[k - 1];
            next[k] = t.Start[k];
        }
        for (int32_t i = 0; i < count; ++i) {
            if (lengths[i] != 0) t.Sorted[next[lengths[i] & 15]++] = i;
        }
        t.Count = count;
    }
    void ReadTables() {
        if (pos_ > 8167) Refill();
        const uint32_t f = Peek();
        audioMode_ = (f & 0x8000) != 0;
        if ((f & 0x4000) == 0) std::memset(prevLengths_, 0, sizeof(prevLengths_));
        Skip(2);
        int32_t size = 374;
        if (audioMode_) {
            channelCount_ = static_cast<int32_t>((f >> 12) & 3) + 1;
            if (channel_ >= channelCount_) channel_ = 0;
            Skip(2);
            size = 257 * channelCount_;
        }
        uint8_t preLengths[19];
        for (uint8_t& p : preLengths) p = static_cast<uint8_t>(Extra(4));
        Build(preLengths, pre_, 19);
        uint8_t w[1028] = {};
        int32_t i = 0;
        while (i < size) {
            if (pos_ > 8187) Refill();
            const int32_t s = Decode(pre_);
            if (s < 16) {
                w[i] = static_cast<uint8_t>((s + prevLengths_[i]) & 15);
                ++i;
            } else if (s == 16) {
                for (int32_t n = Extra(2) + 3; n > 0 && i < size; --n, ++i) {
                    w[i] = i > 0 ? w[i - 1] : 0;
                }
            } else {
                for (int32_t n = s == 17 ? Extra(3) + 3 : Extra(7) + 11; n > 0 && i < size;
                     --n, ++i) {
                    w[i] = 0;
                }
            }
        }
        if (audioMode_) {
            for (int32_t c = 0; c < channelCount_; ++c) Build(w + 257 * c, audio_[c], 257);
        } else {
            Build(w, lit_, 298);
            Build(w + 298, dist_, 48);
            Build(w + 346, rep_, 28);
        }
        std::memcpy(prevLengths_, w, sizeof(w));
    }
    void Copy(int32_t length, int32_t distance, int32_t& left) {
        recent_[recentIndex_ & 3] = distance;
        recentIndex_ += 1;
        prevDistance_ = distance;
        prevLength_ = length;
        left -= length;
        for (int32_t n = 0; n < length; ++n) {
            window_[static_cast<size_t>(windowPos_)] =
                window_[static_cast<size_t>((windowPos_ - distance) & 0xFFFFF)];
            windowPos_ = (windowPos_ + 1) & 0xFFFFF;
        }
    }
    void Emit(const uint8_t* data, int32_t count) {
        res_->Writes.push_back(count);
        res_->Bytes.insert(res_->Bytes.end(), data, data + count);
        crc_ = UpdateCrc32(crc_, data, count);
    }
    void Flush() {
        if (windowPos_ < flushedPos_) {
            Emit(window_.data() + flushedPos_, kWindowSize - flushedPos_);
            Emit(window_.data(), windowPos_);
        } else {
            Emit(window_.data() + flushedPos_, windowPos_ - flushedPos_);
        }
        flushedPos_ = windowPos_;
    }
    uint8_t Predict(int32_t delta) {
        PlainChannel& v = ch_[channel_];
        v.Count += 1;
        v.H[3] = v.H[2];
        v.H[2] = v.H[1];
        v.H[1] = v.PrevDelta - v.H[0];
        v.H[0] = v.PrevDelta;
        const int32_t p = 8 * (v.PrevByte & 0xFF) + v.W[0] * v.H[0] + v.W[1] * v.H[1] +
                          v.W[2] * v.H[2] + v.W[3] * v.H[3] + v.W[4] * cross_;
        const int32_t predicted = (p >> 3) & 0xFF;
        const int32_t b = predicted - delta;
        const int32_t e = 8 * (delta >= 128 ? delta - 256 : delta);
        const int32_t terms[5] = {v.H[0], v.H[1], v.H[2], v.H[3], cross_};
        v.E[0] += std::abs(e);
        for (int k = 0; k < 5; ++k) {
            v.E[2 * k + 1] += std::abs(e - terms[k]);
            v.E[2 * k + 2] += std::abs(e + terms[k]);
        }
        cross_ = v.PrevDelta = static_cast<int8_t>((b - v.PrevByte) & 0xFF);
        v.PrevByte = b;
        if ((v.Count & 0x1F) == 0) {
            int best = 0;
            int32_t least = v.E[0];
            v.E[0] = 0;
            for (int k = 1; k <= 10; ++k) {
                if (v.E[k] < least) {
                    least = v.E[k];
                    best = k;
                }
                v.E[k] = 0;
            }
            if (best != 0) {
                int32_t& w = v.W[(best - 1) / 2];
                if (best % 2 == 1 && w >= -16) w -= 1;
                if (best % 2 == 0 && w < 16) w += 1;
            }
        }
        return static_cast<uint8_t>(b & 0xFF);
    }

    Result* res_ = nullptr;
    const std::vector<uint8_t>* src_ = nullptr;
    size_t srcPos_ = 0;
    int32_t chunk_ = 0;
    int32_t remaining_ = 0;
    int64_t delivered_ = 0;
    int64_t base_ = 0;
    uint32_t crc_ = 0;
    uint8_t in_[kInputSize + kInputSpare] = {};
    int32_t pos_ = 0;
    int32_t bit_ = 0;
    int32_t end_ = 0;
    PlainTable lit_, dist_, rep_, pre_, audio_[kMaxChannels];
    uint8_t prevLengths_[kMaxTableSize] = {};
    bool audioMode_ = false;
    int32_t channelCount_ = 1;
    int32_t channel_ = 0;
    std::vector<uint8_t> window_ = std::vector<uint8_t>(kWindowSize, 0);
    int32_t windowPos_ = 0;
    int32_t flushedPos_ = 0;
    int32_t recent_[4] = {};
    int32_t recentIndex_ = 0;
    int32_t prevLength_ = 0;
    int32_t prevDistance_ = 0;
    PlainChannel ch_[kMaxChannels];
    int32_t cross_ = 0;
};

struct Entry {
    std::vector<uint8_t> Packed;
    uint32_t Size = 0;
};

// Decodes the entries with both decoders, each fresh, and compares
// everything they hand out. The first entry is non-solid unless
// firstSolid (then it decodes with tables no block has set), the rest solid.
void Compare(const std::vector<Entry>& entries, int32_t chunk, const std::string& what,
             bool firstSolid = false) {
    unptest::Decoder real;
    PlainDecoder plain;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool solid = i != 0 || firstSolid;
        const std::vector<uint8_t> bytes =
            real.Entry(entries[i].Packed, entries[i].Size, solid, chunk);
        const Result expected = plain.Entry(entries[i].Packed, entries[i].Size, solid, chunk);
        ASSERT_EQ(bytes.size(), expected.Bytes.size()) << what << ", entry " << i;
        ASSERT_TRUE(bytes == expected.Bytes) << what << ", entry " << i;
        ASSERT_EQ(real.Out.Writes, expected.Writes) << what << ", entry " << i;
        ASSERT_EQ(real.Progress, expected.Progress) << what << ", entry " << i;
        ASSERT_EQ(real.Out.Checksum, expected.Checksum) << what << ", entry " << i;
        ASSERT_EQ(expected.StepsWithoutInput, 0) << what << ", entry " << i;
    }
}

std::vector<Entry> FromEncoded(const std::vector<EncodedEntry>& encoded) {
    std::vector<Entry> out;
    for (const EncodedEntry& e : encoded) out.push_back({e.Packed, e.UnpackedSize});
    return out;
}

std::vector<Entry> Encode(const std::vector<Block>& blocks) {
    EncoderState state;
    std::vector<EncodedEntry> entries;
    std::string error;
    EXPECT_TRUE(qvpack::EncodeStream(state, blocks, false, entries, &error)) << error;
    return FromEncoded(entries);
}

// Random LZ tokens of every kind, with far distances once enough output
// exists; produced counts the bytes so far.
void AddLzTokens(std::mt19937& rng, Block& b, int count, int64_t& produced) {
    for (int i = 0; i < count; ++i) {
        const uint32_t kind = rng() % 10;
        const int32_t reach = static_cast<int32_t>(std::min<int64_t>(produced, kWindowSize));
        if (kind < 4 || reach < 300) {
            // Literal runs of varied length, from a small and a full alphabet.
            const int run = 1 + static_cast<int>(rng() % 40);
            const uint32_t alphabet = rng() % 2 ? 256 : 20;
            for (int k = 0; k < run; ++k) {
                b.Tokens.push_back(Token::Literal(static_cast<uint8_t>(rng() % alphabet)));
            }
            produced += run;
            continue;
        }
        int32_t length = 0;
        if (kind < 7) {
            // Near, overlapping and far distances.
            const uint32_t range = rng() % 3;
            const int32_t limit = range == 0 ? 16 : (range == 1 ? 4096 : reach);
            const int32_t distance =
                1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(std::min(limit, reach)));
            length = 3 + static_cast<int32_t>(rng() % 256);
            if (distance >= 0x40000) length += 1;
            if (distance >= 0x2000) length += 1;
            b.Tokens.push_back(Token::Match(length, distance));
        } else if (kind == 7) {
            b.Tokens.push_back(Token::ShortMatch(1 + static_cast<int32_t>(rng() % 256)));
            length = 2;
        } else if (kind == 8) {
            // Lengths of a recent match from 5: valid after any bump.
            length = 5 + static_cast<int32_t>(rng() % 250);
            b.Tokens.push_back(Token::RecentMatch(static_cast<int>(rng() % 4), length));
        } else {
            b.Tokens.push_back(Token::RepeatMatch());
            length = 260;  // at most; only bounds the reach estimate
        }
        produced += length;
    }
}

// Bytes of a sampled signal: 16-bit stereo-like or 8-bit with noise.
std::vector<uint8_t> Samples(std::mt19937& rng, size_t count, int channels) {
    std::vector<uint8_t> out(count);
    double phase = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i % static_cast<size_t>(channels) == 0) phase += 0.013 + (rng() % 7) * 0.001;
        const double v = std::sin(phase * (1 + static_cast<double>(i % channels))) * 90;
        out[i] = static_cast<uint8_t>(static_cast<int>(v) + 128 + static_cast<int>(rng() % 9));
    }
    return out;
}

Block AudioBlock(const std::vector<uint8_t>& bytes, int channels) {
    Block b;
    b.Multimedia = true;
    b.Channels = channels;
    for (uint8_t v : bytes) b.Tokens.push_back(Token::AudioByte(v));
    return b;
}

// A stream of mixed blocks: LZ and multimedia with 1..4 channels, over
// several entries, some with trailing blocks.
std::vector<Entry> MixedStream(std::mt19937& rng, int blocks, int tokensPerBlock) {
    std::vector<Block> out;
    int64_t produced = 0;
    for (int i = 0; i < blocks; ++i) {
        Block b;
        if (rng() % 3 == 0) {
            const int channels = 1 + static_cast<int>(rng() % 4);
            b = AudioBlock(Samples(rng, static_cast<size_t>(tokensPerBlock) * 4, channels),
                           channels);
            produced += static_cast<int64_t>(b.Tokens.size());
        } else {
            AddLzTokens(rng, b, tokensPerBlock, produced);
        }
        if (i > 0 && out.back().Tokens.back().Kind == qvpack::TokenKind::kEntryEnd) {
            b.TrailingTables = rng() % 2 == 0;
        }
        if (i + 1 < blocks && rng() % 3 == 0) b.Tokens.push_back(Token::EntryEnd());
        out.push_back(std::move(b));
    }
    return Encode(out);
}

// A stream whose steps that produce nothing sit where progress is
// reported: the bytes still to produce are a multiple of 4096 (0 included,
// the last step). There come repeats of the last match before any match
// (length 0), block changes between LZ and multimedia blocks of every kind,
// and empty blocks; the stretches between them are literals (while no
// match was made), or LZ tokens and samples padded to 4096 bytes.
std::vector<Entry> ProgressPointStream(std::mt19937& rng) {
    const int32_t multiples = 1 + static_cast<int32_t>(rng() % 4);
    // One byte past the last multiple: the first and last steps are on one.
    const size_t size = size_t{kProgressInterval} * static_cast<size_t>(multiples) + 1;
    std::vector<Block> blocks(1);
    unptest::Model model;  // counts what each token really produces
    bool matched = false;
    auto newBlock = [&] {
        Block b;
        b.Multimedia = rng() % 3 == 0;
        b.Channels = 1 + static_cast<int>(rng() % 4);
        blocks.push_back(std::move(b));
    };
    while (model.Out.size() < size) {
        // On a progress point: steps without output.
        for (int k = static_cast<int>(rng() % 4); k > 0; --k) {
            if (!matched && !blocks.back().Multimedia && rng() % 2) {
                blocks.back().Tokens.push_back(Token::RepeatMatch());
            } else {
                newBlock();
            }
        }
        const size_t end = std::min(model.Out.size() + kProgressInterval, size);
        Block& b = blocks.back();
        if (!b.Multimedia && (matched || rng() % 4 == 0)) {
            matched = true;
            while (model.Out.size() + 300 < end) {
                const size_t from = b.Tokens.size();
                int64_t estimate = static_cast<int64_t>(model.Out.size());
                AddLzTokens(rng, b, 1, estimate);
                for (size_t t = from; t < b.Tokens.size(); ++t) model.Apply(b.Tokens[t]);
            }
        }
        while (model.Out.size() < end) {
            const auto v = static_cast<uint8_t>(rng() % 64 + 64);
            b.Tokens.push_back(b.Multimedia ? Token::AudioByte(v) : Token::Literal(v));
            model.Apply(b.Tokens.back());
        }
    }
    return Encode(blocks);
}

}  // namespace

TEST(DecoderIdentity, StepsWithoutOutputOnProgressPointsReportAgain) {
    std::mt19937 rng(24);
    for (int round = 0; round < 40 / kScale; ++round) {
        const std::vector<Entry> entries = ProgressPointStream(rng);
        const int32_t chunk = round % 2 ? (1 << 30) : 1 + static_cast<int32_t>(rng() % 3000);
        Compare(entries, chunk, "round " + std::to_string(round));
        if (HasFailure()) return;
    }
}

TEST(DecoderIdentity, RandomMixedStreamsWithShortReads) {
    std::mt19937 rng(20);
    for (int round = 0; round < 24 / kScale; ++round) {
        const std::vector<Entry> entries = MixedStream(rng, 2 + round % 6, 200 + round * 40);
        // Whole reads, and short reads that make refills land anywhere.
        const int32_t chunk = round % 3 == 0 ? (1 << 30) : 1 + static_cast<int32_t>(rng() % 3000);
        Compare(entries, chunk, "round " + std::to_string(round));
        if (HasFailure()) return;
    }
}

TEST(DecoderIdentity, EntriesLongerThanTheWindowFlushAndWrapAlike) {
    std::mt19937 rng(21);
    // LZ with far matches, then a multimedia stretch that crosses the
    // window's end, then LZ again: about 1.4 MB in one entry.
    std::vector<Block> blocks;
    int64_t produced = 0;
    for (int i = 0; i < 6; ++i) {
        Block b;
        AddLzTokens(rng, b, 9000, produced);
        blocks.push_back(std::move(b));
    }
    blocks.push_back(AudioBlock(Samples(rng, 500000, 2), 2));
    Block tail;
    produced += 500000;
    AddLzTokens(rng, tail, 4000, produced);
    blocks.push_back(std::move(tail));
    const std::vector<Entry> entries = Encode(blocks);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_GT(entries[0].Size, static_cast<uint32_t>(kWindowSize));
    Compare(entries, 1 << 30, "long entry");
    Compare(entries, 4093, "long entry, short reads");
}

TEST(DecoderIdentity, CompressorOutputOnTextAndSamples) {
    std::mt19937 rng(22);
    std::string text;
    const char* words[] = {"setup ", "folder ", "install ", "the ", "of ", "archive\n", "a ", "x"};
    while (text.size() < 300000u / kScale) text += words[rng() % 8];
    std::vector<uint8_t> textBytes(text.begin(), text.end());
    std::vector<uint8_t> pcm = Samples(rng, 400000u / kScale, 2);
    std::vector<uint8_t> mono = Samples(rng, 100000u / kScale, 1);
    std::vector<qvpack::InputFile> files = {
        {textBytes.data(), textBytes.size()}, {pcm.data(), pcm.size()}, {mono.data(), mono.size()}};
    std::vector<std::vector<uint8_t>> packed;
    ASSERT_TRUE(qvpack::CompressChain(files, qvpack::CompressOptions(), packed));
    ASSERT_EQ(packed.size(), 3u);
    const std::vector<Entry> entries = {{packed[0], static_cast<uint32_t>(textBytes.size())},
                                        {packed[1], static_cast<uint32_t>(pcm.size())},
                                        {packed[2], static_cast<uint32_t>(mono.size())}};
    Compare(entries, 1 << 30, "packed chain");
}

TEST(DecoderIdentity, DamagedStreamsReadAndStopAlike) {
    std::mt19937 rng(23);
    const std::vector<Entry> bases[] = {MixedStream(rng, 6, 600), ProgressPointStream(rng)};
    for (int round = 0; round < 300 / kScale; ++round) {
        std::vector<Entry> entries = bases[round % 3 == 2];
        for (Entry& e : entries) {
            const uint32_t kind = rng() % 4;
            if (kind == 0 && e.Packed.size() > 1) {
                e.Packed.resize(rng() % e.Packed.size());
            } else if (!e.Packed.empty()) {
                const int flips = 1 + static_cast<int>(rng() % 3);
                for (int f = 0; f < flips; ++f) {
                    e.Packed[rng() % e.Packed.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
                }
            }
            // Sometimes a size the data can't give (the overrun bound ends it).
            if (rng() % 4 == 0) e.Size = rng() % 300000;
        }
        const int32_t chunk = round % 2 ? (1 << 30) : 1 + static_cast<int32_t>(rng() % 5000);
        // Now and then the first entry claims to be solid, with no tables
        // set before it.
        Compare(entries, chunk, "damage round " + std::to_string(round), round % 7 == 3);
        if (HasFailure()) return;
    }
}
