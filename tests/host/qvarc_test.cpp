// The built qvarc tool, end to end: a, l, x, t, exit codes and the exact
// texts on standard output and standard error, by default and with --raw.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "pack/archive_writer.h"
#include "tests/common/archive_fixture.h"
#include "tests/common/setup_program.h"

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

    Outcome list = Qvarc(dir, "l --raw pack.arc");
    EXPECT_EQ(list.Status, 0);
    std::string c1, c2;
    CrcHex(qvpack::Crc32(one), c1);
    CrcHex(qvpack::Crc32(two), c2);
    EXPECT_EQ(list.Out, "11 11 20 30 " + c1 + " 8040 20 one.txt\n70000 70000 20 30 " + c2 +
                            " 8040 20 two.bin\n");
    EXPECT_EQ(list.Err, "");

    fs::create_directories(dir.Path / "out");
    Outcome x = Qvarc(dir, "x --raw --progress pack.arc out");
    EXPECT_EQ(x.Status, 0);
    EXPECT_EQ(x.Out,
              "extracting out/one.txt\nprogress 0 11\nextracting out/two.bin\nprogress 0 70000\n");
    EXPECT_EQ(x.Err, "");
    EXPECT_EQ(ReadAll(dir.File("out/one.txt")), one);
    EXPECT_EQ(ReadAll(dir.File("out/two.bin")), two);

    // Default folder ".", no progress lines.
    ScratchDir here("qvarc-here");
    fs::copy_file(dir.File("pack.arc"), here.File("pack.arc"));
    Outcome xd = Qvarc(here, "x --raw pack.arc");
    EXPECT_EQ(xd.Status, 0);
    EXPECT_EQ(xd.Out, "extracting ./one.txt\nextracting ./two.bin\n");
    EXPECT_EQ(ReadAll(here.File("one.txt")), one);

    // t checks every entry and writes nothing.
    ScratchDir quiet("qvarc-t");
    fs::copy_file(dir.File("pack.arc"), quiet.File("pack.arc"));
    Outcome t = Qvarc(quiet, "t --raw pack.arc");
    EXPECT_EQ(t.Status, 0);
    EXPECT_EQ(t.Out, "extracting ./one.txt\nextracting ./two.bin\n");
    size_t files = 0;
    for (auto& e : fs::directory_iterator(quiet.Path)) files += e.path().filename() != "pack.arc";
    EXPECT_EQ(files, 0u);

    // By default: a table with totals, each name with OK, never
    // "extracting"; x makes its folder.
    Outcome table = Qvarc(dir, "l pack.arc");
    EXPECT_EQ(table.Status, 0);
    EXPECT_EQ(table.Out,
              "Name        Size  Packed   Ratio  Method  CRC       Attr\n"
              "one.txt       11      11  100.0%  stored  " +
                  c1 +
                  "  ----A\n"
                  "two.bin    70000   70000  100.0%  stored  " +
                  c2 +
                  "  ----A\n"
                  "---------------------------------------------------------\n"
                  "2 entries  70011   70011  100.0%\n");
    Outcome tested = Qvarc(quiet, "t --progress pack.arc");
    EXPECT_EQ(tested.Status, 0);
    EXPECT_EQ(tested.Out, "progress 0 11\none.txt: OK\nprogress 0 70000\ntwo.bin: OK\n");
    Outcome made = Qvarc(dir, "x pack.arc new/folder");
    EXPECT_EQ(made.Status, 0);
    EXPECT_EQ(made.Out, "new/folder/one.txt: OK\nnew/folder/two.bin: OK\n");
    EXPECT_EQ(made.Err + table.Err + tested.Err, "");
    EXPECT_EQ(ReadAll(dir.File("new/folder/two.bin")), two);
}

// Temporary files of entries or archives anywhere below dir.
int Partials(const ScratchDir& dir) {
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.Path))
        n += IsPartialFileName(e.path().filename().string().c_str());
    return n;
}

