// Inputs the fuzzers found (scripts/fuzz.sh), each remade as the smallest
// archive that shows the fault. Several of the faults are undefined
// behaviour that only the sanitizer build sees; this file runs there too.
#include <gtest/gtest.h>

#include "pack/archive_writer.h"
#include "pack/discard_stream.h"
#include "pack/symbol_writer.h"
#include "tests/common/archive_fixture.h"

namespace {

// Runs the extraction driver over bytes, every entry into a discarding
// target; returns ExtractResult.
int32_t Extract(const std::vector<uint8_t>& bytes) {
    BuildCrcTable();
    ExtractRun run;
    qvtest::MemoryStream archive;
    archive.Bytes = bytes;
    DiscardFileStream target;
    run.ArchiveName = "#101";
    run.ArchiveStream = &archive;
    run.TargetStream = &target;
    run.OnDestinationName = {[](void*, const AnsiString&, AnsiString& to) { to = "entry"; },
                             nullptr};
    ExtractArchive(run);
    run.OnDestinationName = {};
    run.ArchiveStream = nullptr;
    run.TargetStream = nullptr;
    ReleaseBuffers(run);
    return run.ExtractResult;
}

}  // namespace

// An UnpSize of 2^31 leaves 2^31 - 1 bytes to produce after the format's
// first 32-bit decrement; the multimedia loop's step count then overflowed.
TEST(FuzzFindings, MultimediaEntryOfTwoGigabytes) {
    qvpack::Block block;
    block.Multimedia = true;
    block.Channels = 2;
    std::vector<uint8_t> content;
    for (int i = 0; i < 600; ++i) content.push_back(static_cast<uint8_t>(i * 3));
    for (uint8_t b : content) block.Tokens.push_back(qvpack::Token::AudioByte(b));
    qvpack::EncoderState state;
    std::vector<qvpack::EncodedEntry> entries;
    ASSERT_TRUE(qvpack::EncodeStream(state, {block}, false, entries));

    qvpack::ArchiveWriter w;
    w.Signature();
    w.MainHeader();
    qvpack::FileEntry entry;
    entry.Name = "two-gigabytes";
    entry.Method = 0x33;
    entry.UnpSize = 0x80000000u;
    entry.FileCrc = qvpack::Crc32(content);
    w.File(entry, entries[0].Packed);
    // Decoding ends with the packed data; the output can't match.
    EXPECT_EQ(Extract(w.Bytes), 3);
}
