// qv_bench CORPUS_DIR: one table comparing our packer and decoder with zlib
// level 9 and libdeflate level 12 on every file of the folder, CRC-32 speed
// against zlib's, and the peak memory of packing and extracting (each
// measured in a child process of its own). Times are medians of several
// runs; decode speeds go through the extraction driver with a target that
// discards, so no disk is involved.
#include <libdeflate.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/platform.h"
#include "archive/reader.h"
#include "archive/reports.h"
#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "pack/discard_stream.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

double MedianSeconds(int runs, const std::function<void()>& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void AnyDestination(void*, const AnsiString&, AnsiString& destination) {
    destination = "discard";
}

// Runs the extraction driver over the archive bytes; returns ExtractResult.
int ExtractToNothing(const std::vector<uint8_t>& archive) {
    RegisterResource("ARC", "#101", archive.data(), static_cast<int32_t>(archive.size()));
    OnDestinationName = {AnyDestination, nullptr};
    ExtractResult = 0;
    {
        TMyResourceStream in;
        DiscardFileStream out;
        ArchiveStream = &in;
        TargetStream = &out;
        ExtractArchive();
        ArchiveStream = nullptr;
        TargetStream = nullptr;
    }
    ReleaseBuffers();
    OnDestinationName = {};
    return ExtractResult;
}

std::vector<uint8_t> BuildArchive(const std::vector<uint8_t>& content,
                                  const qvpack::PackedFile& p) {
    qvpack::ArchiveWriter w;
    w.Signature('r');
    w.MainHeader();
    qvpack::FileEntry e;
    e.HeadFlags = 0x8040;
    e.Method = p.Stored ? 0x30 : 0x33;
    e.UnpSize = static_cast<uint32_t>(content.size());
    e.FileCrc = qvpack::Crc32(content);
    e.Name = "entry";
    w.File(e, p.Stored ? content : p.Data);
    return w.Bytes;
}

qvpack::PackedFile Pack(const std::vector<uint8_t>& d, int level, size_t* memory = nullptr) {
    std::vector<qvpack::PackedFile> out;
    qvpack::CompressOptions o;
    o.Level = level;
    qvpack::CompressStats st;
    qvpack::PackFiles({{d.data(), d.size()}}, o, false, out, &st);
    if (memory) *memory = st.PeakMemory;
    return out[0];
}

long ChildPeakKb(const std::function<void()>& f) {
    const pid_t pid = fork();
    if (pid == 0) {
        f();
        _exit(0);
    }
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qv_bench CORPUS_DIR [LEVEL]\n");
        return 64;
    }
    const int level = argc > 2 ? std::atoi(argv[2]) : 3;
    BuildCrcTable();
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
        if (e.is_regular_file()) names.push_back(e.path().string());
    }
    std::sort(names.begin(), names.end());
    std::printf("level %d; sizes in bytes, speeds in MB/s (medians), ratios ours/theirs\n", level);
    std::printf("%-12s %9s %9s %9s %9s %6s %6s %7s %6s %7s %7s %7s %6s %6s %7s %7s\n", "file",
                "size", "ours", "zlib9", "deflt12", "/zlib", "/deflt", "pack", "/zlib", "unpack",
                "inflate", "deflt", "/infl", "/deflt", "packMB", "unpMB");
    for (const std::string& path : names) {
        const std::vector<uint8_t> d = ReadFile(path);
        const double mb = d.size() / 1e6;
        qvpack::PackedFile p;
        size_t selfMem = 0;
        const double tPack = MedianSeconds(3, [&] { p = Pack(d, level, &selfMem); });
        const size_t ours = p.Stored ? d.size() : p.Data.size();
        const std::vector<uint8_t> archive = BuildArchive(d, p);

        uLongf zlen = compressBound(d.size());
        std::vector<uint8_t> z(zlen);
        const double tZ = MedianSeconds(3, [&] {
            zlen = compressBound(d.size());
            compress2(z.data(), &zlen, d.data(), d.size(), 9);
        });
        libdeflate_compressor* lc = libdeflate_alloc_compressor(12);
        std::vector<uint8_t> ld(libdeflate_deflate_compress_bound(lc, d.size()));
        const size_t llen =
            libdeflate_deflate_compress(lc, d.data(), d.size(), ld.data(), ld.size());
        libdeflate_free_compressor(lc);

        int result = -1;
        const double tUnp = MedianSeconds(7, [&] { result = ExtractToNothing(archive); });
        std::vector<uint8_t> back(d.size());
        const double tInf = MedianSeconds(7, [&] {
            uLongf n = back.size();
            uncompress(back.data(), &n, z.data(), zlen);
        });
        libdeflate_decompressor* dd = libdeflate_alloc_decompressor();
        const double tLd = MedianSeconds(7, [&] {
            size_t n = 0;
            libdeflate_deflate_decompress(dd, ld.data(), llen, back.data(), back.size(), &n);
        });
        libdeflate_free_decompressor(dd);

        // An idle child forked at the same point gives the inherited baseline.
        const long baseKb = ChildPeakKb([] {});
        const long packKb = ChildPeakKb([&] { Pack(d, level); }) - baseKb;
        const long unpKb = ChildPeakKb([&] { ExtractToNothing(archive); }) - baseKb;
        std::string name = std::filesystem::path(path).filename().string();
        if (result != 0) name += "!";  // the round trip failed its checksum
        std::printf(
            "%-12s %9zu %9zu %9lu %9zu %6.3f %6.3f %7.2f %6.2f %7.1f %7.1f %7.1f %6.2f %6.2f %7.1f "
            "%7.1f\n",
            name.c_str(), d.size(), ours, static_cast<unsigned long>(zlen), llen,
            static_cast<double>(ours) / zlen, static_cast<double>(ours) / llen, mb / tPack,
            tZ / tPack, mb / tUnp, mb / tInf, mb / tLd, tInf / tUnp, tLd / tUnp, packKb / 1024.0,
            unpKb / 1024.0);
        (void)selfMem;
    }
    // CRC-32 over 16 MB.
    std::vector<uint8_t> big(16 << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    uint32_t a = 0, b = 0;
    const double tOur = MedianSeconds(
        5, [&] { a = ~UpdateCrc32(0xFFFFFFFFu, big.data(), static_cast<int32_t>(big.size())); });
    const double tZc = MedianSeconds(
        5, [&] { b = static_cast<uint32_t>(crc32(0, big.data(), static_cast<uInt>(big.size()))); });
    std::printf("crc32: ours %.0f MB/s, zlib %.0f MB/s, ratio %.2f%s\n", big.size() / 1e6 / tOur,
                big.size() / 1e6 / tZc, tZc / tOur, a == b ? "" : " (MISMATCH)");
    std::printf(
        "memory columns: peak resident set of a child that packs / extracts, minus an idle "
        "child's\n");
    return 0;
}