// Every failure by default: the exit status is the result code, and one
// line on standard error names the file and the cause. No case leaves a
// temporary file, and none changes a file it does not write.
TEST(Qvarc, FailuresSayWhatHappened) {
    ScratchDir dir("qvarc-say");
    ArchiveWriter w;
    w.Signature();
    w.MainHeader();
    w.Stored("a", Bytes("aaaa"));
    const size_t b = w.Stored("b", Bytes("bbbb"));
    Save(dir.File("ok.arc"), w.Bytes);
    std::vector<uint8_t> bytes = w.Bytes;
    bytes[b - 2] ^= 1;  // a data byte of a
    Save(dir.File("flip.arc"), bytes);
    Save(dir.File("cut.arc"), {w.Bytes.begin(), w.Bytes.end() - 1});
    Save(dir.File("cuthead.arc"), {w.Bytes.begin(), w.Bytes.begin() + b + 5});
    bytes = w.Bytes;
    bytes[b + 3] ^= 0x02;
    Save(dir.File("header.arc"), bytes);
    Save(dir.File("empty.arc"), {});
    Save(dir.File("junk.arc"), Bytes("just some text that is no archive"));
    ArchiveWriter m;
    m.Signature();
    m.MainHeader(0, {}, {}, 0xBEEF);
    m.Stored("a", Bytes("aaaa"));
    Save(dir.File("main.arc"), m.Bytes);
    ArchiveWriter v;
    v.Signature();
    v.MainHeader();
    qvpack::FileEntry e;
    e.Name = "new";
    e.UnpVer = 29;
    e.UnpSize = 3;
    v.File(e, Bytes("abc"));
    Save(dir.File("v29.arc"), v.Bytes);
    fs::create_directories(dir.Path / "folder.arc");
    ASSERT_EQ(mkfifo(dir.File("pipe.arc").c_str(), 0644), 0);
    Save(dir.File("file"), Bytes("a file"));
    Save(dir.File("outside"), Bytes("outside"));
    fs::create_directories(dir.Path / "in");
    fs::create_directories(dir.Path / "d1");
    Save(dir.File("in/x"), Bytes("x"));
    Save(dir.File("d1/X"), Bytes("X"));

    // The folder o before each case: what is in it, by name.
    struct Case {
        const char* args;
        int status;
        const char* error;  // one line on standard error
        std::vector<std::pair<std::string, std::string>> before;
        const char* after;  // o/a afterwards ("" none, "@" a folder, "->" the link)
    } cases[] = {
        {"l missing.arc",
         2,
         "qvarc: missing.arc: cannot be read: No such file or directory",
         {},
         ""},
        {"t folder.arc", 2, "qvarc: folder.arc: a folder, not an archive", {}, ""},
        {"l empty.arc", 9, "qvarc: empty.arc: not an archive (the file is empty)", {}, ""},
        {"x junk.arc o", 9, "qvarc: junk.arc: not an archive", {}, ""},
        {"l cut.arc",
         10,
         "qvarc: cut.arc: unexpected end of file: the archive is cut short",
         {},
         ""},
        {"l cuthead.arc",
         10,
         "qvarc: cuthead.arc: the archive ends inside a header: it is cut short",
         {},
         ""},
        {"t main.arc", 10, "qvarc: main.arc: the main header is damaged", {}, ""},
        {"l header.arc",
         10,
         "qvarc: header.arc: a file header is damaged; the entries after it are not read",
         {},
         ""},
        {"t flip.arc", 3, "qvarc: a: damaged (checksum mismatch)", {}, ""},
        {"x -o flip.arc o",
         3,
         "qvarc: o/a: damaged (checksum mismatch); the existing file is kept",
         {{"a", "older"}},
         "older"},
        {"x flip.arc o", 3, "qvarc: o/a: damaged (checksum mismatch); not written", {}, ""},
        {"x ok.arc o", 11, "qvarc: o/a: exists; kept (-o replaces it)", {{"a", "mine"}}, "mine"},
        {"x -o ok.arc o",
         11,
         "qvarc: o/a: a folder of that name exists; not written",
         {{"a", "@"}},
         "@"},
        {"x -o ok.arc o", 0, nullptr, {{"a", "->"}}, "aaaa"},
        {"x ok.arc file/o", 11, "qvarc: file/o: the folder can't be made: Not a directory", {}, ""},
        {"t v29.arc", 1, "qvarc: new: needs unpack version 29, which qvarc can't decode", {}, ""},
        {"a d1/x.arc in/x d1/X",
         64,
         "qvarc: in/x and d1/X would be stored as x and X, one name on Windows",
         {},
         ""},
        {"a d1/x.arc in/x in/x", 64, "qvarc: in/x and in/x would both be stored as x", {}, ""},
        {"a folder.arc in/x",
         2,
         "qvarc: folder.arc exists and is a folder, not a regular file; not replaced",
         {},
         ""},
        {"a pipe.arc in/x",
         2,
         "qvarc: pipe.arc exists and is a device, pipe or socket, not a regular file; not replaced",
         {},
         ""},
        {"a no/such/x.arc in/x",
         2,
         "qvarc: cannot write no/such/x.arc: No such file or directory",
         {},
         ""},
        {"a x.arc in/missing",
         2,
         "qvarc: cannot read in/missing: No such file or directory",
         {},
         ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir.Path / "o");
        fs::create_directories(dir.Path / "o");
        for (const auto& [name, content] : c.before) {
            const std::string path = dir.File("o/" + name);
            if (content == "@")
                fs::create_directories(path);
            else if (content == "->")
                fs::create_symlink(dir.File("outside"), path);
            else
                Save(path, Bytes(content));
        }
        Outcome o = Qvarc(dir, c.args);
        EXPECT_EQ(o.Status, c.status) << c.args;
        EXPECT_EQ(o.Err, c.error ? std::string(c.error) + "\n" : "") << c.args;
        EXPECT_EQ(o.Out.find("extracting"), std::string::npos) << c.args;
        const fs::path a = dir.Path / "o" / "a";
        const std::string after = c.after;
        if (after.empty())
            EXPECT_FALSE(fs::exists(fs::symlink_status(a))) << c.args;
        else if (after == "@")
            EXPECT_TRUE(fs::is_directory(a)) << c.args;
        else
            EXPECT_EQ(Text(a.string()), after) << c.args;
        // A link is replaced as a name; the file outside stays.
        EXPECT_EQ(Text(dir.File("outside")), "outside") << c.args;
        EXPECT_EQ(Partials(dir), 0) << c.args;
    }
    EXPECT_FALSE(fs::exists(dir.Path / "x.arc"));
}

