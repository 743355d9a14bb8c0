// qvarc's default mode: what a person reads. l prints a table; t and x one
// line per entry that went well on standard output, and one line for every
// failure on standard error, "qvarc: NAME: CAUSE". The exit status is the
// run's result code; a damaged or cut archive never ends with 0.
//
// The driver keeps only the run's last failure. To tell each entry's own,
// the destination hook settles the entry before and clears ExtractResult;
// the run's last failure is kept here instead. The target stream reports
// when an entry is written or erased.
#include "tools/qvarc_tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "base/platform.h"
#include "extract/extract.h"
#include "pack/discard_stream.h"
#include "tools/qvarc_list.h"
#include "tools/qvarc_pe.h"

namespace {

// Keeps an empty archive's data pointer non-null: an empty file is a
// readable archive that holds nothing, not a missing one.
uint8_t gEmpty = 0;

std::string Quoted(const AnsiString& s) {
    return std::string(s.c_str(), s.size());
}

// One failure, on standard error after what standard output has so far.
void Fail(const std::string& name, const std::string& cause) {
    std::fflush(stdout);
    std::fprintf(stderr, "qvarc: %s: %s\n", name.c_str(), cause.c_str());
}

// The archive stream, which notes how many bytes were left after the last
// whole block when the walk closed it.
class ArchiveInput : public ArchiveFileStream {
public:
    int32_t Bytes = 0;
    int32_t LeftOver = 0;
    bool Close() override {
        if (IsOpen) {
            Bytes = ResSize;
            LeftOver = ResSize - ReadPos;
        }
        return ArchiveFileStream::Close();
    }
};

// What the archive itself showed, beyond the result code: the texts of the
// reader, the old format, bytes that are no whole block. Returns the exit
// status: result, or 10 (1 for the old format) where the archive is
// damaged and result would claim success.
struct ArchiveState {
    std::string Path;
    bool Later = false;  // the texts after the listing, not as they come
    bool Damaged = false;
    std::vector<std::string> Texts;

    void Text(const char* text) {
        Damaged = true;
        if (std::strcmp(text, "Broken header") == 0)
            Texts.push_back("the main header is damaged");
        else if (std::strcmp(text, "Unexpected end of file") == 0)
            Texts.push_back("unexpected end of file: the archive is cut short");
        else
            Texts.push_back(text);
        if (!Later) Tell();
    }
    void Tell() {
        for (const std::string& t : Texts) Fail(Path, t);
        Texts.clear();
    }

    int Finish(int result, const ArchiveRun& run, const ArchiveInput& input) {
        Tell();
        switch (result) {
            case kExtractNoResource:
                Fail(Path, input.Error.empty() ? "cannot be read" : input.Error);
                return result;
            case kExtractNotArchive:
                Fail(Path,
                     input.Bytes == 0 ? "not an archive (the file is empty)" : "not an archive");
                return result;
            case kExtractNoMemory:
                Fail(Path, "not enough memory for the 1 MB decoding window");
                return result;
            case kExtractBadFileHeader:
                Fail(Path, "a file header is damaged; the entries after it are not read");
                return result;
            default:
                break;
        }
        if (run.ArchiveFormat == kFormatOld) {
            Fail(Path, "an archive of the old format, whose entries qvarc can't read");
            return result != 0 ? result : kExtractBadVersion;
        }
        if (!Damaged && input.LeftOver > 0) {
            Fail(Path, "the archive ends inside a header: it is cut short");
            Damaged = true;
        }
        return result == 0 && Damaged ? kExtractBadFileHeader : result;
    }
};

// Why a file can't be written at path; err is the failed call's errno.
std::string WhyNotWritable(const std::string& path, int err) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "a folder of that name exists; not written";
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            return "a device, pipe or socket of that name exists; not written";
        if (S_ISREG(st.st_mode) && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return std::string("the existing file can't be replaced: ") + std::strerror(errno);
    }
    return std::string("can't be written: ") + std::strerror(err);
}

// ---- t and x ----

enum class Outcome { Written, Damaged, NotMoved };

// One run of t or x: the hooks and the target stream report here.
class Run {
public:
    const ToolOptions& Options;
    ArchiveState& Archive;
    ExtractRun& Extraction;
    int LastFailure = 0;

    Run(const ToolOptions& o, ArchiveState& archive, ExtractRun& extraction)
        : Options(o), Archive(archive), Extraction(extraction) {}

    static void Destination(void* self, const AnsiString& name, AnsiString& destination) {
        static_cast<Run*>(self)->Start(name, destination);
    }
    static void Text(void* self, const char* text) {
        Run& run = *static_cast<Run*>(self);
        run.Settle();
        run.Archive.Text(text);
    }

