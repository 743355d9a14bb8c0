// The decoder against hand-built bit patterns, and round trips of token
// sequences through the symbol writer and the decoder, checked against an
// independent model of what the tokens produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>

#include "tests/common/unpack_harness.h"

using qvpack::Block;
using qvpack::EncodedEntry;
using qvpack::EncoderState;
using qvpack::KeepMode;
using qvpack::PreSymbol;
using qvpack::Token;
using unptest::Decoder;
using unptest::Model;

namespace {

std::vector<EncodedEntry> Encode(const std::vector<Block>& blocks) {
    EncoderState state;
    std::vector<EncodedEntry> entries;
    std::string error;
    EXPECT_TRUE(qvpack::EncodeStream(state, blocks, false, entries, &error)) << error;
    return entries;
}

// Encodes, decodes every entry (the first non-solid, the rest solid) and
// compares each with the model's bytes for that entry.
void RoundTrip(const std::vector<Block>& blocks, Decoder& dec) {
    const std::vector<EncodedEntry> entries = Encode(blocks);
    Model model;
    std::vector<std::vector<uint8_t>> expected(1);
    for (const Block& b : blocks) {
        for (const Token& t : b.Tokens) {
            if (t.Kind == qvpack::TokenKind::kEntryEnd) {
                expected.emplace_back();
                continue;
            }
            const size_t before = model.Out.size();
            model.Apply(t);
            expected.back().insert(expected.back().end(), model.Out.begin() + before,
                                   model.Out.end());
        }
    }
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].UnpackedSize, expected[i].size()) << "entry " << i;
        const std::vector<uint8_t> out =
            dec.Entry(entries[i].Packed, entries[i].UnpackedSize, i != 0);
        ASSERT_EQ(out, expected[i]) << "entry " << i;
        EXPECT_EQ(dec.Out.Checksum, unptest::Crc(expected[i]));
    }
}

void RoundTrip(const std::vector<Block>& blocks) {
    Decoder dec;
    RoundTrip(blocks, dec);
}

Block Lz(std::vector<Token> tokens, KeepMode keep = KeepMode::kAuto) {
    Block b;
    b.Tokens = std::move(tokens);
    b.Keep = keep;
    return b;
}

Block Audio(int channels, const std::vector<uint8_t>& bytes) {
    Block b;
    b.Multimedia = true;
    b.Channels = channels;
    for (uint8_t v : bytes) b.Tokens.push_back(Token::AudioByte(v));
    return b;
}

// A fresh state record of the decoder (every field zero).
std::unique_ptr<Unpacker> Fresh() {
    return std::make_unique<Unpacker>();
}

