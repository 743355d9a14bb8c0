// Writes the seed corpora of the fuzz targets with the archive writer and
// the compressor: small archives of every entry kind (stored, packed,
// multimedia, solid, after other data, directory, comment and sub-blocks,
// continued, unknown version), damaged ones (header and data checksums,
// cut short, an old-format header), and two that cost far more time than
// their size if the decoder or the walk lets them: a solid first entry with
// no code tables and a 2 GB size, and headers whose data reaches back over
// every earlier block.
//
//   qv_fuzz_seeds DIR TARGET...   writes DIR/TARGET for each target
//                                 (extract, list, unpacker, roundtrip)
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "tests/common/hostile_archives.h"
#include "tests/common/setup_program.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(size_t size) {
    static const char* const kWords[] = {"screen ", "saver ", "sky ", "scene ", "moves, ",
                                         "stars ",  "night ", "and ", "the ",   "over\n"};
    std::string text;
    for (uint32_t i = 0; text.size() < size; i = i * 1103515245u + 12345u)
        text += kWords[(i >> 16) % 10];
    return Bytes(text.begin(), text.begin() + static_cast<long>(size));
}

// 16-bit stereo samples of two tones: what multimedia coding is for.
Bytes Samples(size_t frames) {
    Bytes b;
    for (size_t i = 0; i < frames; ++i) {
        for (double hz : {440.0, 660.0}) {
            auto v = static_cast<int16_t>(9000 * std::sin(2 * M_PI * hz * i / 22050));
            b.push_back(static_cast<uint8_t>(v));
            b.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    return b;
}

Bytes Binary(size_t size) {
    Bytes b(size);
    uint32_t x = 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        b[i] = static_cast<uint8_t>((x >> 24) & (i % 64 < 32 ? 0x0F : 0xFF));
    }
    return b;
}

// Packs the files at the default level; a stored result stays stored.
std::vector<qvpack::PackedFile> Pack(const std::vector<Bytes>& files, bool solid) {
    std::vector<qvpack::InputFile> in;
    for (const Bytes& f : files) in.push_back({f.data(), f.size()});
    std::vector<qvpack::PackedFile> out;
    if (!qvpack::PackFiles(in, {}, solid, out)) std::exit(1);
    return out;
}

qvpack::ArchiveWriter Start(uint16_t mainFlags = 0) {
    qvpack::ArchiveWriter w;
    w.Signature();
    w.MainHeader(mainFlags);
    return w;
}

void AddPacked(qvpack::ArchiveWriter& w, const std::vector<Bytes>& files, bool solid) {
    std::vector<qvpack::PackedFile> packed = Pack(files, solid);
    for (size_t i = 0; i < files.size(); ++i) {
        std::string name = "file" + std::to_string(i);
        if (packed[i].Stored)
            w.Stored(name, files[i]);
        else
            w.Packed(name, packed[i].Data, files[i], packed[i].Solid ? 0x8010 : 0x8000);
    }
}

void Save(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::pair<std::string, Bytes>> Archives() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    auto add = [&](const std::string& name, const qvpack::ArchiveWriter& w) {
        seeds.emplace_back(name, w.Bytes);
    };
    qvpack::ArchiveWriter w = Start();
    w.Stored("one.txt", Text(300));
    w.Stored("dir/two.bin", Binary(200));
    add("stored", w);

    w = Start();
    AddPacked(w, {Text(6000)}, false);
    add("packed", w);

    w = Start();
    AddPacked(w, {Samples(3000)}, false);
    add("multimedia", w);

    w = Start(0x0008);
    AddPacked(w, {Text(3000), Binary(2000), Text(2500)}, true);
    add("solid", w);

    qvpack::ArchiveWriter led;
    led.Raw(Binary(100));
    led.Signature('R');
    led.MainHeader();
    led.Stored("after.txt", Text(100));
    add("after-other-data", led);

    w = Start();
    qvpack::FileEntry folder;
    folder.Name = "folder";
    folder.FileAttr = 0x10;
    folder.HeadFlags = 0;
    w.File(folder, {});
    w.Block(0x75, 0, {}, Text(40));
    w.Block(0x77, 0, {1, 2}, Text(20));
    w.Stored("continued", Text(50), 0x8001);
    qvpack::FileEntry future;
    future.Name = "future";
    future.UnpVer = 29;
    future.Method = 0x33;
    future.UnpSize = 10;
    w.File(future, Binary(10));
    w.Stored("last", Text(30));
    add("entry-kinds", w);

    w = Start();
    size_t at = w.Stored("bad-header", Text(100));
    w.Bytes[at] ^= 1;
    add("damaged-file-header", w);

    w = qvpack::ArchiveWriter();
    w.Signature();
    w.MainHeader(0, {}, {}, 0x1234);
    w.Stored("x", Text(20));
    add("damaged-main-header", w);

    w = Start();
    AddPacked(w, {Text(5000)}, false);
    w.Bytes[w.Bytes.size() / 2] ^= 0x40;
    add("damaged-data", w);

    w = Start();
    AddPacked(w, {Text(5000)}, false);
    w.Bytes.resize(w.Bytes.size() - 100);
    add("cut-short", w);

    qvpack::ArchiveWriter old;
    old.Raw(std::string("RE~^\x07\x00\x00", 7));
    add("old-format", old);

    seeds.emplace_back("solid-first-entry", qvtest::SolidEntryFirst());
    w.Bytes = qvtest::OverlappingHeaders(96 * 1024);
    add("data-reaching-back", w);
    return seeds;
}

// Header of the unpacker target (see fuzz_unpacker.cpp) and packed data.
constexpr size_t kUnpackerHeader = 9;
Bytes UnpackerSeed(const std::vector<Bytes>& files) {
    std::vector<qvpack::InputFile> in;
    for (const Bytes& f : files) in.push_back({f.data(), f.size()});
    std::vector<Bytes> packed;
    if (!qvpack::CompressChain(in, {}, packed)) std::exit(1);
    Bytes seed(kUnpackerHeader, 0);
    seed[0] = files.size() > 1 ? 1 : 0;
    for (size_t i = 0; i < files.size() && i < 2; ++i) {
        for (int b = 0; b < 3; ++b)
            seed[1 + 3 * i + b] = static_cast<uint8_t>(files[i].size() >> (8 * b));
    }
    seed[7] = static_cast<uint8_t>(packed[0].size());
    seed[8] = static_cast<uint8_t>(packed[0].size() >> 8);
    for (const Bytes& p : packed) seed.insert(seed.end(), p.begin(), p.end());
    return seed;
}

// Every seed of one target, by file name.
std::vector<std::pair<std::string, Bytes>> SeedsOf(const std::string& target) {
    if (target == "extract") return Archives();
    if (target == "list") {
        std::vector<std::pair<std::string, Bytes>> seeds = Archives();
        // A setup program: its resource's archive after a decoy.
        qvpack::ArchiveWriter payload = Start(), decoy = Start();
        AddPacked(payload, {Text(3000), Binary(1000)}, false);
        decoy.Stored("decoy", Text(100));
        seeds.emplace_back("setup-program", qvtest::SetupProgram(payload.Bytes, decoy.Bytes));
        return seeds;
    }
    std::vector<std::pair<std::string, Bytes>> seeds;
    if (target == "unpacker") {
        seeds.emplace_back("text", UnpackerSeed({Text(4000)}));
        seeds.emplace_back("binary", UnpackerSeed({Binary(3000)}));
        seeds.emplace_back("multimedia", UnpackerSeed({Samples(2000)}));
        seeds.emplace_back("solid-pair", UnpackerSeed({Text(2000), Text(1500)}));
        // A finding: samples in an entry of 2^31 bytes.
        Bytes huge = UnpackerSeed({Samples(2000)});
        huge[0] |= 2;
        huge[1] = huge[2] = huge[3] = 0;
        seeds.emplace_back("multimedia-2gb", huge);
        // A solid first entry of 2^31 bytes on never-read tables: each code
        // takes 15 bits, so a few packed bytes end it.
        Bytes solidFirst(kUnpackerHeader + 7, 0);
        solidFirst[0] = 2 | 8;
        seeds.emplace_back("solid-first-entry", solidFirst);
    } else if (target == "roundtrip") {
        const std::pair<const char*, Bytes> contents[] = {{"text", Text(3000)},
                                                          {"binary", Binary(2000)},
                                                          {"samples", Samples(1500)},
                                                          {"zeros", Bytes(2000, 0)}};
        for (const auto& [name, content] : contents) {
            // Level 3 alone, and levels 1 and 5 with three files, solid.
            for (uint8_t mode : {uint8_t{2}, uint8_t{0x50}, uint8_t{0x54}}) {
                Bytes seed{mode};
                seed.insert(seed.end(), content.begin(), content.end());
                seeds.emplace_back(std::string(name) + "-" + std::to_string(mode), seed);
            }
        }
    }
    return seeds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: qv_fuzz_seeds DIR TARGET...\n", stderr);
        return 2;
    }
    const fs::path dir = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::vector<std::pair<std::string, Bytes>> seeds = SeedsOf(argv[i]);
        if (seeds.empty()) {
            std::fprintf(stderr, "no target %s\n", argv[i]);
            return 2;
        }
        fs::remove_all(dir / argv[i]);
        fs::create_directories(dir / argv[i]);
        for (const auto& [name, bytes] : seeds) Save(dir / argv[i] / name, bytes);
    }
    return 0;
}