    // The stream's reports: the entry's file was (or wasn't) created...
    void Created(bool ok, int err) {
        entry_.Refused = !ok;
        entry_.Errno = err;
    }
    // ...and the entry ended: written, erased as damaged, or not moved in.
    void Ended(Outcome outcome, int err) {
        if (!entry_.Open) return;
        entry_.Open = false;
        const std::string& name = entry_.Shown;
        if (outcome == Outcome::Written) {
            std::printf("%s: OK\n", name.c_str());
        } else if (outcome == Outcome::NotMoved) {
            Fail(name, std::string("could not replace the existing file: ") + std::strerror(err));
        } else if (Options.TestOnly) {
            Fail(name, "damaged (checksum mismatch)");
        } else {
            Fail(name, entry_.Existed ? "damaged (checksum mismatch); the existing file is kept"
                                      : "damaged (checksum mismatch); not written");
        }
    }

    // Tells an entry that ended without a file of its own.
    void Settle() {
        if (!entry_.Open) return;
        entry_.Open = false;
        if (entry_.Folder) return;  // a folder or volume label: nothing to write
        if (entry_.BadName)
            Fail(entry_.Shown, "no file name to write under; not written");
        else if (entry_.Kept)
            Fail(entry_.Shown, "exists; kept (-o replaces it)");
        else if (!entry_.VersionOk)
            Fail(entry_.Shown, "needs unpack version " + std::to_string(entry_.UnpVer) +
                                   ", which qvarc can't decode");
        else if (entry_.Refused)
            Fail(entry_.Shown, WhyNotWritable(entry_.Shown, entry_.Errno));
        else if (Extraction.ExtractResult == kExtractBadEntry)
            Fail(entry_.Shown, "damaged (a solid entry with no entry before it to continue)");
    }

    // The run's end: its result code.
    int Finish() {
        Settle();
        if (Extraction.ExtractResult != 0) LastFailure = Extraction.ExtractResult;
        return LastFailure;
    }

private:
    struct Entry {
        bool Open = false;
        std::string Shown;  // the destination (x) or the stored name (t)
        bool Folder = false;
        bool BadName = false;
        bool VersionOk = true;
        int UnpVer = 0;
        bool Existed = false;
        bool Kept = false;
        bool Refused = false;
        int Errno = 0;
    } entry_;

    void Start(const AnsiString& name, AnsiString& destination) {
        Settle();
        if (Extraction.ExtractResult != 0) LastFailure = Extraction.ExtractResult;
        Extraction.ExtractResult = 0;
        const FileHeaderRecord& h = Extraction.FileHeader;
        destination = AnsiString(Options.Dir) + "/" + FileNamePart(name);
        entry_ = Entry();
        entry_.Open = true;
        entry_.Shown = Options.TestOnly ? Quoted(name) : Quoted(destination);
        entry_.Folder = (h.FileAttr & (kAttrDirectory | kAttrVolumeLabel)) != 0;
        entry_.VersionOk = VersionSupported(h);
        entry_.UnpVer = h.UnpVer;
        if (Options.TestOnly || entry_.Folder) return;
        // What would name the folder itself, or the one above it.
        const AnsiString last = FileNamePart(name);
        if (last.empty() || last == "." || last == "..") {
            entry_.BadName = true;
            destination = AnsiString();
            return;
        }
        struct stat st;
        entry_.Existed = lstat(destination.c_str(), &st) == 0;
        if (entry_.Existed && !Options.Overwrite) {
            entry_.Kept = true;
            destination = AnsiString();
        }
    }
};

// The target stream of t (Base: a stream that keeps nothing) or of x,
// reporting to the run.
template <typename Base>
class Watched : public Base {
public:
    Run* Owner = nullptr;
    bool CreatePartial(const AnsiString& destination) override {
        const bool ok = Base::CreatePartial(destination);
        Owner->Created(ok, errno);
        return ok;
    }
    bool Commit() override {
        const bool ok = Base::Commit();
        Owner->Ended(ok ? Outcome::Written : Outcome::NotMoved, errno);
        return ok;
    }
    void Erase() override {
        Base::Erase();
        Owner->Ended(Outcome::Damaged, 0);
    }
};

// ---- l ----

struct Row {
    std::string Name, Size, Packed, Ratio, Method, Crc, Attributes;
};

std::string Percent(uint64_t part, uint64_t whole) {
    if (whole == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(part) / whole);
    return text;
}

Row MakeRow(const FileHeaderRecord& h) {
    Row r;
    r.Name = Quoted(h.FileName);
    r.Size = std::to_string(h.UnpSize);
    r.Packed = std::to_string(h.PackSize);
    r.Ratio = Percent(h.PackSize, h.UnpSize);
    char text[32];
    if (h.Method == kMethodStored) {
        r.Method = "stored";
    } else if (h.Method >= kMethodFastest && h.Method <= kMethodBest) {
        r.Method = "packed";
    } else {
        std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(h.Method));
        r.Method = text;
    }
    if (!VersionSupported(h)) r.Method += " v" + std::to_string(h.UnpVer);
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(h.FileCrc));
    r.Crc = text;
    // Read-only, hidden, system, folder, archive.
    const char letters[] = "RHSDA";
    const uint32_t bits[] = {0x01, 0x02, 0x04, 0x10, 0x20};
    for (int i = 0; i < 5; ++i) r.Attributes += (h.FileAttr & bits[i]) ? letters[i] : '-';
    return r;
}

struct Table {
    std::vector<Row> Rows;
    uint64_t Size = 0, Packed = 0;
};

