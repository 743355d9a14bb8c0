// The built qvarc tool, end to end: a, l, x, t, exit codes and the exact
// texts on standard output and standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "pack/archive_writer.h"
#include "tests/common/archive_fixture.h"

using qvpack::ArchiveWriter;
using qvtest::Bytes;
using qvtest::ReadAll;
using qvtest::ScratchDir;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int Status;
    std::string Out;
    std::string Err;
};

std::string Text(const std::string& path) {
    std::vector<uint8_t> b = ReadAll(path);
    return std::string(b.begin(), b.end());
}

// merged: standard error goes into Out too, as a log file or pipe takes both.
Outcome Qvarc(const ScratchDir& dir, const std::string& args, bool merged = false) {
    std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
    std::string cmd = "cd '" + dir.Path.string() + "' && '" QV_QVARC "' " + args + " >'" + out +
                      "' 2>" + (merged ? "&1" : "'" + err + "'");
    int raw = std::system(cmd.c_str());
    Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text(out), Text(err)};
    fs::remove(out);
    fs::remove(err);
    return o;
}

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void CrcHex(uint32_t crc, std::string& out) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", crc);
    out = buf;
}

TEST(Qvarc, AddListExtractTest) {
    ScratchDir dir("qvarc");
    std::vector<uint8_t> one = Bytes("first file\n"), two(70000, 'q');
    two[5] = 0;
    fs::create_directories(dir.Path / "in");
    Save(dir.File("in/one.txt"), one);
    Save(dir.File("in/two.bin"), two);
    ASSERT_EQ(Qvarc(dir, "a -m0 pack.arc in/one.txt in/two.bin").Status, 0);

    Outcome list = Qvarc(dir, "l pack.arc");
    EXPECT_EQ(list.Status, 0);
    std::string c1, c2;
    CrcHex(qvpack::Crc32(one), c1);
    CrcHex(qvpack::Crc32(two), c2);
    EXPECT_EQ(list.Out, "11 11 20 30 " + c1 + " 8040 20 one.txt\n70000 70000 20 30 " + c2 +
                            " 8040 20 two.bin\n");
    EXPECT_EQ(list.Err, "");

    fs::create_directories(dir.Path / "out");
    Outcome x = Qvarc(dir, "x --progress pack.arc out");
    EXPECT_EQ(x.Status, 0);
    EXPECT_EQ(x.Out,
              "extracting out/one.txt\nprogress 0 11\nextracting out/two.bin\nprogress 0 70000\n");
    EXPECT_EQ(x.Err, "");
    EXPECT_EQ(ReadAll(dir.File("out/one.txt")), one);
    EXPECT_EQ(ReadAll(dir.File("out/two.bin")), two);

    // Default folder ".", no progress lines.
    ScratchDir here("qvarc-here");
    fs::copy_file(dir.File("pack.arc"), here.File("pack.arc"));
    Outcome xd = Qvarc(here, "x pack.arc");
    EXPECT_EQ(xd.Status, 0);
    EXPECT_EQ(xd.Out, "extracting ./one.txt\nextracting ./two.bin\n");
    EXPECT_EQ(ReadAll(here.File("one.txt")), one);

    // t checks every entry and writes nothing.
    ScratchDir quiet("qvarc-t");
    fs::copy_file(dir.File("pack.arc"), quiet.File("pack.arc"));
    Outcome t = Qvarc(quiet, "t pack.arc");
    EXPECT_EQ(t.Status, 0);
    EXPECT_EQ(t.Out, "extracting ./one.txt\nextracting ./two.bin\n");
    size_t files = 0;
    for (auto& e : fs::directory_iterator(quiet.Path)) files += e.path().filename() != "pack.arc";
    EXPECT_EQ(files, 0u);
}

TEST(Qvarc, FailuresGiveTheResultCodeAndTheTexts) {
    ScratchDir dir("qvarc-fail");
    EXPECT_EQ(Qvarc(dir, "l missing.arc").Status, 2);
    EXPECT_EQ(Qvarc(dir, "x missing.arc").Status, 2);
    Save(dir.File("empty.arc"), {});
    EXPECT_EQ(Qvarc(dir, "l empty.arc").Status, 9);
    Save(dir.File("junk.arc"), Bytes("just some text that is no archive"));
    Outcome junk = Qvarc(dir, "x junk.arc");
    EXPECT_EQ(junk.Status, 9);
    EXPECT_EQ(junk.Out + junk.Err, "");

    ArchiveWriter w;
    w.Signature();
    w.MainHeader(0, {}, {}, 0xBEEF);  // broken main header
    w.Stored("a", Bytes("aaaa"));
    size_t b = w.Stored("b", Bytes("bbbb"));
    Save(dir.File("main.arc"), w.Bytes);
    Outcome main = Qvarc(dir, "t main.arc");
    EXPECT_EQ(main.Status, 0);
    EXPECT_EQ(main.Err, "Broken header\n");

    std::vector<uint8_t> cut(w.Bytes.begin(), w.Bytes.end() - 1);
    Save(dir.File("cut.arc"), cut);
    fs::create_directories(dir.Path / "o");
    Outcome x = Qvarc(dir, "x cut.arc o");
    EXPECT_EQ(x.Status, 3);
    EXPECT_EQ(x.Err, "Broken header\nUnexpected end of file\n");
    EXPECT_TRUE(fs::exists(dir.Path / "o" / "a"));
    EXPECT_FALSE(fs::exists(dir.Path / "o" / "b"));
    // Into one file, the texts keep the order of the run.
    EXPECT_EQ(Qvarc(dir, "x cut.arc o", true).Out,
              "Broken header\nextracting o/a\nextracting o/b\nUnexpected end of file\n");

    std::vector<uint8_t> header = w.Bytes;
    header[b + 3] ^= 0x02;  // a flag bit of b's header
    Save(dir.File("header.arc"), header);
    Outcome l = Qvarc(dir, "l header.arc");
    EXPECT_EQ(l.Status, 10);
    EXPECT_EQ(l.Out.substr(0, 5), "4 4 2");
    EXPECT_EQ(std::count(l.Out.begin(), l.Out.end(), '\n'), 1);

    // A folder that does not exist: every entry lacks a destination.
    EXPECT_EQ(Qvarc(dir, "x main.arc no/such/dir").Status, 11);

    // An input of 2 GB (sparse, never read) can't be an entry: refused, no archive.
    Save(dir.File("big.bin"), {});
    fs::resize_file(dir.File("big.bin"), 0x80000000ull);
    Outcome big = Qvarc(dir, "a -m0 big.arc big.bin");
    EXPECT_EQ(big.Status, 2);
    EXPECT_NE(big.Err.find("larger than 2 GB - 1 bytes"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.Path / "big.arc"));
}

TEST(Qvarc, UsageAndHelp) {
    ScratchDir dir("qvarc-usage");
    EXPECT_EQ(Qvarc(dir, "").Status, 64);
    EXPECT_EQ(Qvarc(dir, "q x.arc").Status, 64);
    EXPECT_EQ(Qvarc(dir, "x").Status, 64);
    EXPECT_EQ(Qvarc(dir, "t a.arc b").Status, 64);
    EXPECT_EQ(Qvarc(dir, "l").Status, 64);
    Outcome help = Qvarc(dir, "--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("qvarc x [--progress] ARCHIVE [DIR]"), std::string::npos);
}

}  // namespace
