// qvarc: lists, extracts and tests archives with the setup's own reader and
// extraction driver, and writes archives (qvarc_add.cpp).
//
//   qvarc l ARCHIVE                    one line per file header
//   qvarc x [--progress] ARCHIVE [DIR] extract into DIR (default ".")
//   qvarc t [--progress] ARCHIVE       decode and check, write nothing
//   qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...
//
// The exit status of l, x and t is the run's ExtractResult. Listing lines
// are "UnpSize PackSize UnpVer Method FileCrc HeadFlags FileAttr Name":
// sizes and UnpVer in decimal, Method, HeadFlags and FileAttr in lower-case
// hexadecimal without prefix or padding, FileCrc as 8 lower-case hex digits.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/platform.h"
#include "archive/reader.h"
#include "archive/reports.h"
#include "pack/discard_stream.h"
#include "tools/qvarc_add.h"
#include "tools/qvarc_list.h"

namespace {

constexpr int kUsage = 64;

const char kHelp[] =
    "usage: qvarc l ARCHIVE\n"
    "       qvarc x [--progress] ARCHIVE [DIR]\n"
    "       qvarc t [--progress] ARCHIVE\n"
    "       qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...\n"
    "\n"
    "  l  list the file headers: UnpSize PackSize UnpVer Method FileCrc HeadFlags FileAttr Name\n"
    "  x  extract every entry into DIR (default .)\n"
    "  t  decode and check every entry without writing a file\n"
    "  a  write an archive: -m0 stores, -m1..-m5 pack from fastest to smallest (default\n"
    "     -m3), -s makes it solid, -mm off never uses the multimedia mode\n"
    "The exit status of l, x and t is the extraction result code.\n";

int Usage() {
    std::fputs(kHelp, stderr);
    return kUsage;
}

std::vector<uint8_t> gArchive;
// Keeps an empty archive's data pointer non-null: an empty file is a
// readable archive that holds nothing, not a missing one.
uint8_t gEmpty = 0;

bool RegisterArchive(const char* path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || size > 0x7FFFFFFF) return false;
    gArchive.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(gArchive.data()), size)) return false;
    RegisterResource("ARC", "#101", gArchive.empty() ? &gEmpty : gArchive.data(),
                     static_cast<int32_t>(gArchive.size()));
    return true;
}

void PrintLine(void*, const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

// After what the run printed so far, also when both streams go to one file.
void PrintError(void*, const char* text) {
    std::fflush(stdout);
    std::fputs(text, stderr);
    std::fputc('\n', stderr);
}

void PrintProgress(void*, int32_t done, int32_t total) {
    std::printf("progress %d %d\n", static_cast<int>(done), static_cast<int>(total));
}

std::string gDestinationDir;

void DestinationInDir(void*, const AnsiString& entryName, AnsiString& destination) {
    destination = AnsiString(gDestinationDir.c_str()) + "/" + FileNamePart(entryName);
}

int List(const char* path) {
    BuildCrcTable();
    OnErrorText = {PrintError, nullptr};
    if (!RegisterArchive(path)) return kExtractNoResource;
    TMyResourceStream stream;
    ArchiveStream = &stream;
    int result = ListEntries(stdout);
    ArchiveStream = nullptr;
    return result;
}

int Extract(bool testOnly, bool progress, const char* path, const char* dir) {
    BuildCrcTable();
    OnErrorText = {PrintError, nullptr};
    OnStatusText = {PrintLine, nullptr};
    if (progress) OnProgress = {PrintProgress, nullptr};
    gDestinationDir = dir;
    OnDestinationName = {DestinationInDir, nullptr};
    if (!RegisterArchive(path)) ClearResources();  // the driver then reports 2
    int result;
    {
        TMyResourceStream archive;
        TMyFileStream files;
        DiscardFileStream nothing;
        ArchiveStream = &archive;
        TargetStream = testOnly ? &nothing : &files;
        ExtractArchive();
        result = ExtractResult;
        ArchiveStream = nullptr;
        TargetStream = nullptr;
    }
    ReleaseBuffers();
    OnErrorText = {};
    OnStatusText = {};
    OnProgress = {};
    OnDestinationName = {};
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "a") return RunAdd(argc - 1, argv + 1);
    if (command == "l") return argc == 3 ? List(argv[2]) : Usage();
    if (command == "x" || command == "t") {
        bool progress = false;
        int i = 2;
        if (i < argc && std::strcmp(argv[i], "--progress") == 0) {
            progress = true;
            ++i;
        }
        int rest = argc - i;
        bool testOnly = command == "t";
        if (rest < 1 || rest > (testOnly ? 1 : 2)) return Usage();
        const char* dir = rest == 2 ? argv[i + 1] : ".";
        int result = Extract(testOnly, progress, argv[i], dir);
        std::fflush(stdout);
        return result;
    }
    return Usage();
}
