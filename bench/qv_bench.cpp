// qv_bench CORPUS_DIR [LEVEL]: one table comparing our packer and decoder
// with zlib level 9 (and libdeflate level 12 where it is built) on every
// file of the folder, CRC-32 speed against zlib's, and the peak memory of
// packing and extracting (each measured in a child process of its own).
// The same source builds natively and with the product's own flags for
// Windows, where the Windows build of zlib is the peer.
//
// Times are the least of several rounds that take turns (ours, then each
// peer), so that a busy machine slows all of them alike; decode times go
// through the extraction driver with a target that discards, so no disk is
// involved, and include the entry's CRC check.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#if defined(QV_BENCH_LIBDEFLATE)
#include <libdeflate.h>
#endif

#include "archive/reader.h"
#include "archive/reports.h"
#include "extract/extract.h"
#include "pack/archive_writer.h"
#include "pack/compressor.h"
#include "pack/discard_stream.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

double Seconds(const std::function<void()>& f) {
    const auto a = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// The least time of each function over rounds in which they take turns.
std::vector<double> LeastTimes(int rounds, const std::vector<std::function<void()>>& fs) {
    std::vector<double> least(fs.size(), 1e30);
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < fs.size(); ++i) least[i] = std::min(least[i], Seconds(fs[i]));
    }
    return least;
}

