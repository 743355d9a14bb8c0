// Damaged streams: the decoder must always stop, stay inside its arrays and
// never produce more than a match beyond the entry's size. Also the code
// lengths the writer computes.
#include <gtest/gtest.h>

#include <algorithm>
#include <queue>
#include <random>

#include "tests/common/unpack_harness.h"

using qvpack::Block;
using qvpack::EncodedEntry;
using qvpack::EncoderState;
using qvpack::Token;

namespace {

std::vector<EncodedEntry> EncodeOrFail(const std::vector<Block>& blocks) {
    EncoderState state;
    std::vector<EncodedEntry> entries;
    std::string error;
    EXPECT_TRUE(qvpack::EncodeStream(state, blocks, false, entries, &error)) << error;
    return entries;
}

// Huffman cost without a length limit, and the depth of that tree (ties
// merged shallow first, which keeps it as shallow as an optimal tree gets).
uint64_t UnlimitedCost(const std::vector<uint32_t>& freq, int& depth) {
    using Node = std::pair<uint64_t, int>;  // weight, depth
    std::priority_queue<Node, std::vector<Node>, std::greater<>> q;
    for (uint32_t f : freq) {
        if (f != 0) q.push({f, 0});
    }
    uint64_t cost = 0;
    depth = 0;
    while (q.size() > 1) {
        const Node a = q.top();
        q.pop();
        const Node b = q.top();
        q.pop();
        cost += a.first + b.first;
        depth = std::max(a.second, b.second) + 1;
        q.push({a.first + b.first, depth});
    }
    return cost;
}

}  // namespace

TEST(CodeLengths, OptimalCompleteAndLimitedTo15Bits) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const int count = 2 + static_cast<int>(rng() % 300);
        std::vector<uint32_t> freq(static_cast<size_t>(count));
        if (round % 4 == 0) {
            // Fibonacci frequencies would need codes far longer than 15.
            uint32_t a = 1, b = 1;
            for (auto& f : freq) {
                f = a;
                const uint32_t c = std::min<uint64_t>(uint64_t{a} + b, 1u << 30);
                a = b;
                b = c;
            }
        } else {
            for (auto& f : freq) f = rng() % 3 == 0 ? 0 : 1 + rng() % (1u << (rng() % 16));
        }
        const std::vector<uint8_t> len = qvpack::ComputeCodeLengths(freq.data(), count);
        uint64_t kraft = 0;  // in units of 2^-15
        uint64_t cost = 0;
        int used = 0;
        for (int i = 0; i < count; ++i) {
            ASSERT_LE(len[static_cast<size_t>(i)], 15);
            ASSERT_EQ(freq[static_cast<size_t>(i)] == 0, len[static_cast<size_t>(i)] == 0);
            if (len[static_cast<size_t>(i)] == 0) continue;
            ++used;
            kraft += uint64_t{1} << (15 - len[static_cast<size_t>(i)]);
            cost += uint64_t{freq[static_cast<size_t>(i)]} * len[static_cast<size_t>(i)];
        }
        if (used > 1) {
            EXPECT_EQ(kraft, uint64_t{1} << 15) << "round " << round;
        }
        int depth = 0;
        const uint64_t unlimited = UnlimitedCost(freq, depth);
        EXPECT_GE(cost, unlimited);
        if (depth <= 15 && used > 1) {
            EXPECT_EQ(cost, unlimited) << "round " << round;
        }
        std::vector<uint16_t> codes(static_cast<size_t>(count));
        EXPECT_TRUE(qvpack::CanonicalCodes(len.data(), count, codes.data()));
    }
    const uint8_t over[3] = {1, 1, 1};
    uint16_t codes[3];
    EXPECT_FALSE(qvpack::CanonicalCodes(over, 3, codes));
}

TEST(DamagedStreams, StepsWithoutOutputPastTheDataStillEnd) {
    // Only symbol 256 has a code, and the previous match is empty: every
    // step past the data produces nothing. The decoder must stop anyway.
    Block b;
    b.ForcedLengths.assign(kLzTableSize, 0);
    b.ForcedLengths[256] = 1;
    b.Tokens = {Token::RepeatMatch(), Token::RepeatMatch()};
    const std::vector<EncodedEntry> e = EncodeOrFail({b});
    unptest::Decoder dec;
    const std::vector<uint8_t> out = dec.Entry(e[0].Packed, 100000, false);
    EXPECT_TRUE(out.empty());
    // Likewise a multimedia table that only announces new blocks, which in
    // the zero bits past the data read as blocks that code nothing.
    Block a;
    a.Multimedia = true;
    a.ForcedLengths.assign(kAudioSymbols, 0);
    a.ForcedLengths[256] = 1;
    const std::vector<EncodedEntry> e2 = EncodeOrFail({a});
    EXPECT_LE(dec.Entry(e2[0].Packed, 5000, false).size(), 5000u);
}

