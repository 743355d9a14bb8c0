// Thousands of damaged variants of valid archives through the extraction
// driver: whatever the damage, the run ends, reports a defined result code
// and touches no memory it must not (run under the sanitizer preset too).
#include <gtest/gtest.h>

#include <random>

#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "pack/discard_stream.h"
#include "tests/common/archive_fixture.h"

using qvpack::ArchiveWriter;
using qvtest::MemoryStream;

namespace {

// Each run takes and zero-fills the 1 MB window, which the address
// sanitizer makes about 20 times dearer; fewer variants keep that run short.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 300;
#else
constexpr int kRounds = 3000;
#endif

void AnyDestination(void*, const AnsiString&, AnsiString& destination) {
    destination = "x";
}

std::vector<uint8_t> Sample(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data(size);
    // Text-like runs with repeats, so that the packed stream has matches.
    for (size_t i = 0; i < size; ++i)
        data[i] = (i > 64 && rng() % 4 == 0) ? data[i - 1 - rng() % 64]
                                             : static_cast<uint8_t>('a' + rng() % 12);
    return data;
}

std::vector<uint8_t> PackedArchive(bool solid) {
    std::vector<std::vector<uint8_t>> files = {Sample(3000, 1), Sample(9000, 2), Sample(500, 3)};
    std::vector<qvpack::InputFile> in;
    for (auto& f : files) in.push_back({f.data(), f.size()});
    std::vector<qvpack::PackedFile> out;
    EXPECT_TRUE(qvpack::PackFiles(in, {}, solid, out));
    ArchiveWriter w;
    w.Signature();
    w.MainHeader(solid ? 0x0008 : 0);
    for (size_t i = 0; i < out.size(); ++i) {
        std::string name = "f" + std::to_string(i);
        if (out[i].Stored)
            w.Stored(name, files[i], 0x8040);
        else
            w.Packed(name, out[i].Data, files[i],
                     static_cast<uint16_t>(0x8040 | (out[i].Solid ? 0x10 : 0)));
    }
    return w.Bytes;
}

std::vector<uint8_t> StoredArchive() {
    ArchiveWriter w;
    w.Raw(std::string(40, 'P'));  // a leading program
    w.Signature('R');
    w.MainHeader(0, {7, 7});
    w.Stored("a", Sample(700, 4));
    w.Block(0x77, 0, {1}, std::vector<uint8_t>(30, 2));
    w.Block(0x75, 0, {}, std::vector<uint8_t>(12, 3));
    w.Stored("dir/b", Sample(1200, 5));
    return w.Bytes;
}

TEST(Corruption, DamagedArchivesEndWithADefinedResult) {
    BuildCrcTable();
    MemoryStream archive;
    DiscardFileStream target;
    ExtractRun run;
    run.ArchiveName = "#101";
    run.ArchiveStream = &archive;
    run.TargetStream = &target;
    run.OnDestinationName = {AnyDestination, nullptr};
    std::mt19937 rng(20240607);
    const std::vector<std::vector<uint8_t>> bases = {StoredArchive(), PackedArchive(false),
                                                     PackedArchive(true)};

    // The untouched archives extract soundly.
    for (const auto& base : bases) {
        run.ExtractResult = 0;
        archive.Bytes = base;
        ExtractArchive(run);
        ASSERT_EQ(run.ExtractResult, 0);
    }
    const std::vector<int32_t> valid = {0, 1, 3, 9, 10, 11};
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<uint8_t> bytes = bases[static_cast<size_t>(round) % bases.size()];
        switch (rng() % 4) {
            case 0:  // flip a few bits anywhere
                for (int k = 1 + rng() % 4; k > 0; --k)
                    bytes[rng() % bytes.size()] ^= 1u << (rng() % 8);
                break;
            case 1:  // cut short
                bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(rng() % bytes.size()),
                            bytes.end());
                break;
            case 2:  // random bytes over a stretch
                for (size_t at = rng() % bytes.size(), n = 1 + rng() % 16;
                     n > 0 && at < bytes.size(); --n, ++at)
                    bytes[at] = static_cast<uint8_t>(rng());
                break;
            default:  // a large size field somewhere in the headers
                if (bytes.size() > 64) {
                    size_t at = rng() % 64;
                    uint32_t v = rng() | 0x80000000u;
                    for (int i = 0; i < 4 && at + i < bytes.size(); ++i)
                        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
                }
                break;
        }
        run.ExtractResult = 0;
        archive.Bytes = bytes;
        ExtractArchive(run);
        bool known = std::find(valid.begin(), valid.end(), run.ExtractResult) != valid.end();
        if (!known) ++failures;
        EXPECT_TRUE(known) << "round " << round << " result " << run.ExtractResult;
        EXPECT_EQ(run.Window, nullptr);
        EXPECT_FALSE(target.IsOpen);
        if (failures > 5) break;
    }
    run.OnDestinationName = {};
    run.ArchiveStream = nullptr;
    run.TargetStream = nullptr;
    ReleaseBuffers(run);
}

}  // namespace
