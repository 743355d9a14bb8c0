// The extraction driver with stored entries: every outcome of a
#include <gtest/gtest.h>

#include "base/platform.h"
#include "pack/archive_writer.h"
#include "tests/common/archive_fixture.h"
#include "tests/common/hostile_archives.h"
#include "unpack/unpacker.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

using qvpack::ArchiveWriter;
using qvpack::FileEntry;
using qvtest::Bytes;
using qvtest::MemoryStream;
using qvtest::ReadAll;
using qvtest::Recorder;
using qvtest::ScratchDir;
namespace fs = std::filesystem;

namespace {

class Driver : public ::testing::Test {
protected:
    MemoryStream archive;
    TMyFileStream target;
    ExtractRun run;
    Recorder rec;
    ScratchDir dir{"extract"};

    void SetUp() override {
        BuildCrcTable();
        run.ExtractResult = 0;
        run.ArchiveName = "#101";
        run.ArchiveStream = &archive;
        run.TargetStream = &target;
        rec.Dir = dir.Path.string();
        rec.Install(run);
    }
    void TearDown() override {
        run.BufferRefused = nullptr;
        Recorder::Uninstall(run);
        run.ArchiveStream = nullptr;
        run.TargetStream = nullptr;
        ReleaseBuffers(run);
    }
    void Run(const std::vector<uint8_t>& bytes) {
        archive.Bytes = bytes;
        ExtractArchive(run);
        // Every run that gets past the window leaves nothing held.
        EXPECT_EQ(run.Window, nullptr);
        EXPECT_FALSE(archive.IsOpen);
        EXPECT_FALSE(target.IsOpen);
    }
    bool Exists(const std::string& name) const { return fs::exists(dir.Path / name); }
    // Temporary files of entries left in the folder.
    int Partials() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir.Path))
            n += IsPartialFileName(e.path().filename().string().c_str());
        return n;
    }
    std::vector<uint8_t> Content(const std::string& name) const { return ReadAll(dir.File(name)); }
    static ArchiveWriter Start(uint16_t flags = 0) {
        ArchiveWriter w;
        w.Signature();
        w.MainHeader(flags);
        return w;
    }
};

const std::vector<uint8_t> kOne = Bytes("first entry");
const std::vector<uint8_t> kTwo(5000, 'b');
const std::vector<uint8_t> kThree = Bytes("third");

ArchiveWriter ThreeEntries(size_t* second = nullptr, uint16_t mainFlags = 0) {
    ArchiveWriter w;
    w.Signature();
    w.MainHeader(mainFlags);
    w.Stored("one.txt", kOne);
    size_t at = w.Stored("two.bin", kTwo);
    if (second) *second = at;
    w.Stored("three", kThree);
    return w;
}

TEST_F(Driver, SoundArchiveIsWrittenAndAnnounced) {
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_EQ(Content("one.txt"), kOne);
    EXPECT_EQ(Content("two.bin"), kTwo);
    EXPECT_EQ(Content("three"), kThree);
    EXPECT_EQ(rec.Asked, (std::vector<std::string>{"one.txt", "two.bin", "three"}));
    std::string d = dir.Path.string();
    EXPECT_EQ(rec.Status, (std::vector<std::string>{"extracting " + d + "/one.txt",
                                                    "extracting " + d + "/two.bin",
                                                    "extracting " + d + "/three"}));
    // Stored entries get only the start call.
    EXPECT_EQ(rec.Progress, (std::vector<std::string>{"0 11", "0 5000", "0 5"}));
    EXPECT_TRUE(rec.Errors.empty());
}

TEST_F(Driver, DamagedEntryIsErasedAndTheRunGoesOn) {
    size_t second = 0;
    ArchiveWriter w = ThreeEntries(&second);
    w.Bytes[second + 32 + 7 + 100] ^= 0x40;  // a data byte of two.bin
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 3);
    EXPECT_TRUE(Exists("one.txt"));
    EXPECT_FALSE(Exists("two.bin"));
    EXPECT_EQ(Content("three"), kThree);
}

