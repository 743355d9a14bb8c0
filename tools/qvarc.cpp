// qvarc: lists, tests and extracts archives with the setup's own reader and
// extraction driver, and writes archives (qvarc_add.cpp).
//
// By default it talks to a person (qvarc_tool.cpp): a table for l, one line
// per entry, and one line on standard error for every failure, naming the
// file and the cause. With --raw, l, t and x print what scripts read, as
// they always have (below). The exit status is the run's result code.
//
// --raw listing lines are "UnpSize PackSize UnpVer Method FileCrc HeadFlags
// FileAttr Name": sizes and UnpVer in decimal, Method, HeadFlags and
// FileAttr in lower-case hexadecimal without prefix or padding, FileCrc as
// 8 lower-case hex digits. x --raw and t --raw print the driver's status
// lines ("extracting " and the destination) and, with --progress,
// "progress DONE TOTAL" lines; standard error carries only the driver's
// own texts.
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/reader.h"
#include "base/platform.h"
#include "extract/extract.h"
#include "pack/discard_stream.h"
#include "tools/qvarc_add.h"
#include "tools/qvarc_list.h"
#include "tools/qvarc_tool.h"

namespace {

const char kVersion[] = "qvarc 1.1 (archive format 2.0, packing method 20)\n";

const char kHelp[] =
    "usage: qvarc l [--raw] ARCHIVE\n"
    "       qvarc t [--raw] [--progress] ARCHIVE\n"
    "       qvarc x [--raw] [--progress] [-o] ARCHIVE [DIR]\n"
    "       qvarc a [-m0|-m1..-m5] [-s] [-mm auto|off] ARCHIVE FILE...\n"
    "       qvarc --help | --version\n"
    "\n"
    "  l  list the entries: name, size, packed size, ratio, method, CRC, attributes\n"
    "  t  decode and check every entry, write nothing: each name with OK or the failure\n"
    "  x  extract every entry into DIR (default .), which is made when missing; an\n"
    "     existing file is kept (result 11) unless -o, which replaces it. A file is\n"
    "     written beside its destination and replaces it only once it is checked.\n"
    "  a  write an archive of the FILEs, each under its last name component: -m0\n"
    "     stores, -m1..-m5 pack from fastest to smallest (default -m3), -s makes it\n"
    "     solid, -mm off never uses the multimedia mode\n"
    "ARCHIVE may also be a setup program: its embedded archive is read.\n"
    "\n"
    "  --progress  a line \"progress DONE TOTAL\" as each entry advances\n"
    "  --raw       the lines scripts read: l one line per header (UnpSize PackSize\n"
    "              UnpVer Method FileCrc HeadFlags FileAttr Name), t and x \"extracting\n"
    "              DEST\" per entry; errors are only the driver's own texts, and x\n"
    "              replaces existing files and needs DIR to exist, as before\n"
    "\n"
    "Exit status of l, t and x (the extraction result code):\n"
    "   0  every entry is sound (x: and was written)\n"
    "   1  an entry needs an unpack version that qvarc can't decode\n"
    "   2  the archive can't be opened or read\n"
    "   3  an entry is damaged (its checksum does not match)\n"
    "   8  not enough memory\n"
    "   9  not an archive\n"
    "  10  a header is damaged, or the archive is cut short\n"
    "  11  an entry was not written: its file exists (x without -o) or can't be\n"
    "      written, or its folder can't be made\n"
    "The last failure of a run decides. Exit status of a: 0 written, 2 an input or\n"
    "the archive can't be read or written, 3 packing failed. 64: wrong usage.\n";

int Usage() {
    std::fputs(kHelp, stderr);
    return kUsage;
}

// ---- --raw: the output of the tool's first version, unchanged ----

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

void DestinationInDir(void* dir, const AnsiString& entryName, AnsiString& destination) {
    destination = AnsiString(static_cast<const char*>(dir)) + "/" + FileNamePart(entryName);
}

int RawList(const char* path) {
    BuildCrcTable();
    ArchiveFileStream stream;
    ArchiveRun walk;
    walk.ArchiveName = path;
    walk.ArchiveStream = &stream;
    walk.OnErrorText = {PrintError, nullptr};
    return ListEntries(walk, stdout);
}

int RawExtract(const ToolOptions& o) {
    BuildCrcTable();
    ArchiveFileStream archive;
    TMyFileStream files;
    DiscardFileStream nothing;
    ExtractRun extraction;
    extraction.ArchiveName = o.Archive;
    extraction.ArchiveStream = &archive;
    extraction.TargetStream = o.TestOnly ? &nothing : &files;
    extraction.OnErrorText = {PrintError, nullptr};
    extraction.OnStatusText = {PrintLine, nullptr};
    if (o.Progress) extraction.OnProgress = {PrintProgress, nullptr};
    extraction.OnDestinationName = {DestinationInDir, const_cast<char*>(o.Dir)};
    ExtractArchive(extraction);
    ReleaseBuffers(extraction);
    return extraction.ExtractResult;
}

}  // namespace

void PrintProgress(void*, int32_t done, int32_t total) {
    std::printf("progress %d %d\n", static_cast<int>(done), static_cast<int>(total));
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (argc == 2 && (command == "--help" || command == "-h")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && command == "--version") {
        std::fputs(kVersion, stdout);
        return 0;
    }
    if (command == "a") return RunAdd(argc - 1, argv + 1);
    if (command != "l" && command != "x" && command != "t") return Usage();

    ToolOptions o;
    o.TestOnly = command == "t";
    int i = 2;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string opt = argv[i];
        if (opt == "--raw")
            o.Raw = true;
        else if (opt == "--progress" && command != "l")
            o.Progress = true;
        else if (opt == "-o" && command == "x")
            o.Overwrite = true;
        else
            return Usage();
    }
    const int rest = argc - i;
    if (rest < 1 || rest > (command == "x" ? 2 : 1)) return Usage();
    o.Archive = argv[i];
    if (rest == 2) o.Dir = argv[i + 1];

    int result;
    if (command == "l")
        result = o.Raw ? RawList(o.Archive) : ToolList(o);
    else
        result = o.Raw ? RawExtract(o) : ToolExtract(o);
    std::fflush(stdout);
    return result;
}
