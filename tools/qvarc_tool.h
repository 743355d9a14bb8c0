// What qvarc's l, t and x share: their options, the archive's bytes, and
// the default mode, which talks to a person (qvarc_tool.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/streams.h"

constexpr int kUsage = 64;

struct ToolOptions {
    bool Raw = false;
    bool Progress = false;
    bool Overwrite = false;  // x -o
    bool TestOnly = false;   // t
    const char* Archive = nullptr;
    const char* Dir = ".";
};

// The archive of a run of qvarc: the file named to Open, its bytes read in
// place like the setup's resource. Of a setup program, the embedded
// archive (its resource "ARC" 101) alone.
class ArchiveFileStream : public TMyResourceStream {
public:
    // False when the file can't be read; Error then says why.
    bool Open(const AnsiString& path) override;
    std::string Error;

private:
    std::vector<uint8_t> bytes_;
};

// "progress DONE TOTAL", the driver's progress hook of --progress.
void PrintProgress(void* context, int32_t done, int32_t total);

// The default mode of l, and of t and x; both return the result code.
int ToolList(const ToolOptions& o);
int ToolExtract(const ToolOptions& o);
