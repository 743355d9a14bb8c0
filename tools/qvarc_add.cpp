// qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...
// Writes an archive whose entries are named by the last component of their
// file names: -m0 stores, -m1..-m5 pack (faster to smaller), -s chains the
// packed entries into one solid stream, -mm off never uses multimedia
// blocks. The archive is written beside its final name and renamed only
// when complete, so a failed run leaves nothing behind.
#include "tools/qvarc_add.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/compressor.h"

namespace {

constexpr uint16_t kEntryFlags = 0x8040;  // has data, the 1 MB window bits
constexpr uint16_t kEntrySolid = 0x0010;
constexpr uint16_t kMainSolid = 0x0008;

int Usage() {
    std::fprintf(stderr, "usage: qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...\n");
    return 64;
}

// The reader and the driver take sizes and positions as signed 32-bit
// numbers: an entry or an archive of 2 GB or more would be written but could
// never be extracted.
constexpr uint64_t kLargestArchive = 0x7FFFFFFF;

// Reads a regular file whole; refuses what an entry can't hold.
bool ReadInput(const char* path, std::vector<uint8_t>& out) {
    struct stat st;
    if (stat(path, &st) != 0) {
        std::fprintf(stderr, "qvarc: cannot read %s: %s\n", path, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "qvarc: cannot read %s: not a regular file\n", path);
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > kLargestArchive) {
        std::fprintf(stderr, "qvarc: %s is larger than 2 GB - 1 bytes, which an entry can't hold\n",
                     path);
        return false;
    }
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "qvarc: cannot read %s: %s\n", path, std::strerror(errno));
        return false;
    }
    out.resize(static_cast<size_t>(st.st_size));
    const size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), f);
    const bool ok = got == out.size() && std::ferror(f) == 0;
    std::fclose(f);
    if (!ok) std::fprintf(stderr, "qvarc: cannot read %s\n", path);
    return ok;
}

std::string LastComponent(const std::string& path) {
    const size_t cut = path.find_last_of("/\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temp = path + ".qvtmp" + std::to_string(static_cast<long>(getpid()));
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "qvarc: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "qvarc: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        std::remove(temp.c_str());
    }
    return ok;
}

}  // namespace

int RunAdd(int argc, char** argv) {
    int level = 3;
    bool solid = false;
    bool multimedia = true;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string opt = argv[i];
        if (opt.size() == 3 && opt[1] == 'm' && opt[2] >= '0' && opt[2] <= '5') {
            level = opt[2] - '0';
        } else if (opt == "-s") {
            solid = true;
        } else if (opt == "-mm" && i + 1 < argc &&
                   (std::strcmp(argv[i + 1], "auto") == 0 ||
                    std::strcmp(argv[i + 1], "off") == 0)) {
            multimedia = std::strcmp(argv[++i], "auto") == 0;
        } else {
            std::fprintf(stderr, "qvarc: unknown option %s\n", argv[i]);
            return Usage();
        }
    }
    if (argc - i < 2) return Usage();
    const std::string archive = argv[i++];

    std::vector<std::vector<uint8_t>> contents;
    std::vector<std::string> names;
    for (; i < argc; ++i) {
        contents.emplace_back();
        if (!ReadInput(argv[i], contents.back())) return 2;
        names.push_back(LastComponent(argv[i]));
    }

    std::vector<qvpack::PackedFile> packed(contents.size());
    if (level > 0) {
        std::vector<qvpack::InputFile> inputs;
        for (const auto& c : contents) inputs.push_back({c.data(), c.size()});
        qvpack::CompressOptions options;
        options.Level = level;
        options.Multimedia = multimedia;
        qvpack::CompressStats stats;
        if (!qvpack::PackFiles(inputs, options, solid, packed, &stats)) {
            std::fprintf(stderr, "qvarc: packing failed\n");
            return 3;
        }
        std::printf("compressor memory: %zu bytes\n", stats.PeakMemory);
    } else {
        for (auto& p : packed) p.Stored = true;
    }

    qvpack::ArchiveWriter writer;
    writer.Signature('r');
    bool anySolid = false;
    for (const auto& p : packed) anySolid = anySolid || (p.Solid && !p.Stored);
    writer.MainHeader(anySolid ? kMainSolid : 0);
    uint64_t totalIn = 0, totalOut = 0;
    for (size_t k = 0; k < contents.size(); ++k) {
        qvpack::FileEntry e;
        e.HeadFlags = static_cast<uint16_t>(
            kEntryFlags | (packed[k].Solid && !packed[k].Stored ? kEntrySolid : 0));
        e.Method = packed[k].Stored ? 0x30 : 0x33;
        e.UnpSize = static_cast<uint32_t>(contents[k].size());
        e.FileCrc = qvpack::Crc32(contents[k]);
        e.Name = names[k];
        const std::vector<uint8_t>& data = packed[k].Stored ? contents[k] : packed[k].Data;
        writer.File(e, data);
        totalIn += contents[k].size();
        totalOut += data.size();
        const double ratio = contents[k].empty() ? 100.0 : 100.0 * data.size() / contents[k].size();
        std::printf("%s: %zu -> %zu (%.1f%%)%s\n", names[k].c_str(), contents[k].size(),
                    data.size(), ratio, packed[k].Stored ? " stored" : "");
    }
    if (writer.Bytes.size() > kLargestArchive) {
        std::fprintf(stderr, "qvarc: %s would be larger than 2 GB - 1 bytes, which can't be read\n",
                     archive.c_str());
        return 2;
    }
    if (!WriteAtomically(archive, writer.Bytes)) return 2;
    std::printf("%s: %llu -> %zu bytes\n", archive.c_str(),
                static_cast<unsigned long long>(totalIn), writer.Bytes.size());
    (void)totalOut;
    return 0;
}
