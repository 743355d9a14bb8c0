// The archive reader: checksums, signature detection and the block walk.
#include <gtest/gtest.h>

#include "pack/archive_writer.h"
#include "tests/common/archive_fixture.h"

using qvpack::ArchiveWriter;
using qvpack::FileEntry;
using qvtest::Bytes;
using qvtest::MemoryStream;
using qvtest::Recorder;

namespace {

TEST(Checksums, Crc32CheckValueAndIncrementalUpdate) {
    BuildCrcTable();
    const char* text = "123456789";
    EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, text, 9), 0xCBF43926u);
    uint32_t part = UpdateCrc32(0xFFFFFFFFu, text, 4);
    part = UpdateCrc32(part, text + 4, 0);
    EXPECT_EQ(~UpdateCrc32(part, text + 4, 5), 0xCBF43926u);
    EXPECT_EQ(UpdateChecksum(0xFFFFFFFFu, text, 9, 2), ~0xCBF43926u);
    // The writer's independent CRC agrees on data of every byte value.
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i * 7 + 3);
    EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, all.data(), 256), qvpack::Crc32(all));
}

TEST(Checksums, FoldingAndTableStepsAgreeWithTheByteWiseRule) {
    BuildCrcTable();
    std::vector<uint8_t> data(400);
    uint32_t seed = 12345;
    for (auto& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 23);
    }
    // Every start offset (alignment) and every length around the 64- and
    // 16-byte folding blocks, split at every place, against one table
    // lookup per byte; with folding and with the table steps alone.
    for (int start = 0; start < 8; ++start) {
        const bool fold = start % 2 == 0;
        auto crc32 = [fold](uint32_t crc, const uint8_t* p, int n) {
            return fold ? UpdateCrc32(crc, p, n) : UpdateCrc32ByTable(crc, p, n);
        };
        for (int length = 0; length <= 170; ++length) {
            uint32_t expected = 0xFFFFFFFFu;
            for (int i = 0; i < length; ++i)
                expected = CrcTable[(expected ^ data[start + i]) & 0xFF] ^ (expected >> 8);
            EXPECT_EQ(crc32(0xFFFFFFFFu, data.data() + start, length), expected);
            for (int cut = 0; cut <= length; ++cut) {
                uint32_t crc = crc32(0xFFFFFFFFu, data.data() + start, cut);
                crc = crc32(crc, data.data() + start + cut, length - cut);
                ASSERT_EQ(crc, expected) << "start " << start << " length " << length;
            }
        }
    }
}

TEST(Checksums, OldChecksumAddsAndRotatesIn16Bits) {
    const uint8_t ff[2] = {0xFF, 0xFF};
    // 0xFF -> rotated 0x1FE; + 0xFF = 0x2FD -> rotated 0x5FA.
    EXPECT_EQ(UpdateOldChecksum(0, ff, 2), 0x5FA);
    const uint8_t zero = 0;
    // The top bit comes round to bit 0.
    EXPECT_EQ(UpdateOldChecksum(0x8000, &zero, 1), 0x0001);
    // The sum is cut to 16 bits before the rotation: 0xFFFF + 1 = 0.
    const uint8_t one = 1;
    EXPECT_EQ(UpdateOldChecksum(0xFFFF, &one, 1), 0);
    EXPECT_EQ(UpdateChecksum(0x8000, &zero, 1, 1), 1u);
    EXPECT_EQ(UpdateChecksum(0x12345678u, &zero, 0, 1), 0x5678u);
}

class Reader : public ::testing::Test {
protected:
    MemoryStream stream;
    ExtractRun run;
    Recorder rec;

    void SetUp() override {
        BuildCrcTable();
        run.ExtractResult = 0;
        run.ArchiveName = "#101";
        run.ArchiveStream = &stream;
        rec.Install(run);
    }
    void TearDown() override {
        Recorder::Uninstall(run);
        run.ArchiveStream = nullptr;
    }
    void Use(const std::vector<uint8_t>& bytes) {
        stream.Bytes = bytes;
        stream.Pos = 0;
        stream.IsOpen = true;
    }
    // Walks the blocks the way the driver does; returns the entry names.
    std::vector<std::string> Walk() {
        std::vector<std::string> names;
        stream.Seek(run.MainHeader.HeadSize - run.MainFixedSize, kSeekCurrent);
        int32_t r;
        while ((r = FindNextBlock(run, 0x8074)) > 0) {
            if (run.BlockHeader.HeadType == 0x74) {
                names.emplace_back(run.FileHeader.FileName.c_str(), run.FileHeader.FileName.size());
                EXPECT_EQ(r, 32 + run.FileHeader.NameSize);
            } else {
                names.push_back("<sub>");
            }
            SeekOrEnd(run, run.NextBlockStart);
        }
        return names;
    }
    static ArchiveWriter Start(char first = 'r', uint16_t flags = 0) {
        ArchiveWriter w;
        w.Signature(first);
        w.MainHeader(flags);
        return w;
    }
};

