// Round trips of the compressor through the real extraction driver and
// decoder, over typical and adversarial data, and the refusals of qvarc a.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "archive/reports.h"
#include "base/platform.h"
#include "extract/extract.h"
#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "pack/match_finder.h"

namespace {

// Sanitizer builds run the same cases on smaller inputs.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kScale = 8;
#else
constexpr size_t kScale = 1;
#endif

using Bytes = std::vector<uint8_t>;

// Collects every entry the driver writes.
class CaptureStream : public TMyFileStream {
public:
    std::vector<Bytes>* Out = nullptr;
    bool Open(const AnsiString&) override { return false; }
    bool CreatePartial(const AnsiString&) override {
        Out->emplace_back();
        IsOpen = true;
        return true;
    }
    bool Close() override {
        IsOpen = false;
        return true;
    }
    int32_t Write(const void* data, int32_t count) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        Out->back().insert(Out->back().end(), p, p + count);
        return count;
    }
    int32_t Read(void*, int32_t) override { return 0; }
    uint32_t Seek(int32_t, int32_t) override { return kSeekOk; }
    int32_t Position() override { return 0; }
    int32_t Size() override { return 0; }
};

void AnyName(void*, const AnsiString& name, AnsiString& destination) {
    destination = name;
}

struct Packed {
    Bytes Archive;
    std::vector<qvpack::PackedFile> Files;
};

Packed PackArchive(const std::vector<Bytes>& files, int level, bool solid, bool multimedia = true) {
    std::vector<qvpack::InputFile> in;
    for (const Bytes& f : files) in.push_back({f.data(), f.size()});
    qvpack::CompressOptions o;
    o.Level = level;
    o.Multimedia = multimedia;
    Packed p;
    EXPECT_TRUE(qvpack::PackFiles(in, o, solid, p.Files));
    qvpack::ArchiveWriter w;
    w.Signature('r');
    w.MainHeader(solid ? 0x0008 : 0);
    for (size_t i = 0; i < files.size(); ++i) {
        qvpack::FileEntry e;
        e.HeadFlags = static_cast<uint16_t>(0x8040 | (p.Files[i].Solid ? 0x10 : 0));
        e.Method = p.Files[i].Stored ? 0x30 : 0x33;
        e.UnpSize = static_cast<uint32_t>(files[i].size());
        e.FileCrc = qvpack::Crc32(files[i]);
        e.Name = "f" + std::to_string(i);
        w.File(e, p.Files[i].Stored ? files[i] : p.Files[i].Data);
    }
    p.Archive = std::move(w.Bytes);
    return p;
}

// Extracts through the driver; returns ExtractResult.
int Extract(const Bytes& archive, std::vector<Bytes>& out) {
    BuildCrcTable();
    RegisterResource("ARC", "#101", archive.data(), static_cast<int32_t>(archive.size()));
    ExtractRun run;
    run.OnDestinationName = {AnyName, nullptr};
    {
        TMyResourceStream in;
        CaptureStream target;
        target.Out = &out;
        run.ArchiveName = "#101";
        run.ArchiveStream = &in;
        run.TargetStream = &target;
        ExtractArchive(run);
        run.ArchiveStream = nullptr;
        run.TargetStream = nullptr;
    }
    ReleaseBuffers(run);
    run.OnDestinationName = {};
    ClearResources();
    return run.ExtractResult;
}

size_t PackedSize(const Packed& p, const std::vector<Bytes>& files, size_t i) {
    return p.Files[i].Stored ? files[i].size() : p.Files[i].Data.size();
}

void ExpectRoundTrip(const std::vector<Bytes>& files, int level, bool solid,
                     bool multimedia = true) {
    const Packed p = PackArchive(files, level, solid, multimedia);
    std::vector<Bytes> out;
    EXPECT_EQ(Extract(p.Archive, out), 0);
    ASSERT_EQ(out.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(out[i].size(), files[i].size()) << "entry " << i;
        EXPECT_TRUE(out[i] == files[i]) << "entry " << i;
    }
}

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<uint8_t>(rng());
    return b;
}

