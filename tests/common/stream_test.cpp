// The file stream over real files: open, create, read, write, seek, erase.
#include <gtest/gtest.h>

#include "tests/common/archive_fixture.h"

using qvtest::Bytes;
using qvtest::ReadAll;
using qvtest::ScratchDir;
namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

TEST(FileStream, CreateTruncatesAndWritesAtThePosition) {
    ScratchDir dir("fs-create");
    std::string path = dir.File("a.bin");
    WriteFile(path, "old content that is long");
    TMyFileStream s;
    EXPECT_FALSE(s.IsOpen);
    EXPECT_TRUE(s.Name.empty());
    ASSERT_TRUE(s.Create(path.c_str()));
    EXPECT_TRUE(s.IsOpen);
    EXPECT_EQ(s.Name, path.c_str());
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Write("hello world", 11), 11);
    EXPECT_EQ(s.Position(), 11);
    EXPECT_EQ(s.Seek(6, kSeekStart), kSeekOk);
    EXPECT_EQ(s.Write("WORLD", 5), 5);
    EXPECT_EQ(s.Write("", 0), 0);
    EXPECT_TRUE(s.Close());
    EXPECT_FALSE(s.IsOpen);
    EXPECT_EQ(s.Name, path.c_str());  // kept after Close
    EXPECT_EQ(ReadAll(path), Bytes("hello WORLD"));
}

TEST(FileStream, OpenReadAndSeekResults) {
    ScratchDir dir("fs-open");
    std::string path = dir.File("r.txt");
    WriteFile(path, "0123456789");
    TMyFileStream s;
    ASSERT_TRUE(s.Open(path.c_str()));
    EXPECT_EQ(s.Size(), 10);
    EXPECT_EQ(s.Position(), 0);
    char buf[16] = {};
    EXPECT_EQ(s.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(s.Seek(2, kSeekCurrent), kSeekOk);
    EXPECT_EQ(s.Read(buf, 16), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(s.Read(buf, 16), 0);  // at the end
    EXPECT_EQ(s.Seek(-3, kSeekEnd), kSeekOk);
    EXPECT_EQ(s.Position(), 7);
    // Errors leave the position where it was.
    EXPECT_EQ(s.Seek(0, 3), kSeekBadOrigin);
    EXPECT_EQ(s.Seek(-1, kSeekStart), kSeekBadPosition);
    EXPECT_EQ(s.Seek(-8, kSeekCurrent), kSeekBadPosition);
    EXPECT_EQ(s.Seek(0x7FFFFFFF, kSeekCurrent), kSeekBadPosition);
    EXPECT_EQ(s.Position(), 7);
    EXPECT_TRUE(s.Close());
}

TEST(FileStream, ClosedAndFailedStreams) {
    ScratchDir dir("fs-closed");
    TMyFileStream s;
    char buf[4];
    EXPECT_EQ(s.Write("abc", 3), 0);
    EXPECT_EQ(s.Read(buf, 4), 0);
    EXPECT_EQ(s.Position(), -1);
    EXPECT_EQ(s.Size(), -1);
    EXPECT_TRUE(s.Close());
    s.Erase();  // never opened: no name, nothing happens
    s.StampTimes();

    std::string path = dir.File("kept.txt");
    WriteFile(path, "x");
    ASSERT_TRUE(s.Open(path.c_str()));
    EXPECT_FALSE(s.Open(dir.File("missing.txt").c_str()));
    EXPECT_FALSE(s.IsOpen);
    EXPECT_EQ(s.Name, path.c_str());  // a failed open keeps the name
    EXPECT_FALSE(s.Create(dir.File("no/such/folder/f").c_str()));
    EXPECT_EQ(s.Name, path.c_str());
    EXPECT_EQ(s.Write("abc", 3), 0);
}

TEST(FileStream, EraseDeletesTheNamedFile) {
    ScratchDir dir("fs-erase");
    std::string path = dir.File("gone.bin");
    TMyFileStream s;
    ASSERT_TRUE(s.Create(path.c_str()));
    EXPECT_EQ(s.Write("abc", 3), 3);
    s.StampTimes();
    s.Erase();  // closes first
    EXPECT_FALSE(s.IsOpen);
    EXPECT_FALSE(fs::exists(path));
    // Reused for the next file, as the driver does.
    ASSERT_TRUE(s.Create(dir.File("next").c_str()));
    EXPECT_TRUE(s.Close());
    EXPECT_TRUE(fs::exists(dir.File("next")));
}

// CreatePartial writes beside the destination under a name of the partial
// pattern; only Commit puts the bytes in place, and a temporary file that
// is not committed goes with Erase, the next file or the stream.
TEST(FileStream, PartialFileReplacesItsDestinationOnlyOnCommit) {
    ScratchDir dir("fs-partial");
    const std::string dest = dir.File("d.txt");
    WriteFile(dest, "old");
    auto partials = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir.Path))
            n += IsPartialFileName(e.path().filename().string().c_str());
        return n;
    };
    {
        TMyFileStream s;
        ASSERT_TRUE(s.CreatePartial(dest.c_str()));
        EXPECT_EQ(DirectoryPart(s.Name), DirectoryPart(dest.c_str()));
        EXPECT_TRUE(IsPartialFileName(s.Name));
        EXPECT_EQ(s.Write("new", 3), 3);
        EXPECT_EQ(ReadAll(dest), Bytes("old"));
        EXPECT_TRUE(s.Commit());
        EXPECT_FALSE(s.IsOpen);
        EXPECT_EQ(ReadAll(dest), Bytes("new"));
        EXPECT_EQ(partials(), 0);

        ASSERT_TRUE(s.CreatePartial(dest.c_str()));
        EXPECT_EQ(partials(), 1);
        s.Erase();
        EXPECT_EQ(partials(), 0);
        ASSERT_TRUE(s.CreatePartial(dest.c_str()));
        ASSERT_TRUE(s.CreatePartial(dir.File("other").c_str()));  // drops the first
        EXPECT_EQ(partials(), 1);
        EXPECT_FALSE(s.CreatePartial(dir.File("no/such/folder/f").c_str()));
        EXPECT_EQ(partials(), 0);
        ASSERT_TRUE(s.CreatePartial(dest.c_str()));
    }  // the stream goes with its uncommitted file
    EXPECT_EQ(partials(), 0);
    EXPECT_EQ(ReadAll(dest), Bytes("new"));
    EXPECT_FALSE(fs::exists(dir.File("other")));

    // The pattern: "~qv" ... ".tmp", letters in either case, the last
    // component only.
    for (const char* name : {"~qv1.tmp", "~QVab12.TMP", "x/~qvz.tmp", "c:\\d\\~qv0.Tmp"})
        EXPECT_TRUE(IsPartialFileName(name)) << name;
    for (const char* name : {"~qv.tmp", "qv1.tmp", "~qv1.tmpx", "~qv1/a.tmp", "a~qv1.tmp"})
        EXPECT_FALSE(IsPartialFileName(name)) << name;
}

}  // namespace