void AddRow(void* context, const FileHeaderRecord& h) {
    Table& t = *static_cast<Table*>(context);
    t.Rows.push_back(MakeRow(h));
    t.Size += h.UnpSize;
    t.Packed += h.PackSize;
}

void PrintTable(const Table& t) {
    const size_t count = t.Rows.size();
    Row head = {"Name", "Size", "Packed", "Ratio", "Method", "CRC", "Attr"};
    Row total = {std::to_string(count) + (count == 1 ? " entry" : " entries"),
                 std::to_string(t.Size),
                 std::to_string(t.Packed),
                 Percent(t.Packed, t.Size),
                 "",
                 "",
                 ""};
    size_t w[7] = {};
    auto widen = [&w](const Row& r) {
        const std::string* f[] = {&r.Name,   &r.Size, &r.Packed,    &r.Ratio,
                                  &r.Method, &r.Crc,  &r.Attributes};
        for (int i = 0; i < 7; ++i) w[i] = std::max(w[i], f[i]->size());
    };
    widen(head);
    widen(total);
    for (const Row& r : t.Rows) widen(r);
    auto print = [&w](const Row& r) {
        std::string line = r.Name + std::string(w[0] - r.Name.size(), ' ');
        // Numbers to the right, words to the left.
        const std::string* right[] = {&r.Size, &r.Packed, &r.Ratio};
        for (int i = 0; i < 3; ++i)
            line += "  " + std::string(w[i + 1] - right[i]->size(), ' ') + *right[i];
        line += "  " + r.Method + std::string(w[4] - r.Method.size(), ' ');
        line += "  " + r.Crc + std::string(w[5] - r.Crc.size(), ' ');
        line += "  " + r.Attributes;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    };
    print(head);
    for (const Row& r : t.Rows) print(r);
    size_t width = 0;
    for (size_t x : w) width += x + 2;
    std::printf("%s\n", std::string(width - 2, '-').c_str());
    print(total);
}

}  // namespace

// ---- the archive's bytes ----

bool ArchiveFileStream::Open(const AnsiString& name) {
    Close();
    Name = name;
    const char* path = name.c_str();
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    bool ok = fd >= 0 && fstat(fd, &st) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
        Error = "a folder, not an archive";
        close(fd);
        return false;
    }
    if (ok && st.st_size > 0x7FFFFFFF) {
        Error = "larger than 2 GB - 1 bytes, which an archive can't be";
        close(fd);
        return false;
    }
    if (ok) {
        bytes_.resize(static_cast<size_t>(st.st_size));
        for (size_t done = 0; ok && done < bytes_.size();) {
            const ssize_t n = read(fd, bytes_.data() + done, bytes_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            done += ok ? static_cast<size_t>(n) : 0;
        }
    }
    if (!ok) Error = std::string("cannot be read: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    if (!ok) return false;
    ByteRange embedded{0, bytes_.size()};
    FindEmbeddedArchive(bytes_.data(), bytes_.size(), embedded);
    Data = embedded.Size == 0 ? &gEmpty : bytes_.data() + embedded.Offset;
    ResSize = static_cast<int32_t>(embedded.Size);
    ReadPos = 0;
    IsOpen = true;
    return true;
}

// ---- the commands ----

int ToolList(const ToolOptions& o) {
    BuildCrcTable();
    ArchiveState state;
    state.Path = o.Archive;
    state.Later = true;
    ArchiveInput input;
    ArchiveRun walk;
    walk.ArchiveName = o.Archive;
    walk.ArchiveStream = &input;
    auto text = [](void* self, const char* t) { static_cast<ArchiveState*>(self)->Text(t); };
    walk.OnErrorText = {text, &state};
    Table table;
    int result = WalkEntries(walk, AddRow, &table);
    if (result != kExtractNoResource && result != kExtractNotArchive) PrintTable(table);
    return state.Finish(result, walk, input);
}

int ToolExtract(const ToolOptions& o) {
    BuildCrcTable();
    ArchiveState state;
    state.Path = o.Archive;
    if (!o.TestOnly) {
        std::error_code error;
        std::filesystem::create_directories(o.Dir, error);
        if (error || !std::filesystem::is_directory(o.Dir)) {
            Fail(o.Dir, error ? "the folder can't be made: " + error.message()
                              : std::string("not a folder"));
            return kExtractNoDestination;
        }
    }
    ArchiveInput archive;
    Watched<TMyFileStream> files;
    Watched<DiscardFileStream> nothing;
    ExtractRun extraction;
    extraction.ArchiveName = o.Archive;
    extraction.ArchiveStream = &archive;
    extraction.TargetStream = o.TestOnly ? static_cast<TMyFileStream*>(&nothing) : &files;
    Run run(o, state, extraction);
    files.Owner = nothing.Owner = &run;
    extraction.OnErrorText = {Run::Text, &run};
    if (o.Progress) extraction.OnProgress = {PrintProgress, nullptr};
    extraction.OnDestinationName = {Run::Destination, &run};
    ExtractArchive(extraction);
    int result = run.Finish();
    ReleaseBuffers(extraction);
    result = state.Finish(result, extraction, archive);
    return result;
}
