// The decoder against the reference decoder (unpack/reference/). Both
// decode the same streams, valid and damaged; every output byte, every
// write piece, every progress report and the checksum must agree.
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
    unptest::ReferenceDecoder plain;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool solid = i != 0 || firstSolid;
        const std::vector<uint8_t> bytes =
            real.Entry(entries[i].Packed, entries[i].Size, solid, chunk);
        const std::vector<uint8_t> expected =
            plain.Entry(entries[i].Packed, entries[i].Size, solid, chunk);
        ASSERT_EQ(bytes.size(), expected.size()) << what << ", entry " << i;
        ASSERT_TRUE(bytes == expected) << what << ", entry " << i;
        ASSERT_EQ(real.Out.Writes, plain.Out.Writes) << what << ", entry " << i;
        ASSERT_EQ(real.Progress, plain.Progress) << what << ", entry " << i;
        ASSERT_EQ(real.Out.Checksum, plain.Out.Checksum) << what << ", entry " << i;
        ASSERT_EQ(plain.U().StepsWithoutInput, 0) << what << ", entry " << i;
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

TEST(DecoderIdentity, AMatchAcrossTheWindowEndAfterASolidEntryEndedNearItsStart) {
    // The first entry ends just past the window's end, so the next one
    // starts with the flush position near the window's start; its match
    // across the window's end must not carry the decoding on over the
    // bytes not yet written out.
    std::mt19937 rng(26);
    auto literals = [&](Block& b, int count) {
        for (int i = 0; i < count; ++i) {
            b.Tokens.push_back(Token::Literal(static_cast<uint8_t>(rng() % 200)));
        }
    };
    Block first;
    literals(first, kWindowSize + 400);
    first.Tokens.push_back(Token::EntryEnd());
    Block second;
    literals(second, kWindowSize - 400 - 100);
    second.Tokens.push_back(Token::Match(250, 3000));
    literals(second, 3000);
    const std::vector<Entry> entries = Encode({first, second});
    ASSERT_EQ(entries.size(), 2u);
    Compare(entries, 1 << 30, "match across the window end");
}