TEST_F(Driver, FailedWritesFailTheEntryAndLeaveNoFile) {
    // The decoder's output goes through the driver, which folds into the
    // checksum only what was written.
    class Failing : public TMyFileStream {
    public:
        int32_t Write(const void*, int32_t) override { return 0; }
    } failing;
    run.TargetStream = &failing;
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 3);
    EXPECT_FALSE(Exists("one.txt") || Exists("two.bin") || Exists("three"));
    EXPECT_EQ(Partials(), 0);
    EXPECT_EQ(rec.Status.size(), 3u);
    run.TargetStream = &target;
}

TEST_F(Driver, EmptyDestinationPassesTheEntryOver) {
    rec.EmptyFor = {"two.bin"};
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 11);
    EXPECT_TRUE(Exists("one.txt"));
    EXPECT_FALSE(Exists("two.bin"));
    EXPECT_EQ(Content("three"), kThree);
    EXPECT_EQ(rec.Asked.size(), 3u);
    EXPECT_EQ(rec.Progress.size(), 2u);
}

// A stop request ends the run before its next entry: that entry and the rest
// are neither asked about nor written, and the run counts them as not
// written (11). A request made while the destination hook ran (the user
// cancelled during its question) keeps that entry unwritten too; one made
// after the last entry changes nothing.
TEST_F(Driver, StopRequestEndsTheRunBeforeTheNextEntry) {
    struct Stop {
        const Recorder* Rec;
        size_t Asked, Announced;  // stop once this many entries were asked / announced
        static bool Now(void* self) {
            auto* s = static_cast<Stop*>(self);
            return s->Rec->Asked.size() >= s->Asked || s->Rec->Status.size() >= s->Announced;
        }
    };
    Stop betweenEntries{&rec, 99, 1};
    run.OnStopRequest = {Stop::Now, &betweenEntries};
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 11);
    EXPECT_EQ(Content("one.txt"), kOne);
    EXPECT_FALSE(Exists("two.bin"));
    EXPECT_FALSE(Exists("three"));
    EXPECT_EQ(rec.Asked, std::vector<std::string>{"one.txt"});
    EXPECT_EQ(Partials(), 0);

    ScratchDir second("extract-stop");
    rec = Recorder();
    rec.Dir = second.Path.string();
    rec.Install(run);
    run.ExtractResult = 0;
    Stop duringQuestion{&rec, 2, 99};
    run.OnStopRequest = {Stop::Now, &duringQuestion};
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 11);
    EXPECT_TRUE(fs::exists(second.Path / "one.txt"));
    EXPECT_FALSE(fs::exists(second.Path / "two.bin"));
    EXPECT_EQ(rec.Asked, (std::vector<std::string>{"one.txt", "two.bin"}));
    EXPECT_EQ(rec.Status.size(), 1u);

    rec = Recorder();
    rec.Dir = second.Path.string();
    rec.Install(run);
    run.ExtractResult = 0;
    Stop afterTheLast{&rec, 99, 3};
    run.OnStopRequest = {Stop::Now, &afterTheLast};
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_EQ(rec.Asked.size(), 3u);
}

TEST_F(Driver, LastFailureWins) {
    size_t second = 0;
    ArchiveWriter w = ThreeEntries(&second);
    std::vector<uint8_t> damagedFirst = w.Bytes;
    damagedFirst[20 + 32 + 7 + 2] ^= 1;
    rec.EmptyFor = {"three"};
    Run(damagedFirst);
    EXPECT_EQ(run.ExtractResult, 11);

    // The other order: a refused destination, then a damaged entry.
    run.ExtractResult = 0;
    rec.EmptyFor = {"one.txt"};
    std::vector<uint8_t> damagedSecond = w.Bytes;
    damagedSecond[second + 32 + 7] ^= 1;
    Run(damagedSecond);
    EXPECT_EQ(run.ExtractResult, 3);
}

TEST_F(Driver, CreateFailureCountsAsNoDestination) {
    rec.Dir = dir.File("missing-folder");
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 11);
    EXPECT_TRUE(rec.Status.empty());
    EXPECT_EQ(rec.Asked.size(), 3u);
}