// Words from a small skewed vocabulary: compressible like prose.
Bytes Text(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 500; ++i) {
        std::string w;
        const int len = 2 + static_cast<int>(rng() % 8);
        for (int k = 0; k < len; ++k) w += static_cast<char>('a' + rng() % 26);
        words.push_back(w);
    }
    Bytes b;
    while (b.size() < n) {
        const double u = (rng() % 10000 + 1) / 10000.0;
        const std::string& w = words[static_cast<size_t>(499 * u * u * u)];
        b.insert(b.end(), w.begin(), w.end());
        b.push_back(rng() % 12 == 0 ? '\n' : ' ');
    }
    b.resize(n);
    return b;
}

// 16-bit stereo PCM: two mixed tones with a little noise.
Bytes Pcm(size_t frames, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        const double s = std::sin(2 * M_PI * 440 * t) + 0.5 * std::sin(2 * M_PI * 663 * t);
        for (int ch = 0; ch < 2; ++ch) {
            const int v =
                static_cast<int>(9000 * s * (ch ? 0.7 : 1.0)) + static_cast<int>(rng() % 64) - 32;
            b.push_back(static_cast<uint8_t>(v & 0xFF));
            b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    }
    return b;
}

TEST(Compressor, TypicalDataRoundTripsAtEveryLevelAndShrinks) {
    const Bytes text = Text(300000 / kScale, 1);
    const Bytes pcm = Pcm(60000 / kScale, 2);
    Bytes mixed = Text(40000 / kScale, 3);
    const Bytes rnd = RandomBytes(20000 / kScale, 4);
    mixed.insert(mixed.end(), rnd.begin(), rnd.end());
    mixed.insert(mixed.end(), text.begin(), text.begin() + 30000 / kScale);
    const std::vector<Bytes> files{text, pcm, mixed};
    // Level 1 parses greedily, 2 lazily, 3 text lazily and the rest
    // optimally, 4 and 5 everything optimally.
    size_t textSize[6] = {};
    for (int level = 1; level <= 5; ++level) {
        SCOPED_TRACE(level);
        ExpectRoundTrip(files, level, false);
        textSize[level] = PackedSize(PackArchive({text}, level, false), {text}, 0);
    }
    const Packed p = PackArchive(files, 3, false);
    EXPECT_LT(PackedSize(p, files, 0), text.size() * 45 / 100);
    EXPECT_LT(PackedSize(p, files, 1), pcm.size() * 60 / 100);
    // Each parser must earn its time: lazy beats greedy, optimal beats lazy.
    EXPECT_LT(textSize[3], textSize[1]);
    EXPECT_LT(textSize[5], textSize[3]);
}

TEST(Compressor, RunsAndPeriodicPatternsRoundTrip) {
    std::vector<Bytes> files;
    files.push_back(Bytes(200000 / kScale, 0));
    Bytes runs;
    std::mt19937 rng(7);
    while (runs.size() < 100000 / kScale)
        runs.insert(runs.end(), 1 + rng() % 300, static_cast<uint8_t>(rng() % 3));
    files.push_back(runs);
    for (size_t period : {1u, 2u, 3u, 4u, 7u, 16u, 31u, 255u, 256u, 257u, 299u, 300u}) {
        const Bytes unit = RandomBytes(period, static_cast<uint32_t>(period));
        Bytes b;
        while (b.size() < 30000 / kScale + period) b.insert(b.end(), unit.begin(), unit.end());
        // A few changed bytes break the period now and then.
        for (size_t i = 997; i < b.size(); i += 4099) b[i] ^= 0x5A;
        files.push_back(b);
    }
    for (int level = 1; level <= 5; ++level) {
        SCOPED_TRACE(level);
        ExpectRoundTrip(files, level, false);
    }
    ExpectRoundTrip(files, 1, true);
    ExpectRoundTrip(files, 3, true);
    const Packed p = PackArchive(files, 3, false);
    EXPECT_LT(PackedSize(p, files, 0), 2000u);  // a run costs next to nothing
}

TEST(Compressor, WindowSizedInputsAndFarMatchesRoundTrip) {
    // Exactly 1 MB, 1 MB + 1 and 1 MB + 300, each made of a block that
    // comes back nearly 1 MB later, so matches reach across the window and
    // the decoder's window wraps.
    for (size_t extra : {size_t{0}, size_t{1}, size_t{300}}) {
        const size_t n = (size_t{1} << 20) / kScale + extra;
        Bytes b = Text(n, 11);
        const Bytes head = RandomBytes(n / 16, 12);
        std::copy(head.begin(), head.end(), b.begin());
        std::copy(head.begin(), head.end(), b.end() - static_cast<ptrdiff_t>(head.size()));
        SCOPED_TRACE(n);
        ExpectRoundTrip({b}, 1, false);
    }
}