void LoadBits(Unpacker& u, const std::vector<uint8_t>& bytes) {
    std::memset(u.InputBuffer, 0, sizeof(u.InputBuffer));
    std::memcpy(u.InputBuffer, bytes.data(), bytes.size());
    u.InputPos = 0;
    u.BitOffset = 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Bit input and tables on hand-built bits

TEST(BitInput, PeekAndSkipTakeBitsMostSignificantFirst) {
    const auto state = Fresh();
    Unpacker& u = *state;
    LoadBits(u, {0xA5, 0x3C, 0xFF, 0x00});
    EXPECT_EQ(PeekBits(u), 0xA53Cu);
    SkipBits(u, 3);
    EXPECT_EQ(PeekBits(u), 0x29E7u);  // 00101 00111100 111
    SkipBits(u, 13);
    EXPECT_EQ(u.InputPos, 2);
    EXPECT_EQ(u.BitOffset, 0);
    EXPECT_EQ(PeekBits(u), 0xFF00u);
    SkipBits(u, 0);
    EXPECT_EQ(PeekBits(u), 0xFF00u);
}

TEST(BitInput, ReadPackedNeverPassesThePackedSize) {
    const auto state = Fresh();
    Unpacker& u = *state;
    unptest::Source in;
    in.Bytes.assign(100, 7);
    u.Input = {unptest::Source::Read, &in};
    uint8_t buf[64];
    u.PackedRemaining = 10;
    EXPECT_EQ(ReadPacked(u, buf, 64), 10);
    EXPECT_EQ(u.PackedRemaining, 0);
    EXPECT_EQ(ReadPacked(u, buf, 64), 0);
    // A packed size of 2^31 or more is negative: nothing is read.
    u.PackedRemaining = INT32_MIN + 5;
    EXPECT_EQ(ReadPacked(u, buf, 64), 0);
    EXPECT_EQ(in.Pos, 10u);
    u.PackedRemaining = 50;
    EXPECT_EQ(ReadPacked(u, buf, 0), 0);
    EXPECT_EQ(ReadPacked(u, buf, -3), 0);
    u.Input = {};
}

TEST(BitInput, RefillKeepsThirtyTwoBytesAndMarksAnEmptyRefill) {
    const auto state = Fresh();
    Unpacker& u = *state;
    unptest::Source in;
    for (int i = 0; i < 9000; ++i) in.Bytes.push_back(static_cast<uint8_t>(i * 7 + i / 256));
    u.Input = {unptest::Source::Read, &in};
    u.PackedRemaining = 9000;
    FillInput(u, true);
    EXPECT_EQ(u.InputEnd, 8192);
    u.InputPos = 8170;
    FillInput(u, false);
    EXPECT_EQ(u.InputPos, 10);
    EXPECT_EQ(u.InputEnd, 32 + 808);
    EXPECT_EQ(0, std::memcmp(u.InputBuffer, in.Bytes.data() + 8160, 840));
    // All bytes delivered: the next refill gets none.
    u.InputPos = 8165;
    FillInput(u, false);
    EXPECT_EQ(u.InputPos, 5);
    EXPECT_EQ(u.InputEnd, 5);
    u.Input = {};
}

TEST(HuffmanTable, CompleteCodeIsCappedAndItsLastCodeStillDecodes) {
    const auto state = Fresh();
    Unpacker& u = *state;
    const uint8_t lengths[2] = {1, 1};
    HuffmanTable t{};
    BuildTable(lengths, t, 2);
    EXPECT_EQ(t.LengthLimit[1], 0xFFFF);
    EXPECT_EQ(t.LengthLimit[15], 0xFFFF);
    LoadBits(u, {0x7F, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(DecodeSymbol(u, t), 0);
    EXPECT_EQ(DecodeSymbol(u, t), 1);
    EXPECT_EQ(u.BitOffset, 2);

    // A complete code of lengths 1, 2, 3, ..., 15, 15: the all-ones code is
    // the last symbol.
    uint8_t deep[16];
    for (int i = 0; i < 15; ++i) deep[i] = static_cast<uint8_t>(i + 1);
    deep[15] = 15;
    BuildTable(deep, t, 16);
    LoadBits(u, {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(DecodeSymbol(u, t), 15);
    EXPECT_EQ(u.BitOffset, 7);
    EXPECT_EQ(u.InputPos, 1);
    LoadBits(u, {0xFF, 0xFC, 0x00});  // 14 ones and a zero: symbol 14
    EXPECT_EQ(DecodeSymbol(u, t), 14);
}

TEST(HuffmanTable, EmptyAndIncompleteCodesFallBackToTheFirstSortedEntry) {
    const auto state = Fresh();
    Unpacker& u = *state;
    HuffmanTable t{};
    const uint8_t first[3] = {2, 1, 2};
    BuildTable(first, t, 3);
    EXPECT_EQ(t.SortedSymbols[0], 1);
    // All lengths 0: every limit 0, 15 bits consumed, and the entry left by
    // the earlier build answers.
    const uint8_t none[3] = {0, 0, 0};
    BuildTable(none, t, 3);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(t.LengthLimit[k], 0);
    LoadBits(u, {0x12, 0x34, 0x56});
    EXPECT_EQ(DecodeSymbol(u, t), 1);
    EXPECT_EQ(u.InputPos * 8 + u.BitOffset, 15);

    // One symbol of length 1: code 1 is unused and decodes as symbol 0
    // after 15 bits.
    const uint8_t single[2] = {0, 1};
    BuildTable(single, t, 2);
    LoadBits(u, {0x80, 0x00, 0x00});
    EXPECT_EQ(DecodeSymbol(u, t), 0);
    EXPECT_EQ(u.InputPos * 8 + u.BitOffset, 15);
    LoadBits(u, {0x00, 0x00, 0x00});
    EXPECT_EQ(DecodeSymbol(u, t), 1);
    EXPECT_EQ(u.BitOffset, 1);
}

TEST(HuffmanTable, TableLookupAgreesWithThePlainRuleOnEveryInput) {
    const auto state = Fresh();
    Unpacker& u = *state;
    std::mt19937 rng(5);
    HuffmanTable t{};
    qvref::Table plain;
    for (int round = 0; round < 300; ++round) {
        const int count = 2 + static_cast<int>(rng() % 297);
        std::vector<uint8_t> lengths(static_cast<size_t>(count));
        if (round % 3 == 0) {
            // Valid codes from real frequencies, some of them deep.
            std::vector<uint32_t> freq(static_cast<size_t>(count));
            for (auto& f : freq) f = rng() % 4 == 0 ? 0 : 1 + (rng() % (1u << (rng() % 20)));
            lengths = qvpack::ComputeCodeLengths(freq.data(), count);
        } else {
            // Arbitrary lengths: oversubscribed and incomplete codes.
            for (auto& l : lengths) l = static_cast<uint8_t>(rng() % (round % 3 == 1 ? 16 : 4));
        }
        BuildTable(lengths.data(), t, count);
        qvref::ReferenceUnpacker::BuildTable(lengths.data(), plain, count);
        for (uint32_t peek = 0; peek < 0x10000; peek += 1 + rng() % 5) {
            LoadBits(u, {static_cast<uint8_t>(peek >> 8), static_cast<uint8_t>(peek), 0});
            int32_t refLength = 0;
            const int32_t ref = qvref::ReferenceUnpacker::DecodePeek(plain, peek, refLength);
            ASSERT_EQ(DecodeSymbol(u, t), ref) << "round " << round << " peek " << peek;
            ASSERT_EQ(u.InputPos * 8 + u.BitOffset, refLength);
        }
    }
}

// ---------------------------------------------------------------------------
// Code-table blocks

namespace {

// Lengths 5 for symbols 0..6 and for the change symbol 269, zeros else;
// the last zero run reaches past the table size and is cut there.
Block SevenFives(std::vector<Token> tokens) {
    Block b = Lz(std::move(tokens), KeepMode::kClear);
    b.RawLengthSymbols = {{5, 0}, {16, 3}, {18, 127}, {18, 113}, {5, 0}, {18, 127}};
    return b;
}

}  // namespace

TEST(CodeTables, RunsAreCutAtTheTableSizeAndKeptLengthsTakeDeltas) {
    // Keep flag: delta 15 lowers 5 to 4, delta 0 keeps 5, a repeat copies
    // the absolute length before it, zero runs write zeros whatever was
    // there, and delta 15 on a previous 0 gives 15.
    Block second = Lz({Token::Literal(0), Token::Literal(2), Token::Literal(8)}, KeepMode::kKeep);
    second.RawLengthSymbols = {{15, 0}, {0, 0},    {16, 0},   {17, 0},
                               {15, 0}, {18, 127}, {18, 127}, {18, 127}};
    Decoder dec;
    RoundTrip({SevenFives({Token::Literal(6), Token::Literal(1)}), second}, dec);
    const uint8_t* w = dec.U().PreviousLengths;
    EXPECT_EQ(w[0], 4);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(w[i], 5) << i;
    for (int i = 5; i <= 7; ++i) EXPECT_EQ(w[i], 0) << i;
    EXPECT_EQ(w[8], 15);
    EXPECT_EQ(w[269], 0);
    for (int i = 9; i < kMaxTableSize; ++i) ASSERT_EQ(w[i], 0) << i;
}

TEST(CodeTables, RepeatAtTheFirstPositionCopiesZero) {
    Block second = Lz({Token::Literal(3), Token::Literal(4)}, KeepMode::kKeep);
    second.RawLengthSymbols = {{16, 0}, {0, 0}, {0, 0}, {18, 127}, {18, 127}, {18, 82}};
    Decoder dec;
    RoundTrip({SevenFives({Token::Literal(0)}), second}, dec);
    EXPECT_EQ(dec.U().PreviousLengths[0], 0);
    EXPECT_EQ(dec.U().PreviousLengths[2], 0);
    EXPECT_EQ(dec.U().PreviousLengths[3], 5);
    EXPECT_EQ(dec.U().PreviousLengths[4], 5);
}

TEST(CodeTables, ChannelBitsAndTheChannelResetRule) {
    std::vector<uint8_t> three = {10, 20, 30};
    // Four channels, three bytes: the next channel is 3. A two-channel block
    // resets it to 0; a four-channel one keeps it.
    for (int channels : {2, 4}) {
        Decoder dec;
        RoundTrip({Audio(4, three), Audio(channels, {})}, dec);
        EXPECT_TRUE(dec.U().AudioMode);
        EXPECT_EQ(dec.U().ChannelCount, channels);
        EXPECT_EQ(dec.U().CurrentChannel, channels == 2 ? 0 : 3);
    }
    // One byte on four channels leaves channel 1, which a two-channel block
    // keeps.
    Decoder one;
    RoundTrip({Audio(4, {9}), Audio(2, {})}, one);
    EXPECT_EQ(one.U().CurrentChannel, 1);
    // Four channels send 1028 lengths, one channel 257; an LZ block after a
    // four-channel one leaves zeros past its 374 lengths.
    std::vector<uint8_t> ramp;
    for (int i = 0; i < 400; ++i) ramp.push_back(static_cast<uint8_t>(i * 3));
    Decoder lz;
    RoundTrip({Audio(4, ramp), Lz({Token::Literal(1)})}, lz);
    EXPECT_FALSE(lz.U().AudioMode);
    for (int i = kLzTableSize; i < kMaxTableSize; ++i) ASSERT_EQ(lz.U().PreviousLengths[i], 0);
    Decoder mono;
    RoundTrip({Audio(1, ramp)}, mono);
    EXPECT_EQ(mono.U().ChannelCount, 1);
}

// ---------------------------------------------------------------------------
// LZ symbols

TEST(LzDecoding, EverySymbolKindAndSlot) {
    std::vector<Token> t;
    for (int i = 0; i < 300; ++i) t.push_back(Token::Literal(static_cast<uint8_t>(i * 37 + 11)));
    // Every short distance slot at both ends.
    for (int d : {1, 4, 5, 8, 9, 16, 17, 32, 33, 64, 65, 128, 129, 192, 193, 256}) {
        t.push_back(Token::ShortMatch(d));
    }
    // Every length slot at its ends, near and far.
    for (int len = 3; len <= 258; len += 1 + len / 16) t.push_back(Token::Match(len, 100));
    t.push_back(Token::Match(258, 200));
    for (int i = 0; i < 9000; ++i) t.push_back(Token::Literal(static_cast<uint8_t>(i ^ (i >> 5))));
    // Every distance slot at both ends (the output is long enough for all
    // but the largest, which reach the zeroed window).
    for (int slot = 0; slot < kDistanceSymbols; ++slot) {
        const int lo = kSlots.DistanceBase[slot] + 1;
        const int hi = kSlots.DistanceBase[slot] + (1 << kSlots.DistanceExtraBits[slot]);
        for (int d : {lo, hi}) {
            const int bump = (d >= 0x40000) + (d >= 0x2000);
            t.push_back(Token::Match(3 + bump, d));
            t.push_back(Token::Literal(static_cast<uint8_t>(slot)));
        }
    }
    t.push_back(Token::Match(260, 0x100000));
    // Repeats and the four recent distances, with their length slots.
    t.push_back(Token::RepeatMatch());
    t.push_back(Token::Match(7, 300));
    t.push_back(Token::Match(9, 20000));
    t.push_back(Token::Match(11, 5));
    t.push_back(Token::Match(13, 300000));
    // Each recent match records its distance again, so the ring turns.
    t.push_back(Token::RecentMatch(3, 258));  // 300: +1, longest slot
    t.push_back(Token::RecentMatch(3, 259));  // 20000: +2
    t.push_back(Token::RecentMatch(3, 2));    // 5: no bump
    t.push_back(Token::RecentMatch(3, 260));  // 300000: +3
    t.push_back(Token::RecentMatch(1, 5));    // 5
    t.push_back(Token::RepeatMatch());
    RoundTrip({Lz(t)});
}

TEST(LzDecoding, FarDistancesLengthenMatches) {
    std::vector<Token> pre;
    for (int i = 0; i < 300000; ++i) pre.push_back(Token::Literal(static_cast<uint8_t>(i * 13)));
    // Length slot 0 is 3 near, 4 from 8,192 and 5 from 262,144 on; for a
    // recent match it is 2, 3 from 257, 4 and 5 beyond.
    std::vector<Token> t = pre;
    for (auto [len, d] :
         std::vector<std::pair<int, int>>{{3, 8191}, {4, 8192}, {4, 262143}, {5, 262144}}) {
        t.push_back(Token::Match(len, d));
    }
    for (auto [len, d] :
         std::vector<std::pair<int, int>>{{2, 256}, {3, 257}, {3, 8191}, {4, 8192}, {5, 262144}}) {
        t.push_back(Token::Match(len + 5, d));
        t.push_back(Token::RecentMatch(0, len));
    }
    RoundTrip({Lz(t)});
    // Shorter ones can't be coded.
    EncoderState st;
    std::vector<EncodedEntry> out;
    EXPECT_FALSE(qvpack::EncodeStream(st, {Lz({Token::Match(3, 8192)})}, false, out));
    EXPECT_FALSE(qvpack::EncodeStream(st, {Lz({Token::Match(5, 300), Token::RecentMatch(0, 2)})},
                                      false, out));
    EXPECT_FALSE(qvpack::EncodeStream(st, {Lz({Token::Match(261, 10)})}, false, out));
}

TEST(LzDecoding, MatchesFromAnEmptyHistoryAndOverlaps) {
    // Repeat before any match copies nothing; a recent distance from the
    // cleared ring is 0: the bytes at the write position are copied onto
    // themselves (zeros), with the length as coded.
    Decoder dec;
    RoundTrip({Lz({Token::Literal('a'), Token::RepeatMatch(), Token::Literal('b'),
                   Token::RecentMatch(2, 6), Token::Literal('c'), Token::Match(10, 1),
                   Token::ShortMatch(3), Token::RecentMatch(3, 4)})},
              dec);
    std::vector<uint8_t> want = {'a', 'b', 0, 0, 0, 0, 0, 0};
    want.insert(want.end(), 13, 'c');
    want.insert(want.end(), 4, 0);
    EXPECT_EQ(dec.Out.Bytes, want);
    // A second non-solid entry finds the window cleared again, not what the
    // first one left there.
    const std::vector<EncodedEntry> e = Encode({Lz({Token::RecentMatch(0, 6)})});
    EXPECT_EQ(dec.Entry(e[0].Packed, e[0].UnpackedSize, false), std::vector<uint8_t>(6, 0));
}

TEST(LzDecoding, ZeroSizeEntriesStillReadTablesAndFlush) {
    Decoder dec;
    RoundTrip({Lz({})}, dec);
    EXPECT_TRUE(dec.Out.Bytes.empty());
    EXPECT_EQ(dec.Out.Writes, std::vector<int32_t>{0});
    EXPECT_TRUE(dec.Progress.empty());
    // Zero-size entries in the middle of a solid run.
    RoundTrip({Lz({Token::Literal(1), Token::EntryEnd(), Token::EntryEnd(), Token::Match(5, 1),
                   Token::EntryEnd()})});
}

TEST(LzDecoding, ProgressAtMultiplesOf4096UnlessAMatchJumpsOverOne) {
    std::vector<Token> t;
    for (int i = 0; i < 5899; ++i) t.push_back(Token::Literal(static_cast<uint8_t>(i)));
    t.push_back(Token::Match(10, 1000));  // output left goes from 4100 to 4090
    for (int i = 0; i < 4091; ++i) t.push_back(Token::Literal(static_cast<uint8_t>(i)));
    Decoder dec;
    RoundTrip({Lz(t)}, dec);
    const std::vector<std::pair<int32_t, int32_t>> want = {{1808, 10000}, {10000, 10000}};
    EXPECT_EQ(dec.Progress, want);
    // A stored copy reports nothing of its own.
}

// ---------------------------------------------------------------------------
// Stored entries

TEST(StoredEntries, CopyStopsWithThePackedDataAndDropsTheExcess) {
    const auto state = Fresh();
    Unpacker& u = *state;
    std::vector<uint8_t> window(kWindowSize);
    unptest::Source in;
    for (int i = 0; i < 70000; ++i) in.Bytes.push_back(static_cast<uint8_t>(i * 31));
    unptest::Sink out;
    ResetUnpacker(u, {{unptest::Source::Read, &in}, {unptest::Sink::Write, &out}, {}},
                  window.data(), false);
    CopyStored(u, 70000, 40000);
    EXPECT_EQ(in.Pos, 70000u);  // read to the end of the packed data
    EXPECT_EQ(out.Writes, (std::vector<int32_t>{0x7F00, 40000 - 0x7F00}));
    EXPECT_EQ(out.Bytes, std::vector<uint8_t>(in.Bytes.begin(), in.Bytes.begin() + 40000));
    // A size of 2^31 or more writes nothing.
    in.Pos = 0;
    out = unptest::Sink();
    CopyStored(u, 1000, INT32_MIN + 3);
    EXPECT_TRUE(out.Writes.empty());
    EXPECT_EQ(u.OutputLeft, INT32_MIN + 3);
}

// ---------------------------------------------------------------------------
// Multimedia

TEST(Predictor, FreshChannelsPredictTheirPreviousByte) {
    ChannelPredictor v{};
    int32_t cross = 0;
    EXPECT_EQ(PredictedByte(v, cross), 0);
    EXPECT_EQ(PredictByte(v, cross, 1), 0xFF);
    EXPECT_EQ(cross, -1);
    ChannelPredictor w{};
    int32_t cross2 = 0;
    EXPECT_EQ(PredictByte(w, cross2, 0), 0);
    EXPECT_EQ(cross2, 0);
    // With all weights 0 each byte is the previous one minus the symbol.
    uint8_t last = 0;
    for (int s : {5, 250, 0, 128, 3}) {
        EXPECT_EQ(PredictedByte(w, cross2), last);
        const uint8_t b = PredictByte(w, cross2, s);
        EXPECT_EQ(b, static_cast<uint8_t>(last - s));
        last = b;
    }
}

TEST(Predictor, TheLeastSumMovesItsWeightWithinClampsAndTies) {
    auto moved = [](std::vector<uint16_t> values, int weight, int32_t start) {
        ErrorSums sums{};
        std::copy(values.begin(), values.end(), sums.E);
        ChannelPredictor v{};
        v.Weights[weight] = start;
        MoveWeight(v, BestCandidate(sums));
        return v.Weights[weight];
    };
    std::vector<uint16_t> sums(kErrorCandidates, 1000);
    sums[3] = 10;
    EXPECT_EQ(moved(sums, 1, 0), -1);     // odd candidate: lower W1
    EXPECT_EQ(moved(sums, 1, -16), -17);  // down to -17
    EXPECT_EQ(moved(sums, 1, -17), -17);  // and no further
    sums[4] = 5;
    EXPECT_EQ(moved(sums, 1, 15), 16);  // even candidate: raise W1
    EXPECT_EQ(moved(sums, 1, 16), 16);
    sums[9] = 5;  // tie between 4 and 9: the lower index wins
    EXPECT_EQ(moved(sums, 1, 0), 1);
    EXPECT_EQ(moved(sums, 4, 0), 0);
    sums[0] = 5;  // E0 not larger than the best: nothing moves
    EXPECT_EQ(moved(sums, 1, 0), 0);
    // Sums past 2^15 still count as large: 32 bytes of delta 128 (error
    // -1024) with a cross delta of 127 give E9 = 32 * 1151.
    ChannelPredictor v{};
    for (int j = 0; j < 32; ++j) {
        v.Errors[j] = static_cast<int16_t>(DeltaError(128));
        v.Cross[j] = 127;
    }
    ErrorSums window;
    SumWindowErrors(v, window);
    EXPECT_EQ(window.E[0], 32 * 1024);
    EXPECT_EQ(window.E[9], 32 * 1151);
    EXPECT_EQ(window.E[10], 32 * 897);
    EXPECT_EQ(BestCandidate(window), 10);
    // Above 2^15 every one of them: the least still wins.
    for (int k = 0; k < kErrorCandidates; ++k) window.E[k] = static_cast<uint16_t>(40000 - k);
    window.E[4] = 33000;
    EXPECT_EQ(BestCandidate(window), 4);
}

// AdaptWeights has a variant of its own formulation where the processor
// has AVX2: it must move the weight that the rule's sums pick, ties too.
TEST(Predictor, TheAdaptationMovesTheWeightTheSumsPick) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        ChannelPredictor v{};
        // Narrow ranges now and then, so that sums tie.
        const int spread = round % 3 == 0 ? 2 : 128;
        for (int j = 0; j < 32; ++j) {
            v.Errors[j] = static_cast<int16_t>(DeltaError(static_cast<int32_t>(rng() % 256)));
            if (spread == 2) v.Errors[j] = static_cast<int16_t>(8 * static_cast<int>(rng() % 2));
            v.Cross[j] = static_cast<int16_t>(static_cast<int>(rng() % (2 * spread)) - spread);
        }
        for (int16_t& d : v.Deltas) {
            d = static_cast<int16_t>(static_cast<int>(rng() % (2 * spread)) - spread);
        }
        for (int32_t& w : v.Weights) w = static_cast<int32_t>(rng() % 34) - 17;
        SetFactors(v);
        ChannelPredictor expected = v;
        ErrorSums sums;
        SumWindowErrors(expected, sums);
        MoveWeight(expected, BestCandidate(sums));
        AdaptWeights(v);
        for (int k = 0; k < 5; ++k) ASSERT_EQ(v.Weights[k], expected.Weights[k]) << round;
        for (int k = 0; k < 4; ++k) ASSERT_EQ(v.Deltas[k], expected.Deltas[32 + k]) << round;
    }
}

TEST(Predictor, ChannelsInterleaveAndSurviveBlocks) {
    // A stereo 16-bit-like signal: the weights move, and the data crosses
    // code-table blocks of 1 to 4 channels and an LZ block.
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 6000; ++i) {
        const int v = static_cast<int>(9000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.31));
        pcm.push_back(static_cast<uint8_t>(v));
        pcm.push_back(static_cast<uint8_t>(v >> 8));
    }
    std::vector<Block> blocks;
    size_t at = 0;
    for (int c : {2, 4, 1, 3, 2}) {
        blocks.push_back(
            Audio(c, std::vector<uint8_t>(pcm.begin() + static_cast<long>(at),
                                          pcm.begin() + static_cast<long>(at) + 2001)));
        at += 2001;
    }
    blocks.push_back(Lz({Token::Literal(1), Token::Match(100, 3000)}));
    blocks.push_back(
        Audio(2, std::vector<uint8_t>(pcm.begin() + static_cast<long>(at), pcm.end())));
    Decoder dec;
    RoundTrip(blocks, dec);
    bool moved = false;
    for (const ChannelPredictor& p : dec.U().Predictors) {
        for (int32_t w : p.Weights) {
            EXPECT_GE(w, -17);
            EXPECT_LE(w, 16);
            moved = moved || w != 0;
        }
    }
    EXPECT_TRUE(moved);
}

// ---------------------------------------------------------------------------
// Solid entries and trailing blocks

TEST(SolidEntries, StateCarriesOverAndATrailingBlockSetsTheNextTables) {
    std::vector<Token> a;
    for (int i = 0; i < 3000; ++i) a.push_back(Token::Literal(static_cast<uint8_t>(i % 251)));
    a.push_back(Token::Match(40, 1234));
    a.push_back(Token::EntryEnd());
    Block b = Audio(3, {1, 2, 3, 4, 5, 6, 7});
    b.TrailingTables = true;
    b.Tokens.push_back(Token::EntryEnd());
    // The third entry refers back to the first one's output and history.
    Block c = Lz({Token::RecentMatch(0, 40), Token::Match(50, 3030), Token::RepeatMatch(),
                  Token::EntryEnd(), Token::Literal(9), Token::RecentMatch(1, 50)});
    c.TrailingTables = true;
    const std::vector<Block> blocks = {Lz(a), b, c};
    Decoder dec;
    RoundTrip(blocks, dec);
    // The trailing blocks were read at the ends of entries 1 and 2.
    const std::vector<EncodedEntry> e = Encode(blocks);
    ASSERT_EQ(e.size(), 4u);
    Decoder again;
    again.Entry(e[0].Packed, e[0].UnpackedSize, false);
    EXPECT_TRUE(again.U().AudioMode);
    EXPECT_EQ(again.U().ChannelCount, 3);
    again.Entry(e[1].Packed, e[1].UnpackedSize, true);
    EXPECT_FALSE(again.U().AudioMode);
}

// ---------------------------------------------------------------------------
// Large entries: mid-entry flush and the window wrap

namespace {

std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d;
    const char* words[] = {"window ", "symbol ", "the ", "block ", "distance ", "length\n"};
    while (d.size() < size) {
        switch (rng() % 4) {
            case 0:
                for (int i = 0; i < 200; ++i) {
                    const char* w = words[rng() % 6];
                    d.insert(d.end(), w, w + std::strlen(w));
                }
                break;
            case 1:
                for (int i = 0; i < 500; ++i) d.push_back(static_cast<uint8_t>(rng()));
                break;
            case 2:
                d.insert(d.end(), 300 + rng() % 700, static_cast<uint8_t>(rng()));
                break;
            default:
                if (d.size() > 5000) {
                    const size_t from = rng() % (d.size() - 3000);
                    for (size_t i = 0; i < 2000; ++i) d.push_back(d[from + i]);
                }
        }
    }
    d.resize(size);
    return d;
}

// A small greedy tokenizer (last position per 4-byte hash) that uses every
// kind of match, cut into blocks of blockTokens tokens.
std::vector<Block> Tokenize(const std::vector<uint8_t>& d, size_t blockTokens) {
    std::vector<int64_t> head(1 << 16, -1);
    std::vector<Block> blocks(1);
    qvpack::MatchHistory hist;
    auto hash = [&](size_t i) {
        return ((d[i] << 16 | d[i + 1] << 8 | d[i + 2]) * 2654435761u ^ d[i + 3]) >> 16;
    };
    size_t i = 0;
    while (i < d.size()) {
        if (blocks.back().Tokens.size() >= blockTokens) {
            blocks.emplace_back();
            blocks.back().Keep = blocks.size() % 2 ? KeepMode::kKeep : KeepMode::kAuto;
        }
        std::vector<Token>& t = blocks.back().Tokens;
        auto matchLen = [&](int64_t from) {
            size_t n = 0;
            while (i + n < d.size() && n < 255 && d[static_cast<size_t>(from) + n] == d[i + n]) ++n;
            return static_cast<int32_t>(n);
        };
        if (i + 4 <= d.size()) {
            const int32_t r = hist.Recent(0);
            if (r > 0 && static_cast<size_t>(r) <= i) {
                const int32_t n = matchLen(static_cast<int64_t>(i) - r);
                if (n >= 3) {
                    const int32_t len = n + (r >= 0x40000) + (r >= 0x2000) + (r >= 0x101);
                    const int32_t use = std::min(len, 257);
                    t.push_back(Token::RecentMatch(0, use));
                    hist.Record(use, r);
                    i += static_cast<size_t>(use);
                    continue;
                }
            }
            const uint32_t h = hash(i);
            const int64_t cand = head[h];
            head[h] = static_cast<int64_t>(i);
            if (cand >= 0 && static_cast<int64_t>(i) - cand <= 0x100000) {
                const int32_t dist = static_cast<int32_t>(static_cast<int64_t>(i) - cand);
                const int32_t n = matchLen(cand);
                const int32_t bump = (dist >= 0x40000) + (dist >= 0x2000);
                if (n >= 3 + bump) {
                    const int32_t len = std::min(n, 258) + 0;
                    t.push_back(Token::Match(len, dist));
                    hist.Record(len, dist);
                    i += static_cast<size_t>(len - bump) + static_cast<size_t>(bump);
                    continue;
                }
                if (n >= 2 && dist <= 256) {
                    t.push_back(Token::ShortMatch(dist));
                    hist.Record(2, dist);
                    i += 2;
                    continue;
                }
            }
        }
        t.push_back(Token::Literal(d[i]));
        ++i;
    }
    return blocks;
}

}  // namespace

