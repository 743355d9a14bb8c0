// A packed solid archive whose middle entry cannot be written: it is
// decoded without output, so the entry after it, which continues its
// history, still comes out whole.
#include <gtest/gtest.h>

#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "tests/common/archive_fixture.h"

using qvtest::ExtractWith;
using qvtest::MemoryStream;
using qvtest::ReadAll;
using qvtest::Recorder;
using qvtest::ScratchDir;

namespace {

TEST(SolidSkipMode, EntryAfterASkippedOneDecodesWhole) {
    // The later files repeat the earlier ones, so their packed data refers
    // back into the skipped entry's history.
    std::vector<uint8_t> a, b, c;
    for (int i = 0; i < 4000; ++i) {
        std::string line = "entry line " + std::to_string(i * 7919 % 10007) + "\n";
        a.insert(a.end(), line.begin(), line.end());
    }
    b = a;
    std::reverse(b.begin(), b.end());
    c = b;
    c.insert(c.end(), a.begin(), a.end());
    std::vector<qvpack::InputFile> in = {
        {a.data(), a.size()}, {b.data(), b.size()}, {c.data(), c.size()}};
    std::vector<qvpack::PackedFile> packed;
    ASSERT_TRUE(qvpack::PackFiles(in, {}, true, packed));
    ASSERT_EQ(packed.size(), 3u);
    ASSERT_TRUE(!packed[1].Stored && packed[1].Solid && !packed[2].Stored && packed[2].Solid);

    qvpack::ArchiveWriter w;
    w.Signature();
    w.MainHeader(0x0008);
    w.Packed("a", packed[0].Data, a, 0x8040);
    w.Packed("b", packed[1].Data, b, 0x8050);
    w.Packed("c", packed[2].Data, c, 0x8050);

    ExtractRun run;
    MemoryStream archive;
    archive.Bytes = w.Bytes;
    TMyFileStream target;
    ScratchDir dir("solid-skip");
    Recorder rec;
    rec.Dir = dir.Path.string();
    rec.EmptyFor = {"b"};
    ExtractWith(run, archive, target, rec);

    EXPECT_EQ(run.ExtractResult, 11);
    EXPECT_EQ(rec.Status, (std::vector<std::string>{"extracting " + rec.Dir + "/a", "skipped b",
                                                    "extracting " + rec.Dir + "/c"}));
    EXPECT_EQ(ReadAll(dir.File("a")), a);
    EXPECT_FALSE(std::filesystem::exists(dir.File("b")));
    EXPECT_EQ(ReadAll(dir.File("c")), c);
}

}  // namespace