TEST(Compressor, ManySmallFilesSolidAndNot) {
    std::vector<Bytes> files;
    std::mt19937 rng(5);
    for (int i = 0; i < 120; ++i) {
        if (i % 17 == 0) {
            files.emplace_back();  // empty files are stored and leave the stream alone
        } else if (i % 5 == 0) {
            files.push_back(files[static_cast<size_t>(i / 2)]);  // a duplicate
        } else {
            files.push_back(Text(20 + rng() % 700, static_cast<uint32_t>(i)));
        }
    }
    ExpectRoundTrip(files, 3, false);
    ExpectRoundTrip(files, 3, true);
    size_t plain = 0, solid = 0;
    const Packed a = PackArchive(files, 3, false), b = PackArchive(files, 3, true);
    for (size_t i = 0; i < files.size(); ++i) {
        plain += PackedSize(a, files, i);
        solid += PackedSize(b, files, i);
        if (files[i].empty()) {
            EXPECT_TRUE(a.Files[i].Stored && b.Files[i].Stored);
        }
    }
    EXPECT_LT(solid, plain * 3 / 4);
}

TEST(Compressor, RandomDataNeverExceedsStoredSize) {
    const Bytes rnd = RandomBytes(200000 / kScale, 9);
    for (bool solid : {false, true}) {
        // In a solid run the incompressible file sits between packed ones.
        const std::vector<Bytes> files{Text(30000 / kScale, 1), rnd, Text(30000 / kScale, 2)};
        const Packed p = PackArchive(files, 3, solid);
        EXPECT_LE(PackedSize(p, files, 1), rnd.size() + rnd.size() / 1000);
        std::vector<Bytes> out;
        EXPECT_EQ(Extract(p.Archive, out), 0);
        ASSERT_EQ(out.size(), 3u);
        EXPECT_TRUE(out[0] == files[0] && out[1] == rnd && out[2] == files[2]);
    }
}

TEST(Compressor, MultimediaWinsOnSamplesAndStaysOutOfText) {
    const std::vector<Bytes> audio{Pcm(80000 / kScale, 3)};
    const Packed on = PackArchive(audio, 3, false, true);
    const Packed off = PackArchive(audio, 3, false, false);
    EXPECT_LT(PackedSize(on, audio, 0), PackedSize(off, audio, 0) * 85 / 100);
    ExpectRoundTrip(audio, 3, false, true);
    ExpectRoundTrip(audio, 3, true, true);
    // Text gains nothing from prediction: auto must not make it bigger.
    const std::vector<Bytes> text{Text(100000 / kScale, 4)};
    const Packed t1 = PackArchive(text, 3, false, true), t2 = PackArchive(text, 3, false, false);
    EXPECT_LE(PackedSize(t1, text, 0), PackedSize(t2, text, 0) * 1001 / 1000);
    // Samples followed by text and back: blocks switch modes both ways.
    Bytes mixed = audio[0];
    mixed.insert(mixed.end(), text[0].begin(), text[0].end());
    mixed.insert(mixed.end(), audio[0].begin(), audio[0].begin() + 70000 / kScale);
    ExpectRoundTrip({mixed, audio[0]}, 3, true, true);
}

// 8-bit mono samples: a slow wave with a little noise.
Bytes Mono8(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        const double s = std::sin(2 * M_PI * 300 * static_cast<double>(i) / 22050.0);
        b[i] = static_cast<uint8_t>(128 + static_cast<int>(90 * s) + static_cast<int>(rng() % 8));
    }
    return b;
}

TEST(Compressor, SamplesChangingFormatMidFileGetANewChannelCount) {
    // Stereo 16-bit samples, then 8-bit mono: the channel count kept from
    // segment to segment must give way when the format changes.
    const Bytes stereo = Pcm(50000, 5);
    const Bytes mono = Mono8(200000, 6);
    Bytes both = stereo;
    both.insert(both.end(), mono.begin(), mono.end());
    ExpectRoundTrip({both}, 3, false);
    const size_t apart = PackedSize(PackArchive({stereo}, 3, false), {stereo}, 0) +
                         PackedSize(PackArchive({mono}, 3, false), {mono}, 0);
    const size_t together = PackedSize(PackArchive({both}, 3, false), {both}, 0);
    EXPECT_LT(together, apart + apart / 50);
}

