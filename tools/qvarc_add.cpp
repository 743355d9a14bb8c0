// qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...
// Writes an archive whose entries are named by the last component of their
// file names: -m0 stores, -m1..-m5 pack (faster to smaller), -s chains the
// packed entries into one solid stream, -mm off never uses multimedia
// blocks. The archive is written to a temporary file beside its final name
// (made before the packing starts, so that an unwritable place shows at
// once) and moved over it only when complete; a failed or interrupted run
// leaves nothing behind.
#include "tools/qvarc_add.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/streams.h"
#include "pack/archive_writer.h"
#include "pack/compressor.h"

namespace {

constexpr uint16_t kEntryFlags = 0x8040;  // has data, the 1 MB window bits
constexpr uint16_t kEntrySolid = 0x0010;
constexpr uint16_t kMainSolid = 0x0008;

constexpr int kUsage = 64;

int Usage() {
    std::fprintf(stderr, "usage: qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...\n");
    return kUsage;
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

// The temporary archive's name while it exists, for the signal handler: the
// one process-wide value of the tool, since a handler gets no context.
char gPartial[4096];

void RemovePartialAndStop(int signal) {
    if (gPartial[0] != '\0') unlink(gPartial);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks (or unblocks) the signals that would stop the tool, so that the
// temporary name and the file agree whenever a handler may run.
void HoldSignals(bool hold) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kStopSignals) sigaddset(&set, s);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// The archive's temporary file beside its final name, moved over that name
// once complete; removed when the tool stops before, by a signal too.
class PartialArchive {
public:
    PartialArchive() = default;
    PartialArchive(const PartialArchive&) = delete;
    PartialArchive& operator=(const PartialArchive&) = delete;
    ~PartialArchive() { End(false); }

    bool Start(const std::string& path) {
        path_ = path;
        HoldSignals(true);
        const bool ok = out_.CreatePartial(path.c_str()) && out_.Name.size() < sizeof gPartial;
        const int error = errno;
        if (ok) {
            std::memcpy(gPartial, out_.Name.c_str(), out_.Name.size() + 1);
            struct sigaction action = {};
            action.sa_handler = RemovePartialAndStop;
            for (int s : kStopSignals) sigaction(s, &action, nullptr);
        }
        HoldSignals(false);
        if (!ok) Report(error);
        return ok;
    }

    bool Finish(const std::vector<uint8_t>& bytes) {
        bool ok = true;
        for (size_t done = 0; ok && done < bytes.size();) {
            const size_t piece = std::min<size_t>(bytes.size() - done, 1 << 20);
            ok = out_.Write(bytes.data() + done, static_cast<int32_t>(piece)) ==
                 static_cast<int32_t>(piece);
            done += piece;
        }
        const int writeError = errno;
        const bool written = ok;
        ok = End(written);
        if (!ok) Report(written ? errno : writeError);
        return ok;
    }

private:
    TMyFileStream out_;
    std::string path_;

    // Moves the file in (commit) or deletes it; the name the handler
    // knows goes with it.
    bool End(bool commit) {
        if (gPartial[0] == '\0') return false;
        HoldSignals(true);
        bool ok = false;
        if (commit)
            ok = out_.Commit();
        else
            out_.Erase();
        gPartial[0] = '\0';
        HoldSignals(false);
        return ok;
    }
    void Report(int error) const {
        std::fprintf(stderr, "qvarc: cannot write %s: %s\n", path_.c_str(), std::strerror(error));
    }
};

// The reasons to refuse the archive's path: only a missing name or a
// regular file is replaced.
bool ArchivePathUsable(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
    const char* what = S_ISDIR(st.st_mode)   ? "a folder"
                       : S_ISLNK(st.st_mode) ? "a symbolic link"
                                             : "a device, pipe or socket";
    std::fprintf(stderr, "qvarc: %s exists and is %s, not a regular file; not replaced\n",
                 path.c_str(), what);
    return false;
}

// Two inputs whose entries would share a name (letters compared without
// case, as the setup's file system does): extracting keeps only one.
bool NamesDistinct(const std::vector<std::string>& names, char** inputs) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (size_t i = 0; i < names.size(); ++i) {
        for (size_t k = 0; k < i; ++k) {
            if (lower(names[i]) != lower(names[k])) continue;
            if (names[i] == names[k])
                std::fprintf(stderr, "qvarc: %s and %s would both be stored as %s\n", inputs[k],
                             inputs[i], names[i].c_str());
            else
                std::fprintf(stderr,
                             "qvarc: %s and %s would be stored as %s and %s, one name on "
                             "Windows\n",
                             inputs[k], inputs[i], names[k].c_str(), names[i].c_str());
            return false;
        }
    }
    return true;
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
    char** inputs = argv + i;
    std::vector<std::string> names;
    for (int k = i; k < argc; ++k) names.push_back(LastComponent(argv[k]));
    if (!NamesDistinct(names, inputs)) return kUsage;
    if (!ArchivePathUsable(archive)) return 2;

    std::vector<std::vector<uint8_t>> contents;
    for (; i < argc; ++i) {
        contents.emplace_back();
        if (!ReadInput(argv[i], contents.back())) return 2;
    }
    PartialArchive out;
    if (!out.Start(archive)) return 2;

    std::vector<qvpack::PackedFile> packed(contents.size());
    if (level > 0) {
        std::vector<qvpack::InputFile> files;
        for (const auto& c : contents) files.push_back({c.data(), c.size()});
        qvpack::CompressOptions options;
        options.Level = level;
        options.Multimedia = multimedia;
        if (!qvpack::PackFiles(files, options, solid, packed)) {
            std::fprintf(stderr, "qvarc: packing failed\n");
            return 3;
        }
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
    if (!out.Finish(writer.Bytes)) return 2;
    std::printf("%s: %llu -> %zu bytes\n", archive.c_str(),
                static_cast<unsigned long long>(totalIn), writer.Bytes.size());
    (void)totalOut;
    return 0;
}