TEST(DamagedStreams, TruncatedDataEndsTheEntryShort) {
    std::vector<Token> t;
    for (int i = 0; i < 60000; ++i)
        t.push_back(Token::Literal(
            static_cast<uint8_t>(static_cast<uint32_t>(i) * static_cast<uint32_t>(i) >> 3)));
    Block b;
    b.Tokens = t;
    const std::vector<EncodedEntry> e = EncodeOrFail({b});
    ASSERT_GT(e[0].Packed.size(), 20000u);
    unptest::Decoder dec;
    const std::vector<uint8_t> cut(e[0].Packed.begin(), e[0].Packed.begin() + 10000);
    const std::vector<uint8_t> out = dec.Entry(cut, 60000, false);
    // About 10,032 bytes of input at roughly 7.x bits a literal.
    EXPECT_LT(out.size(), 12000u);
    EXPECT_GT(out.size(), 9000u);
}

TEST(DamagedStreams, RandomDamageNeverCrashesHangsOrOverflows) {
    std::mt19937 rng(11);
    // Three valid streams: LZ with every symbol kind and several blocks,
    // multimedia with four channels, and solid entries with a trailing
    // block.
    std::vector<Token> lz;
    for (int i = 0; i < 12000; ++i) {
        switch (rng() % 6) {
            case 0:
                lz.push_back(Token::Match(3 + static_cast<int>(rng() % 200),
                                          1 + static_cast<int>(rng() % 5000)));
                break;
            case 1:
                lz.push_back(Token::ShortMatch(1 + static_cast<int>(rng() % 256)));
                break;
            case 2:
                lz.push_back(Token::RecentMatch(static_cast<int>(rng() % 4), 10));
                break;
            case 3:
                lz.push_back(Token::RepeatMatch());
                break;
            default:
                lz.push_back(Token::Literal(static_cast<uint8_t>(rng() % 40)));
        }
    }
    std::vector<Block> lzBlocks(4);
    for (size_t i = 0; i < lz.size(); ++i) lzBlocks[i * 4 / lz.size()].Tokens.push_back(lz[i]);
    Block audio;
    audio.Multimedia = true;
    audio.Channels = 4;
    for (int i = 0; i < 20000; ++i) {
        audio.Tokens.push_back(Token::AudioByte(static_cast<uint8_t>(i % 97 + (rng() % 5))));
    }
    Block solidA;
    solidA.Tokens = {Token::Literal(1), Token::Match(30, 1), Token::EntryEnd()};
    Block solidB = audio;
    solidB.TrailingTables = true;
    solidB.Channels = 2;
    solidB.Tokens.resize(3000);

    const std::vector<std::vector<EncodedEntry>> streams = {
        EncodeOrFail(lzBlocks), EncodeOrFail({audio}), EncodeOrFail({solidA, solidB})};
    unptest::Decoder dec;
    int variants = 0;
    for (const auto& stream : streams) {
        for (int round = 0; round < 1000; ++round) {
            for (size_t k = 0; k < stream.size(); ++k) {
                std::vector<uint8_t> packed = stream[k].Packed;
                const int kind = static_cast<int>(rng() % 4);
                if (kind == 3 && packed.size() > 1) {
                    packed.resize(rng() % packed.size());
                } else {
                    const int flips = 1 + static_cast<int>(rng() % 4);
                    for (int f = 0; f < flips && !packed.empty(); ++f) {
                        // Mostly early damage (the tables), sometimes anywhere.
                        const size_t span =
                            rng() % 2 ? std::min<size_t>(packed.size(), 80) : packed.size();
                        packed[rng() % span] ^= static_cast<uint8_t>(1 + rng() % 255);
                    }
                }
                // Sometimes claim a different size than the stream holds.
                uint32_t size = stream[k].UnpackedSize;
                if (rng() % 5 == 0) size = rng() % 100000;
                const std::vector<uint8_t> out = dec.Entry(packed, size, k != 0);
                ASSERT_LE(out.size(), size + 259u) << "round " << round;
                ++variants;
            }
        }
    }
    EXPECT_EQ(variants, 4000);
}