// Table of 32-bit addresses rising by small steps, as at the end of a
// program file: sampled data that only a per-segment look finds.
Bytes AddressTable(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    uint32_t base = 0x410000;
    while (b.size() < n) {
        base += 4u << (rng() % 4);
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(base >> (8 * k)));
    }
    b.resize(n);
    return b;
}

TEST(Compressor, SegmentsChooseTheirOwnMode) {
    // Text, random bytes that the fast levels pass through as literals
    // without searching, the same text again (matches reaching across the
    // unsearched bytes), then an address table well past the file's start.
    // Full size even under the sanitizer: the modes are chosen per 64 KB.
    const Bytes text = Text(200000, 21);
    const Bytes rnd = RandomBytes(100000, 22);
    const Bytes table = AddressTable(150000, 23);
    Bytes file = text;
    file.insert(file.end(), rnd.begin(), rnd.end());
    file.insert(file.end(), text.begin(), text.begin() + 60000);
    file.insert(file.end(), table.begin(), table.end());
    // The sanitizer build keeps to levels 1 and 3 (the slower ones take long
    // under it).
    for (int level = 1; level <= (kScale > 1 ? 3 : 5); level += (kScale > 1 ? 2 : 1)) {
        SCOPED_TRACE(level);
        ExpectRoundTrip({file}, level, false);
        if (level <= 3) ExpectRoundTrip({text, rnd, file}, level, true);
    }
    const Packed on = PackArchive({file}, 3, false, true);
    const Packed off = PackArchive({file}, 3, false, false);
    // The table gains from prediction (about 3% of its size here).
    EXPECT_LT(PackedSize(on, {file}, 0) + table.size() / 100, PackedSize(off, {file}, 0));
    // The random stretch costs about its size, the repeated text little.
    const size_t textOnly = PackedSize(PackArchive({text}, 3, false), {text}, 0);
    EXPECT_LT(PackedSize(off, {file}, 0), textOnly + rnd.size() * 1002 / 1000 + table.size() / 2);
}

// Machine-code-like bytes: opcodes from a small skewed set, one-byte
// operands from a few frame offsets, calls to a short list of targets as
// relative displacements; many short matches.
Bytes Code(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Bytes> ops;
    for (int i = 0; i < 24; ++i) {
        Bytes op(1 + rng() % 2);
        for (auto& c : op) c = static_cast<uint8_t>(rng());
        ops.push_back(op);
    }
    const uint8_t offsets[] = {4, 8, 0x0c, 0x10, 0xfc, 0xf8, 0xf4};
    std::vector<uint32_t> targets;
    for (int i = 0; i < 200; ++i) targets.push_back(0x401000 + rng() % 0x40000);
    Bytes b;
    while (b.size() < n) {
        const Bytes& op = ops[(rng() % 24) * (rng() % 24) / 24];
        b.insert(b.end(), op.begin(), op.end());
        switch (rng() % 4) {
            case 0:
                b.push_back(offsets[rng() % 7]);
                break;
            case 1: {
                const uint32_t rel =
                    targets[(rng() % 200) * (rng() % 200) / 200] - static_cast<uint32_t>(b.size());
                for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(rel >> (8 * k)));
                break;
            }
            default:
                break;
        }
    }
    b.resize(n);
    return b;
}

TEST(Compressor, TextAndCodeSegmentsSwitchParsers) {
    // The default level parses text lazily and code optimally, deciding per
    // 64 KB segment; the switches in both directions must keep the stream
    // decodable, whether the parts come as one file or as solid entries.
    const Bytes text = Text(150000 / kScale, 41);
    const Bytes code = Code(150000 / kScale, 42);
    Bytes file;
    for (int round = 0; round < 2; ++round) {
        file.insert(file.end(), text.begin(), text.end());
        file.insert(file.end(), code.begin(), code.end());
    }
    ExpectRoundTrip({file}, 3, false);
    ExpectRoundTrip({code, text, code, text}, 3, true);
    // The second round repeats the first: it must cost next to nothing.
    const Bytes half(file.begin(), file.begin() + static_cast<ptrdiff_t>(file.size() / 2));
    const size_t once = PackedSize(PackArchive({half}, 3, false), {half}, 0);
    const size_t twice = PackedSize(PackArchive({file}, 3, false), {file}, 0);
    EXPECT_LT(twice, once + once / 50);
    // Code is where the optimal parse pays against the lazy one, even in a
    // file of a few segments whose first prices are only a guess.
    const Bytes more = Code(150000, 43);
    const size_t lazy = PackedSize(PackArchive({more}, 2, false), {more}, 0);
    const size_t optimal = PackedSize(PackArchive({more}, 3, false), {more}, 0);
    EXPECT_LT(optimal, lazy * 99 / 100);
}

