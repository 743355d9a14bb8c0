// Shared helpers of the archive tests: an in-memory archive stream that
// answers to "#101" (so the reader and the driver run the same on Linux and
// under Wine), hook recorders, and a scratch folder.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "base/streams.h"
#include "extract/extract.h"

namespace qvtest {

class MemoryStream : public TAbstractStream {
public:
    std::vector<uint8_t> Bytes;
    int32_t Pos = 0;
    bool Openable = true;
    int64_t BytesRead = 0;  // by every Read since the last Open

    bool Open(const AnsiString& name) override {
        if (!Openable || !(name == "#101")) return false;
        IsOpen = true;
        Name = name;
        Pos = 0;
        BytesRead = 0;
        return true;
    }
    bool Create(const AnsiString&) override { return false; }
    bool Close() override {
        IsOpen = false;
        return true;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int32_t Read(void* buffer, int32_t count) override {
        int32_t size = Size();
        if (count <= 0 || Pos >= size) return 0;
        int32_t n = size - Pos < count ? size - Pos : count;
        std::memcpy(buffer, Bytes.data() + Pos, static_cast<size_t>(n));
        Pos += n;
        BytesRead += n;
        return n;
    }
    uint32_t Seek(int32_t offset, int32_t origin) override {
        int64_t base = origin == 0 ? 0 : origin == 1 ? Pos : origin == 2 ? Size() : -1;
        if (base < 0) return kSeekBadOrigin;
        int64_t p = base + offset;
        if (p < 0 || p > Size()) return kSeekBadPosition;
        Pos = static_cast<int32_t>(p);
        return kSeekOk;
    }
    int32_t Position() override { return Pos; }
    int32_t Size() override { return static_cast<int32_t>(Bytes.size()); }
};

// Records every hook call of a run, in order, as text lines.
struct Recorder {
    std::vector<std::string> Errors;
    std::vector<std::string> Status;
    std::vector<std::string> Progress;  // "done total"
    std::vector<std::string> Asked;     // entry names given to OnDestinationName
    std::string Dir;                    // destinations: Dir + "/" + entry name
    std::vector<std::string> EmptyFor;  // entry names that get an empty destination

    void Install(RunReports& run) {
        run.OnErrorText = {&Recorder::Error, this};
        run.OnStatusText = {&Recorder::StatusLine, this};
        run.OnProgress = {&Recorder::ProgressLine, this};
        run.OnDestinationName = {&Recorder::Destination, this};
    }
    static void Uninstall(RunReports& run) {
        run.OnErrorText = {};
        run.OnStatusText = {};
        run.OnProgress = {};
        run.OnDestinationName = {};
    }
    static void Error(void* self, const char* text) {
        static_cast<Recorder*>(self)->Errors.push_back(text);
    }
    static void StatusLine(void* self, const char* text) {
        static_cast<Recorder*>(self)->Status.push_back(text);
    }
    static void ProgressLine(void* self, int32_t done, int32_t total) {
        static_cast<Recorder*>(self)->Progress.push_back(std::to_string(done) + " " +
                                                         std::to_string(total));
    }
    static void Destination(void* self, const AnsiString& name, AnsiString& destination) {
        auto* r = static_cast<Recorder*>(self);
        std::string entry(name.c_str(), name.size());
        r->Asked.push_back(entry);
        for (const std::string& e : r->EmptyFor)
            if (e == entry) return;
        destination = AnsiString((r->Dir + "/" + entry).c_str());
    }
};

// One whole run of the archive "#101" that `archive` answers to, into
// the files `rec` names; the hooks and buffers go again afterwards.
inline void ExtractWith(ExtractRun& run, TAbstractStream& archive, TMyFileStream& target,
                        Recorder& rec) {
    BuildCrcTable();
    run.ArchiveName = "#101";
    run.ArchiveStream = &archive;
    run.TargetStream = &target;
    rec.Install(run);
    ExtractArchive(run);
    Recorder::Uninstall(run);
    ReleaseBuffers(run);
}

// A fresh, empty folder below the system's temporary folder, removed again
// by the destructor.
// "qv-TAG-" and a random number: the tests run in processes of their own,
// two at a time, whose objects may lie at the same addresses.
inline std::string UniqueName(const std::string& tag) {
    return "qv-" + tag + "-" + std::to_string(std::random_device{}());
}

class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag) {
        Path = std::filesystem::temp_directory_path() / UniqueName(tag);
        std::filesystem::remove_all(Path);
        std::filesystem::create_directories(Path);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string File(const std::string& name) const { return (Path / name).string(); }
    std::filesystem::path Path;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace qvtest