TEST_F(Reader, BothSignatureFormsAtTheStart) {
    for (char first : {'r', 'R'}) {
        ArchiveWriter w = Start(first);
        w.Stored("a.txt", Bytes("hello"));
        Use(w.Bytes);
        ASSERT_TRUE(DetectArchive(run)) << first;
        EXPECT_EQ(run.ArchiveFormat, 2);
        EXPECT_FALSE(run.SolidArchive);
        EXPECT_EQ(run.MainFixedSize, 13);
        EXPECT_EQ(stream.Position(), 20);
        EXPECT_EQ(Walk(), std::vector<std::string>{"a.txt"});
    }
    EXPECT_TRUE(rec.Errors.empty());
}

TEST_F(Reader, SolidFlagAndLongMainHeader) {
    ArchiveWriter w;
    w.Signature();
    w.MainHeader(0x0008, {1, 2, 3, 4, 5});
    w.Stored("b", Bytes("x"));
    Use(w.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_TRUE(run.SolidArchive);
    EXPECT_EQ(run.MainHeader.HeadSize, 18);
    EXPECT_EQ(Walk(), std::vector<std::string>{"b"});
}

TEST_F(Reader, LeadingProgramAndTheByteNinePlacesOn) {
    ArchiveWriter w;
    w.Raw(std::string(100, 'M'));
    w.Signature();
    w.MainHeader();
    w.Stored("c", Bytes("data"));
    Use(w.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(run.ArchiveFormat, 2);
    EXPECT_EQ(stream.Position(), 120);
    EXPECT_EQ(Walk(), std::vector<std::string>{"c"});

    std::vector<uint8_t> changed = w.Bytes;
    changed[100 + 9] = 0x74;
    Use(changed);
    EXPECT_FALSE(DetectArchive(run));

    // A false start ('r' without the rest) before the real signature.
    ArchiveWriter v;
    v.Raw(std::string("MZrar!xx") + std::string(20, 'r'));
    v.Signature('R');
    v.MainHeader();
    v.Stored("d", Bytes("1"));
    Use(v.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), std::vector<std::string>{"d"});
}

TEST_F(Reader, ShortAndForeignInputsAreNotArchives) {
    ArchiveWriter w = Start();
    for (size_t n = 0; n < 7; ++n) {
        Use(std::vector<uint8_t>(w.Bytes.begin(), w.Bytes.begin() + n));
        EXPECT_FALSE(DetectArchive(run)) << n;
    }
    // Signature at the start but the main header cut short.
    Use(std::vector<uint8_t>(w.Bytes.begin(), w.Bytes.begin() + 19));
    EXPECT_FALSE(DetectArchive(run));
    Use(std::vector<uint8_t>(5000, 0x52));
    EXPECT_FALSE(DetectArchive(run));
    // A signature beyond the 131,056 bytes that are scanned.
    ArchiveWriter far;
    far.Raw(std::vector<uint8_t>(7 + 0x1FFF0, 0));
    far.Signature();
    far.MainHeader();
    Use(far.Bytes);
    EXPECT_FALSE(DetectArchive(run));
    EXPECT_EQ(run.ScanBuffer, nullptr);
}

TEST_F(Reader, OldFormatIsRecognisedButHasNoEntries) {
    std::vector<uint8_t> old = {'R', 'E', '~', '^', 7, 0, 0xC8, 0x74, 0x74, 0x74};
    Use(old);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(run.ArchiveFormat, 1);
    EXPECT_EQ(run.MainFixedSize, 7);
    EXPECT_EQ(run.MainHeader.HeadFlags, 0x08);  // only the low six bits are kept
    EXPECT_TRUE(run.SolidArchive);
    EXPECT_TRUE(Walk().empty());
    EXPECT_TRUE(rec.Errors.empty());
}

TEST_F(Reader, BrokenMainHeaderIsReportedOnceAndTheWalkGoesOn) {
    ArchiveWriter w;
    w.Signature();
    w.MainHeader(0, {}, {}, 0x1234);
    w.Stored("e", Bytes("e"));
    Use(w.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(rec.Errors, std::vector<std::string>{"Broken header"});
    EXPECT_EQ(Walk(), std::vector<std::string>{"e"});
    EXPECT_EQ(rec.Errors.size(), 1u);
}

TEST_F(Reader, SubBlocksAndOtherBlocksInTheWalk) {
    ArchiveWriter w = Start();
    w.Block(0x75, 0, {9, 9, 9}, Bytes("a comment with data"));  // passed over
    w.Stored("f1", Bytes("one"));
    w.Block(0x77, 0, {1, 2}, Bytes("sub-block data"));  // returned to the caller
    w.Block(0x7A, 0, {});                               // no data
    w.Stored("f2", Bytes("two"));
    Use(w.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), (std::vector<std::string>{"f1", "<sub>", "f2"}));
    EXPECT_TRUE(rec.Errors.empty());
    EXPECT_EQ(run.ExtractResult, 0);
}

TEST_F(Reader, DamagedFileHeaders) {
    ArchiveWriter w = Start();
    w.Stored("good", Bytes("1"));
    size_t bad = w.Stored("bad", Bytes("2"));
    w.Stored("never", Bytes("3"));
    std::vector<uint8_t> bytes = w.Bytes;
    bytes[bad] ^= 0x01;  // header checksum
    Use(bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), std::vector<std::string>{"good"});
    EXPECT_EQ(run.ExtractResult, 10);

    // A changed name byte is covered by the checksum too.
    run.ExtractResult = 0;
    bytes = w.Bytes;
    bytes[bad + 33] ^= 0x20;
    Use(bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), std::vector<std::string>{"good"});
    EXPECT_EQ(run.ExtractResult, 10);

    // HeadSize below 7 ends the walk quietly.
    run.ExtractResult = 0;
    FileEntry e;
    e.Name = "tiny";
    e.HeadSize = 6;
    ArchiveWriter t = Start();
    t.File(e, {});
    t.Stored("after", Bytes("x"));
    Use(t.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_TRUE(Walk().empty());
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_TRUE(rec.Errors.empty());
}