// What stands at an entry's destination before the
enum class Before {
    Nothing,
    OlderFile,
    HardLink,  // a second name of a file outside the folder
    SymLink,   // to a file outside the folder (POSIX; under Wine the end-to-end runs)
    Folder,
    ReadOnly,            // Windows: the attribute (POSIX as root writes anything)
    HeldOpen,            // Windows: by a program that shares it for reading only
    Fifo,                // POSIX: no file to write into
    FolderWhileWritten,  // appears while the entry is decoded: the final move fails
};

bool HasReleaseStamp(const std::string& path) {
    uint64_t want = 0;
    if (!ReleaseStampFileTime(&want)) return false;
#if defined(_WIN32)
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return false;
    return (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32 |
            d.ftLastWriteTime.dwLowDateTime) == want;
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 &&
           (static_cast<uint64_t>(st.st_mtime) + 11644473600ull) * 10000000ull == want;
#endif
}

// An entry goes to a temporary file beside its destination and is moved
// over it only when sound: a damaged entry leaves whatever was there as it
// was, a link is replaced as a name (never written through), and what
// can't be replaced is refused before anything is decoded, as the file's
// creation refused it. No case leaves a temporary file.
TEST_F(Driver, ReplacingNeverDestroysWhatWasThere) {
    class FolderAppears : public TMyFileStream {
    public:
        std::string At;
        int32_t Write(const void* buffer, int32_t count) override {
            if (!At.empty()) fs::create_directory(At);
            At.clear();
            return TMyFileStream::Write(buffer, count);
        }
    } stream;
    run.TargetStream = &stream;
    const Before all[] = {Before::Nothing,  Before::OlderFile, Before::HardLink,
                          Before::SymLink,  Before::Folder,    Before::ReadOnly,
                          Before::HeldOpen, Before::Fifo,      Before::FolderWhileWritten};
    int n = 0;
    for (Before before : all) {
#if defined(_WIN32)
        if (before == Before::SymLink || before == Before::Fifo) continue;
#else
        if (before == Before::ReadOnly || before == Before::HeldOpen) continue;
#endif
        for (bool damaged : {false, true}) {
            const std::string tag = "case " + std::to_string(static_cast<int>(before)) +
                                    (damaged ? ", damaged" : ", sound");
            const fs::path folder = dir.Path / ("c" + std::to_string(++n));
            const std::string dest = (folder / "e.txt").string();
            const std::string outside = dir.File("outside" + std::to_string(n));
            fs::create_directory(folder);
            std::ofstream(outside) << "outside";
            if (before == Before::OlderFile || before == Before::ReadOnly ||
                before == Before::HeldOpen)
                std::ofstream(dest) << "old";
#if defined(_WIN32)
            if (before == Before::HardLink) CreateHardLinkA(dest.c_str(), outside.c_str(), nullptr);
            if (before == Before::ReadOnly)
                SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_READONLY);
            HANDLE held = before == Before::HeldOpen
                              ? CreateFileA(dest.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr)
                              : INVALID_HANDLE_VALUE;
#else
            if (before == Before::HardLink) link(outside.c_str(), dest.c_str());
            if (before == Before::SymLink) symlink(outside.c_str(), dest.c_str());
            if (before == Before::Fifo) mkfifo(dest.c_str(), 0644);
#endif
            if (before == Before::Folder) fs::create_directory(dest);
            if (before == Before::FolderWhileWritten) stream.At = dest;

            ArchiveWriter w = Start();
            size_t at = w.Stored("e.txt", kOne);
            if (damaged) w.Bytes[at + 32 + 5 + 2] ^= 1;
            rec.Dir = folder.string();
            rec.Status.clear();
            rec.Progress.clear();
            run.ExtractResult = 0;
            Run(w.Bytes);
#if defined(_WIN32)
            if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
            if (before == Before::ReadOnly) SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
            const bool refused = before == Before::Folder || before == Before::ReadOnly ||
                                 before == Before::HeldOpen || before == Before::Fifo;
            const bool moveFails = before == Before::FolderWhileWritten && !damaged;
            EXPECT_EQ(run.ExtractResult, refused || moveFails ? 11 : damaged ? 3 : 0) << tag;
            // Refused before decoding: no announcement, no progress.
            EXPECT_EQ(rec.Status.size(), refused ? 0u : 1u) << tag;
            EXPECT_EQ(rec.Progress.size(), refused ? 0u : 1u) << tag;
            const fs::file_status now = fs::symlink_status(dest);
            if (!refused && !moveFails && !damaged) {
                EXPECT_TRUE(fs::is_regular_file(now)) << tag;
                EXPECT_EQ(ReadAll(dest), kOne) << tag;
                EXPECT_TRUE(HasReleaseStamp(dest)) << tag;
            } else if (before == Before::Nothing) {
                EXPECT_FALSE(fs::exists(now)) << tag;
            } else if (before == Before::OlderFile || before == Before::ReadOnly ||
                       before == Before::HeldOpen) {
                EXPECT_EQ(ReadAll(dest), Bytes("old")) << tag;
            } else if (before == Before::HardLink) {
                EXPECT_EQ(ReadAll(dest), Bytes("outside")) << tag;
            } else {
                EXPECT_EQ(now.type(), before == Before::SymLink ? fs::file_type::symlink
                                      : before == Before::Fifo  ? fs::file_type::fifo
                                                                : fs::file_type::directory)
                    << tag;
            }
            for (const auto& e : fs::directory_iterator(folder))
                EXPECT_FALSE(IsPartialFileName(e.path().filename().string().c_str()))
                    << tag << ": " << e.path();
            EXPECT_EQ(ReadAll(outside), Bytes("outside")) << tag;
        }
    }
    run.TargetStream = &target;
}