// The archive, read from memory as the product reads its resource in place.
class MemoryArchive : public TAbstractStream {
public:
    explicit MemoryArchive(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Open(const AnsiString&) override {
        pos_ = 0;
        IsOpen = true;
        return true;
    }
    bool Create(const AnsiString&) override { return false; }
    bool Close() override {
        IsOpen = false;
        return true;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int32_t Read(void* buffer, int32_t count) override {
        const int32_t n = std::min(count, Size() - pos_);
        if (n <= 0) return 0;
        std::memcpy(buffer, bytes_.data() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    uint32_t Seek(int32_t offset, int32_t origin) override {
        const int64_t base = origin == 0 ? 0 : origin == 1 ? pos_ : Size();
        if (origin < 0 || origin > 2) return kSeekBadOrigin;
        if (base + offset < 0 || base + offset > Size()) return kSeekBadPosition;
        pos_ = static_cast<int32_t>(base + offset);
        return kSeekOk;
    }
    int32_t Position() override { return pos_; }
    int32_t Size() override { return static_cast<int32_t>(bytes_.size()); }

private:
    const std::vector<uint8_t>& bytes_;
    int32_t pos_ = 0;
};

void AnyDestination(void*, const AnsiString&, AnsiString& destination) {
    destination = "discard";
}

// Runs the extraction driver over the archive bytes; returns ExtractResult.
int ExtractToNothing(const std::vector<uint8_t>& archive) {
    MemoryArchive in(archive);
    DiscardFileStream out;
    ExtractRun run;
    run.ArchiveStream = &in;
    run.TargetStream = &out;
    run.OnDestinationName = {AnyDestination, nullptr};
    ExtractArchive(run);
    ReleaseBuffers(run);
    return run.ExtractResult;
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

qvpack::PackedFile Pack(const std::vector<uint8_t>& d, int level) {
    std::vector<qvpack::PackedFile> out;
    qvpack::CompressOptions o;
    o.Level = level;
    qvpack::PackFiles({{d.data(), d.size()}}, o, false, out);
    return out[0];
}

// Peak memory of packing (the file) or extracting (an archive file), in a
// child process: its peak less that of the same child doing nothing.
#if defined(_WIN32)
std::string gSelf;

size_t PeakBytes() {
    PROCESS_MEMORY_COUNTERS c{};
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c));
    return c.PeakWorkingSetSize;
}

long ChildPeakKb(const char* task, const std::string& path, int level) {
    std::string line =
        "\"" + gSelf + "\" --peak " + task + " \"" + path + "\" " + std::to_string(level);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<long>(code);
}
#else
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
#endif

// The work of one memory measurement: "pack" a file or "extract" an archive.
void PeakTask(const std::string& task, const std::vector<uint8_t>& bytes, int level) {
    if (task == "pack") Pack(bytes, level);
    if (task == "extract") ExtractToNothing(bytes);
}

[[maybe_unused]] std::string Number(const char* format, double v) {
    char s[32];
    std::snprintf(s, sizeof(s), format, v);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    BuildCrcTable();
#if defined(_WIN32)
    if (argc == 5 && std::strcmp(argv[1], "--peak") == 0) {
        const std::vector<uint8_t> bytes = ReadFile(argv[3]);
        const size_t before = PeakBytes();
        if (std::strcmp(argv[2], "none") != 0) PeakTask(argv[2], bytes, std::atoi(argv[4]));
        return static_cast<int>((PeakBytes() - before) / 1024);
    }
    gSelf = argv[0];
#endif
    if (argc < 2) {
        std::fprintf(stderr, "usage: qv_bench CORPUS_DIR [LEVEL]\n");
        return 64;
    }
    const int level = argc > 2 ? std::atoi(argv[2]) : 3;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
        if (e.is_regular_file()) names.push_back(e.path().string());
    }
    std::sort(names.begin(), names.end());
    std::printf(
        "level %d; sizes in bytes, speeds in MB/s (least time of the rounds), ratios ours/theirs\n",
        level);
    std::printf("%-12s %9s %9s %9s %9s %6s %6s %7s %6s %7s %7s %7s %6s %6s %6s %7s %7s\n", "file",
                "size", "ours", "zlib9", "deflt12", "/zlib", "/deflt", "pack", "/zlib", "unpack",
                "inflate", "deflt", "/infl", "/i+crc", "/deflt", "packMB", "unpMB");
    for (const std::string& path : names) {
        const std::vector<uint8_t> d = ReadFile(path);
        const double mb = static_cast<double>(d.size()) / 1e6;
        qvpack::PackedFile p;
        uLongf zlen = compressBound(static_cast<uLong>(d.size()));
        std::vector<uint8_t> z(zlen);
        const std::vector<double> tPack = LeastTimes(
            3, {[&] { p = Pack(d, level); },
                [&] {
                    zlen = compressBound(static_cast<uLong>(d.size()));
                    compress2(z.data(), &zlen, d.data(), static_cast<uLong>(d.size()), 9);
                }});
        const size_t ours = p.Stored ? d.size() : p.Data.size();
        const std::vector<uint8_t> archive = BuildArchive(d, p);

        std::vector<uint8_t> back(d.size());
        int result = -1;
        uint32_t crcSink = 0;
        std::vector<std::function<void()>> decoders = {
            [&] { result = ExtractToNothing(archive); },
            [&] {
                uLongf n = static_cast<uLongf>(back.size());
                uncompress(back.data(), &n, z.data(), zlen);
            },
            [&] {
                uLongf n = static_cast<uLongf>(back.size());
                uncompress(back.data(), &n, z.data(), zlen);
                crcSink ^= static_cast<uint32_t>(crc32(0, back.data(), static_cast<uInt>(n)));
            }};
        std::string deflt = "-", deflRatio = "-", deflSpeed = "-", deflDecode = "-";
#if defined(QV_BENCH_LIBDEFLATE)
        libdeflate_compressor* lc = libdeflate_alloc_compressor(12);
        std::vector<uint8_t> ld(libdeflate_deflate_compress_bound(lc, d.size()));
        const size_t llen =
            libdeflate_deflate_compress(lc, d.data(), d.size(), ld.data(), ld.size());
        libdeflate_free_compressor(lc);
        libdeflate_decompressor* dd = libdeflate_alloc_decompressor();
        decoders.push_back([&] {
            size_t n = 0;
            libdeflate_deflate_decompress(dd, ld.data(), llen, back.data(), back.size(), &n);
        });
#endif
        const std::vector<double> t = LeastTimes(9, decoders);
#if defined(QV_BENCH_LIBDEFLATE)
        libdeflate_free_decompressor(dd);
        deflt = std::to_string(llen);
        deflRatio = Number("%.3f", static_cast<double>(ours) / static_cast<double>(llen));
        deflSpeed = Number("%.1f", mb / t[3]);
        deflDecode = Number("%.2f", t[3] / t[0]);
#endif

#if defined(_WIN32)
        const std::string original = path;
        const std::string archiveFile = path + ".qvbench";
        {
            std::ofstream f(archiveFile, std::ios::binary);
            f.write(reinterpret_cast<const char*>(archive.data()),
                    static_cast<std::streamsize>(archive.size()));
        }
        const long baseKb = ChildPeakKb("none", original, level);
        const long packKb = ChildPeakKb("pack", original, level) - baseKb;
        const long unpKb = ChildPeakKb("extract", archiveFile, level) - baseKb;
        std::remove(archiveFile.c_str());
#else
        // An idle child forked at the same point gives the inherited baseline.
        const long baseKb = ChildPeakKb([] {});
        const long packKb = ChildPeakKb([&] { PeakTask("pack", d, level); }) - baseKb;
        const long unpKb = ChildPeakKb([&] { PeakTask("extract", archive, level); }) - baseKb;
#endif
        std::string name = std::filesystem::path(path).filename().string();
        if (result != 0) name += "!";  // the round trip failed its checksum
        std::printf(
            "%-12s %9zu %9zu %9lu %9s %6.3f %6s %7.2f %6.2f %7.1f %7.1f %7s %6.2f %6.2f %6s %7.1f "
            "%7.1f\n",
            name.c_str(), d.size(), ours, static_cast<unsigned long>(zlen), deflt.c_str(),
            static_cast<double>(ours) / static_cast<double>(zlen), deflRatio.c_str(), mb / tPack[0],
            tPack[1] / tPack[0], mb / t[0], mb / t[1], deflSpeed.c_str(), t[1] / t[0], t[2] / t[0],
            deflDecode.c_str(), packKb / 1024.0, unpKb / 1024.0);
    }
    // CRC-32 over 16 MB.
    std::vector<uint8_t> big(16 << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    uint32_t a = 0, b = 0;
    const std::vector<double> tc = LeastTimes(
        5,
        {[&] { a = ~UpdateCrc32(0xFFFFFFFFu, big.data(), static_cast<int32_t>(big.size())); },
         [&] { b = static_cast<uint32_t>(crc32(0, big.data(), static_cast<uInt>(big.size()))); }});
    std::printf("crc32: ours %.0f MB/s, zlib %.0f MB/s, ratio %.2f%s\n", big.size() / 1e6 / tc[0],
                big.size() / 1e6 / tc[1], tc[1] / tc[0], a == b ? "" : " (MISMATCH)");
    std::printf(
        "/i+crc: against inflate plus zlib's crc32 of its output; memory columns: peak of a child "
        "that packs / extracts, less an idle child's\n");
    return 0;
}