TEST_F(Reader, NameLongerThanTheArchiveIsABrokenHeader) {
    FileEntry e;
    e.Name = "abc";
    e.NameSize = 4000;
    ArchiveWriter w = Start();
    w.File(e, {});
    Use(w.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_TRUE(Walk().empty());
    EXPECT_EQ(run.ExtractResult, 10);
}

TEST_F(Reader, TruncationInsideDataAndInsideAHeader) {
    ArchiveWriter w = Start();
    w.Stored("first", Bytes("0123456789"));
    size_t second = w.Stored("second", std::vector<uint8_t>(500, 'z'));
    std::vector<uint8_t> cut(w.Bytes.begin(), w.Bytes.end() - 100);
    Use(cut);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(rec.Errors, std::vector<std::string>{"Unexpected end of file"});

    // Cut inside the second header: taken as the end, nothing reported.
    rec.Errors.clear();
    Use(std::vector<uint8_t>(w.Bytes.begin(), w.Bytes.begin() + second + 20));
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), std::vector<std::string>{"first"});
    EXPECT_TRUE(rec.Errors.empty());
    EXPECT_EQ(run.ExtractResult, 0);

    // A new run starts clean: the earlier far NextBlockStart is forgotten.
    Use(cut);
    ASSERT_TRUE(DetectArchive(run));
    Walk();
    rec.Errors.clear();
    ArchiveWriter empty = Start();
    Use(empty.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_TRUE(Walk().empty());
    EXPECT_TRUE(rec.Errors.empty());
}

TEST_F(Reader, SizesThatWrapEndTheWalk) {
    // BlockStart + 11 + 0xFFFFFFF5 comes back to BlockStart.
    ArchiveWriter w = Start();
    w.Block(0x75, 0, {}, Bytes("x"));
    w.Put32(w.Bytes.size() - 1 - 4, 0xFFFFFFF5u);
    w.Stored("after", Bytes("y"));
    Use(w.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_TRUE(Walk().empty());

    // A data size that makes the next start negative.
    FileEntry e;
    e.Name = "huge";
    e.PackSize = 0x7FFFFFF0u;
    ArchiveWriter h = Start();
    h.File(e, Bytes("abc"));
    Use(h.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(FindNextBlock(run, 0x8074), 0);

    // A data size far beyond the archive: the walk ends at its end.
    e.PackSize = 0x70000000u;
    ArchiveWriter g = Start();
    g.File(e, Bytes("abc"));
    g.Stored("hidden", Bytes("in the data"));
    Use(g.Bytes);
    ASSERT_TRUE(DetectArchive(run));
    EXPECT_EQ(Walk(), std::vector<std::string>{"huge"});
    EXPECT_EQ(rec.Errors, std::vector<std::string>{"Unexpected end of file"});
    EXPECT_EQ(stream.Position(), stream.Size());
}

}  // namespace