TEST_F(Driver, UnsupportedVersionsAreRefusedWithoutAFile) {
    ArchiveWriter w = Start();
    FileEntry e;
    e.Name = "v29";
    e.UnpVer = 29;
    e.UnpSize = 3;
    e.FileCrc = qvpack::Crc32(Bytes("abc"));
    w.File(e, Bytes("abc"));
    e.Name = "v12";
    e.UnpVer = 12;
    w.File(e, Bytes("abc"));
    e.Name = "v15packed";  // packed data of 13..15 has no decoder
    e.UnpVer = 15;
    e.Method = 0x33;
    w.File(e, Bytes("abc"));
    e.Name = "v13stored";  // stored data of 13 is fine
    e.UnpVer = 13;
    e.Method = 0x30;
    w.File(e, Bytes("abc"));
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 1);
    EXPECT_FALSE(Exists("v29"));
    EXPECT_FALSE(Exists("v12"));
    EXPECT_FALSE(Exists("v15packed"));
    EXPECT_EQ(Content("v13stored"), Bytes("abc"));
    // The destination is asked for every entry all the same.
    EXPECT_EQ(rec.Asked.size(), 4u);
}

TEST_F(Driver, DirectoryAndVolumeEntriesMakeNothing) {
    ArchiveWriter w = Start();
    FileEntry e;
    e.HeadFlags = 0;  // no data: the walk must not come back to this header
    e.FileAttr = 0x10;
    e.Name = "folder";
    w.File(e, {});
    e.FileAttr = 0x08;
    e.Name = "label";
    w.File(e, {});
    w.Stored("after", kThree);
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_EQ(rec.Asked, (std::vector<std::string>{"folder", "label", "after"}));
    EXPECT_FALSE(Exists("folder"));
    EXPECT_FALSE(Exists("label"));
    EXPECT_EQ(Content("after"), kThree);
}

TEST_F(Driver, ArchiveLevelFailures) {
    archive.Openable = false;
    Run(ThreeEntries().Bytes);
    EXPECT_EQ(run.ExtractResult, 2);
    EXPECT_TRUE(rec.Asked.empty() && rec.Progress.empty() && rec.Status.empty());

    archive.Openable = true;
    Run(Bytes("this is not an archive at all"));
    EXPECT_EQ(run.ExtractResult, 9);
    EXPECT_TRUE(rec.Asked.empty());
}