// An a stopped by a signal while it packs removes its temporary file; the
// archive's name stays free.
TEST(Qvarc, InterruptedAddLeavesNothing) {
    ScratchDir dir("qvarc-stop");
    std::vector<uint8_t> input(6 << 20);
    std::mt19937 rng(7);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>(i % 3000 < 1500 ? rng() : i * 13 / 7);
    Save(dir.File("in.bin"), input);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(dir.Path.c_str()) != 0) _exit(125);
            execl(QV_QVARC, "qvarc", "a", "-m5", "out.arc", "in.bin", static_cast<char*>(nullptr));
            _exit(126);
        }
        // Stopped while its temporary file exists, that is while it packs.
        bool started = false;
        for (int ms = 0; ms < 20000 && !started; ms += 5) {
            started = Partials(dir) > 0;
            if (!started) usleep(5000);
        }
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(started) << signal;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_EQ(Partials(dir), 0) << signal;
        EXPECT_FALSE(fs::exists(dir.Path / "out.arc")) << signal;
    }
}

// --raw: the driver's own texts and result codes, as scripts read them.
TEST(Qvarc, RawFailuresGiveTheResultCodeAndTheDriversTexts) {
    ScratchDir dir("qvarc-fail");
    EXPECT_EQ(Qvarc(dir, "l --raw missing.arc").Status, 2);
    EXPECT_EQ(Qvarc(dir, "x --raw missing.arc").Status, 2);
    Save(dir.File("empty.arc"), {});
    EXPECT_EQ(Qvarc(dir, "l --raw empty.arc").Status, 9);
    Save(dir.File("junk.arc"), Bytes("just some text that is no archive"));
    Outcome junk = Qvarc(dir, "x --raw junk.arc");
    EXPECT_EQ(junk.Status, 9);
    EXPECT_EQ(junk.Out + junk.Err, "");

    ArchiveWriter w;
    w.Signature();
    w.MainHeader(0, {}, {}, 0xBEEF);  // broken main header
    w.Stored("a", Bytes("aaaa"));
    size_t b = w.Stored("b", Bytes("bbbb"));
    Save(dir.File("main.arc"), w.Bytes);
    Outcome main = Qvarc(dir, "t --raw main.arc");
    EXPECT_EQ(main.Status, 0);
    EXPECT_EQ(main.Err, "Broken header\n");

    std::vector<uint8_t> cut(w.Bytes.begin(), w.Bytes.end() - 1);
    Save(dir.File("cut.arc"), cut);
    fs::create_directories(dir.Path / "o");
    Outcome x = Qvarc(dir, "x --raw cut.arc o");
    EXPECT_EQ(x.Status, 3);
    EXPECT_EQ(x.Err, "Broken header\nUnexpected end of file\n");
    EXPECT_TRUE(fs::exists(dir.Path / "o" / "a"));
    EXPECT_FALSE(fs::exists(dir.Path / "o" / "b"));
    // Into one file, the texts keep the order of the run.
    EXPECT_EQ(Qvarc(dir, "x --raw cut.arc o", true).Out,
              "Broken header\nextracting o/a\nextracting o/b\nUnexpected end of file\n");

    std::vector<uint8_t> header = w.Bytes;
    header[b + 3] ^= 0x02;  // a flag bit of b's header
    Save(dir.File("header.arc"), header);
    Outcome l = Qvarc(dir, "l --raw header.arc");
    EXPECT_EQ(l.Status, 10);
    EXPECT_EQ(l.Out.substr(0, 5), "4 4 2");
    EXPECT_EQ(std::count(l.Out.begin(), l.Out.end(), '\n'), 1);

    // A folder that does not exist: every entry lacks a destination.
    EXPECT_EQ(Qvarc(dir, "x --raw main.arc no/such/dir").Status, 11);

    // An input of 2 GB (sparse, never read) can't be an entry: refused, no archive.
    Save(dir.File("big.bin"), {});
    fs::resize_file(dir.File("big.bin"), 0x80000000ull);
    Outcome big = Qvarc(dir, "a -m0 big.arc big.bin");
    EXPECT_EQ(big.Status, 2);
    EXPECT_NE(big.Err.find("larger than 2 GB - 1 bytes"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.Path / "big.arc"));
}