TEST(Compressor, CommonLengthMatchesBytewiseCompare) {
    std::mt19937 rng(31);
    Bytes a = RandomBytes(400, 32);
    for (int round = 0; round < 2000; ++round) {
        Bytes b = a;
        const size_t cut = rng() % 400;
        if (cut < b.size()) b[cut] ^= static_cast<uint8_t>(1u << (rng() % 8));
        const size_t off = rng() % 64;
        const int32_t limit = static_cast<int32_t>(rng() % (400 - off + 1));
        int32_t expect = 0;
        while (expect < limit && a[off + expect] == b[off + expect]) ++expect;
        ASSERT_EQ(CommonLength(a.data() + off, b.data() + off, limit), expect)
            << "cut " << cut << " off " << off << " limit " << limit;
    }
}

TEST(Compressor, OutputIsDeterministic) {
    const std::vector<Bytes> files{Text(50000 / kScale, 8), Pcm(10000 / kScale, 8)};
    for (int level : {1, 3, 5}) {
        EXPECT_TRUE(PackArchive(files, level, true).Archive ==
                    PackArchive(files, level, true).Archive);
    }
}

// qvarc a -------------------------------------------------------------------

std::string TempDir() {
    char tmpl[] = "/tmp/qvarc-add-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return d ? d : "/tmp";
}

int Shell(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

bool Exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

void WriteFile(const std::string& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

TEST(QvarcAdd, PacksWithEveryOptionAndRefusesBadInputs) {
    const std::string dir = TempDir();
    const std::string qvarc = QV_QVARC;
    WriteFile(dir + "/a.txt", Text(20000, 1));
    WriteFile(dir + "/b.raw", Pcm(4000, 1));
    WriteFile(dir + "/empty", {});
    const std::string inputs = " " + dir + "/a.txt " + dir + "/b.raw " + dir + "/empty";
    for (const char* opts : {"-m0", "-m1", "-m5 -s", "-mm off", "-s -mm auto"}) {
        SCOPED_TRACE(opts);
        const std::string arc = dir + "/ok.arc";
        EXPECT_EQ(Shell(qvarc + " a " + opts + " " + arc + inputs), 0);
        EXPECT_EQ(Shell(qvarc + " t " + arc), 0);
        std::remove(arc.c_str());
    }
    // A missing input, a folder as input, an unwritable output, a bad option.
    const std::string bad = dir + "/bad.arc";
    EXPECT_NE(Shell(qvarc + " a -m3 " + bad + " " + dir + "/missing"), 0);
    EXPECT_NE(Shell(qvarc + " a -m3 " + bad + " " + dir), 0);
    EXPECT_NE(Shell(qvarc + " a -m3 " + bad + " -x " + dir + "/a.txt"), 0);
    EXPECT_NE(Shell(qvarc + " a -m9 " + bad + " " + dir + "/a.txt"), 0);
    EXPECT_FALSE(Exists(bad));
    EXPECT_NE(Shell(qvarc + " a -m3 " + dir + "/no/such/dir/x.arc " + dir + "/a.txt"), 0);
    // Larger than a 32-bit size: refused before anything is read (sparse).
    const std::string huge = dir + "/huge";
    FILE* f = std::fopen(huge.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const bool sparse = ftruncate(fileno(f), static_cast<off_t>(0x100000000ll)) == 0;
    std::fclose(f);
    if (sparse) {
        EXPECT_NE(Shell(qvarc + " a -m0 " + bad + " " + huge), 0);
    }
    EXPECT_FALSE(Exists(bad));
    // A failed run leaves an existing archive as it was, and no temporary file.
    WriteFile(bad, {1, 2, 3});
    EXPECT_NE(Shell(qvarc + " a -m3 " + bad + " " + dir + "/missing"), 0);
    std::ifstream in(bad, std::ios::binary);
    EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(in)), {}), (Bytes{1, 2, 3}));
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