TEST_F(Driver, BrokenFileHeaderEndsTheRun) {
    size_t second = 0;
    ArchiveWriter w = ThreeEntries(&second);
    w.Bytes[second + 1] ^= 0x80;
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 10);
    EXPECT_TRUE(Exists("one.txt"));
    EXPECT_FALSE(Exists("two.bin"));
    EXPECT_FALSE(Exists("three"));
}

TEST_F(Driver, TruncatedArchiveErasesTheCutEntry) {
    ArchiveWriter w = ThreeEntries();
    w.Bytes.pop_back();
    w.Bytes.pop_back();
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 3);
    EXPECT_TRUE(Exists("two.bin"));
    EXPECT_FALSE(Exists("three"));
    EXPECT_EQ(rec.Errors, std::vector<std::string>{"Unexpected end of file"});
}

TEST_F(Driver, ContinuedEntriesAreTakenUpOnlyInSolidArchives) {
    for (uint16_t mainFlags : {0, 8}) {
        run.ExtractResult = 0;
        rec.Asked.clear();
        ArchiveWriter w = Start(mainFlags);
        w.Stored("cont", kOne, 0x8001);
        w.Stored("next", kThree);
        Run(w.Bytes);
        EXPECT_EQ(run.ExtractResult, 0);
        EXPECT_EQ(Exists("cont"), mainFlags != 0);
        EXPECT_EQ(rec.Asked.size(), mainFlags ? 2u : 1u);
        EXPECT_EQ(Content("next"), kThree);
        fs::remove(dir.Path / "cont");
    }
}

TEST_F(Driver, SolidArchiveDecodesRefusedEntriesInSkipMode) {
    rec.EmptyFor = {"two.bin"};
    Run(ThreeEntries(nullptr, 0x0008).Bytes);
    EXPECT_EQ(run.ExtractResult, 11);
    std::string d = dir.Path.string();
    EXPECT_EQ(rec.Status,
              (std::vector<std::string>{"extracting " + d + "/one.txt", "skipped two.bin",
                                        "extracting " + d + "/three"}));
    EXPECT_EQ(rec.Progress, (std::vector<std::string>{"0 11", "0 5000", "0 5"}));
    EXPECT_FALSE(Exists("two.bin"));
    EXPECT_EQ(Content("three"), kThree);
}

size_t refusedSize = 0;
bool RefuseOneSize(size_t size) {
    return size == refusedSize;
}

TEST_F(Driver, RefusedBuffersEndTheRunWithTheirCodes) {
    run.BufferRefused = RefuseOneSize;
    refusedSize = kWindowSize;
    archive.Bytes = ThreeEntries().Bytes;
    ExtractArchive(run);
    EXPECT_EQ(run.ExtractResult, 8);
    EXPECT_TRUE(rec.Asked.empty() && rec.Progress.empty() && rec.Status.empty());
    EXPECT_EQ(run.Window, nullptr);
    // Left open for the client to close, as after every early stop there.
    EXPECT_TRUE(archive.IsOpen);
    archive.Close();

    // An archive after other data needs the 128 KB scan buffer to be found.
    std::vector<uint8_t> led(100, 'x');
    std::vector<uint8_t> entries = ThreeEntries().Bytes;
    led.insert(led.end(), entries.begin(), entries.end());
    refusedSize = 0x20000;
    Run(led);
    EXPECT_EQ(run.ExtractResult, 9);
    EXPECT_TRUE(rec.Asked.empty());
    EXPECT_EQ(run.ScanBuffer, nullptr);
    run.BufferRefused = nullptr;
    run.ExtractResult = 0;
    Run(led);
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_EQ(Content("three"), kThree);
}

#if !defined(_WIN32)
// The process may write no file beyond limit bytes while this lives; the
// write past it fails instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_;
    void (*oldHandler_)(int);
};
#endif

