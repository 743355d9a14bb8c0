// What qvarc's l, t and x share: their options, the archive's bytes, and
// the default mode, which talks to a person (qvarc_tool.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kUsage = 64;

struct ToolOptions {
    bool Raw = false;
    bool Progress = false;
    bool Overwrite = false;  // x -o
    bool TestOnly = false;   // t
    const char* Archive = nullptr;
    const char* Dir = ".";
};

// The archive file's bytes, registered as the resource "ARC" "#101" that the
// reader opens, while this lives. Of a setup program, the embedded archive
// (its resource "ARC" 101) alone.
class ArchiveBytes {
public:
    ArchiveBytes() = default;
    ArchiveBytes(const ArchiveBytes&) = delete;
    ArchiveBytes& operator=(const ArchiveBytes&) = delete;
    ~ArchiveBytes();

    // False when the file can't be read; Error then says why.
    bool Load(const char* path);
    std::string Error;

private:
    std::vector<uint8_t> bytes_;
};

// "progress DONE TOTAL", the driver's progress hook of --progress.
void PrintProgress(void* context, int32_t done, int32_t total);

// The default mode of l, and of t and x; both return the result code.
int ToolList(const ToolOptions& o);
int ToolExtract(const ToolOptions& o);