TEST(LargeEntries, MoreThanTheWindowDecodesAcrossTheFlushAndTheWrap) {
    const std::vector<uint8_t> data = MixedData(1530880, 17);
    std::vector<Block> blocks = Tokenize(data, 15000);
    ASSERT_GT(blocks.size(), 10u);
    // A multimedia stretch in the middle.
    Block audio = Audio(2, std::vector<uint8_t>(data.begin(), data.begin() + 3000));
    blocks.insert(blocks.begin() + 5, audio);
    Model model;
    for (const Block& b : blocks) {
        for (const Token& t : b.Tokens) model.Apply(t);
    }
    const std::vector<EncodedEntry> e = Encode(blocks);
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(e[0].UnpackedSize, model.Out.size());
    Decoder dec;
    const std::vector<uint8_t> out = dec.Entry(e[0].Packed, e[0].UnpackedSize, false);
    ASSERT_EQ(out.size(), model.Out.size());
    EXPECT_TRUE(out == model.Out);
    EXPECT_EQ(dec.Out.Checksum, unptest::Crc(model.Out));
    // One write in the middle, then the two pieces of the wrapped window.
    ASSERT_EQ(dec.Out.Writes.size(), 3u);
    EXPECT_GT(dec.Out.Writes[0], 1048306);
    EXPECT_LE(dec.Out.Writes[0], 1048566);
    EXPECT_EQ(dec.Out.Writes[0] + dec.Out.Writes[1], kWindowSize);
}

TEST(LargeEntries, ALiteralInTheLastWindowByteIsFlushedWithIt) {
    // Exactly 1 MB of output ending in a literal: the end flush writes the
    // last window byte; the next solid entry starts at the window's start.
    std::vector<Token> t = {Token::Literal(7)};
    for (int n = 1; n + 258 < kWindowSize - 1;) {
        t.push_back(Token::Match(258, 1));
        n += 258;
        if (n + 258 >= kWindowSize - 1) {
            while (n < kWindowSize - 1) {
                t.push_back(Token::Literal(static_cast<uint8_t>(n)));
                ++n;
            }
        }
    }
    t.push_back(Token::Literal(0xEE));
    t.push_back(Token::EntryEnd());
    t.push_back(Token::Literal(0x11));
    t.push_back(Token::Match(5, kWindowSize));
    Decoder dec;
    RoundTrip({Lz(t)}, dec);
    EXPECT_EQ(dec.Out.Bytes, (std::vector<uint8_t>{0x11, 7, 7, 7, 7, 7}));
}