#if defined(_WIN32)
// Bytes a new file takes before its writes fail, up to 4 MB.
size_t WritableFileSize(const std::string& path) {
    TMyFileStream probe;
    if (!probe.Create(path.c_str())) return 0;
    static const uint8_t kPiece[0x10000] = {};
    size_t total = 0;
    for (int32_t n = sizeof(kPiece); n == sizeof(kPiece) && total < 0x400000; total += n)
        n = probe.Write(kPiece, sizeof(kPiece));
    probe.Close();
    probe.Erase();
    return total;
}
#endif

// A write that fails part-way, as on a full disk: the entry fails its
// checksum, its partial file goes, the older file it would have replaced
// stays, and the next entry is written. Linux
// limits the file size here; under Wine run-wine-faults.sh runs this
// program under a limit, which shows where a probe file stops growing.
TEST_F(Driver, WriteFailingPartWayErasesTheEntryAndTheRunGoesOn) {
#if defined(_WIN32)
    const size_t limit = WritableFileSize(dir.File("probe"));
    if (limit >= 0x400000) GTEST_SKIP() << "runs under the limit of run-wine-faults.sh";
#else
    const size_t limit = 256 * 1024;
#endif
    ASSERT_GT(limit, kOne.size());
    ArchiveWriter w = Start();
    std::vector<uint8_t> big(2 * limit);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    w.Stored("big.bin", big);
    w.Stored("small.txt", kOne);
    std::ofstream(dir.File("big.bin")) << "older";
    {
#if !defined(_WIN32)
        FileSizeLimit full(limit);
#endif
        Run(w.Bytes);
    }
    EXPECT_EQ(run.ExtractResult, 3);
    EXPECT_EQ(Content("big.bin"), Bytes("older"));
    EXPECT_EQ(Content("small.txt"), kOne);
    EXPECT_EQ(Partials(), 0);
}

TEST_F(Driver, SolidEntryWithNoTablesBeforeItIsDamaged) {
    ArchiveWriter w;
    w.Bytes = qvtest::SolidEntryFirst();
    w.Stored("after", kThree);
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 3);
    EXPECT_FALSE(Exists("s"));
    EXPECT_EQ(Content("after"), kThree);
    EXPECT_EQ(rec.Asked, (std::vector<std::string>{"s", "after"}));
    EXPECT_EQ(rec.Status, std::vector<std::string>{"extracting " + dir.Path.string() + "/after"});
    EXPECT_TRUE(rec.Errors.empty());
    EXPECT_LE(archive.BytesRead, static_cast<int64_t>(w.Bytes.size()));
}

TEST_F(Driver, PackedDataBeforeItsOwnHeaderEndsTheWalk) {
    ArchiveWriter w = Start();
    w.Stored("first", kOne);
    FileEntry e;
    e.HeadFlags = 0;  // no data flag: PackSize is left out of the next block's start
    e.Name = "back";
    e.PackSize = static_cast<uint32_t>(w.Bytes.size());
    w.File(e, {});
    w.Stored("after", kThree);
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 10);
    EXPECT_EQ(Content("first"), kOne);
    EXPECT_FALSE(Exists("back"));
    EXPECT_FALSE(Exists("after"));
    EXPECT_EQ(rec.Asked, std::vector<std::string>{"first"});
    EXPECT_TRUE(rec.Errors.empty());

    // Not a timed test: the work of a run is bounded by the archive, which
    // is read once (headers, then each entry's data), however its headers
    // point back.
    run.ExtractResult = 0;
    const std::vector<uint8_t> overlapping = qvtest::OverlappingHeaders(64 * 1024);
    Run(overlapping);
    EXPECT_EQ(run.ExtractResult, 10);
    EXPECT_LE(archive.BytesRead, static_cast<int64_t>(overlapping.size()));
}

TEST_F(Driver, WithoutHooksEntriesGoBesideTheProgram) {
    Recorder::Uninstall(run);
    ArchiveWriter w = Start();
    const std::string name = qvtest::UniqueName("beside");
    w.Stored("some/folder\\" + name, kOne);
    const AnsiString expected = DirectoryPart(ModuleFileName()) + name.c_str();
    Run(w.Bytes);
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_EQ(ReadAll(expected.c_str()), kOne);
    fs::remove(expected.c_str());
}

}  // namespace