// A setup program is read through its resource "ARC" 101: exactly its
// archive, in every command and mode. A program whose resource can't be
// read is scanned for an archive as any file.
TEST(Qvarc, SetupProgramIsReadThroughItsEmbeddedArchive) {
    ScratchDir dir("qvarc-setup");
    ArchiveWriter payload, decoy;
    for (ArchiveWriter* w : {&payload, &decoy}) {
        w->Signature();
        w->MainHeader();
    }
    payload.Stored("Payload.txt", Bytes("the payload"));
    decoy.Stored("decoy", Bytes("not this"));
    Save(dir.File("setup.exe"), qvtest::SetupProgram(payload.Bytes, decoy.Bytes));
    Save(dir.File("payload.arc"), payload.Bytes);
    EXPECT_EQ(Qvarc(dir, "l --raw setup.exe").Out, Qvarc(dir, "l --raw payload.arc").Out);
    Outcome list = Qvarc(dir, "l setup.exe");
    EXPECT_EQ(list.Status, 0);
    EXPECT_NE(list.Out.find("Payload.txt"), std::string::npos);
    EXPECT_EQ(list.Out.find("decoy"), std::string::npos);
    EXPECT_EQ(list.Err, "");
    EXPECT_EQ(Qvarc(dir, "t setup.exe").Out, "Payload.txt: OK\n");
    EXPECT_EQ(Qvarc(dir, "x setup.exe o").Status, 0);
    EXPECT_EQ(Text(dir.File("o/Payload.txt")), "the payload");

    // A resource that claims more bytes than the file has.
    Save(dir.File("broken.exe"), qvtest::SetupProgram(payload.Bytes, decoy.Bytes, 0x10000000));
    Outcome scanned = Qvarc(dir, "l --raw broken.exe");
    EXPECT_EQ(scanned.Out.rfind("8 8 20 30 ", 0), 0u);  // the decoy
}

TEST(Qvarc, UsageHelpAndVersion) {
    ScratchDir dir("qvarc-usage");
    EXPECT_EQ(Qvarc(dir, "").Status, 64);
    EXPECT_EQ(Qvarc(dir, "q x.arc").Status, 64);
    EXPECT_EQ(Qvarc(dir, "x").Status, 64);
    EXPECT_EQ(Qvarc(dir, "t a.arc b").Status, 64);
    EXPECT_EQ(Qvarc(dir, "l").Status, 64);
    EXPECT_EQ(Qvarc(dir, "l --progress a.arc").Status, 64);
    EXPECT_EQ(Qvarc(dir, "t -o a.arc").Status, 64);
    Outcome help = Qvarc(dir, "--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("qvarc x [--raw] [--progress] [-o] ARCHIVE [DIR]"), std::string::npos);
    // Every result code with its meaning.
    for (const char* code : {"\n   0  ", "\n   1  ", "\n   2  ", "\n   3  ", "\n   8  ", "\n   9  ",
                             "\n  10  ", "\n  11  "})
        EXPECT_NE(help.Out.find(code), std::string::npos) << code;
    Outcome version = Qvarc(dir, "--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("qvarc ", 0), 0u);
}

}  // namespace
