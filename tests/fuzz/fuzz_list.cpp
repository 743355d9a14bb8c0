// The header walk of "qvarc l" over the input as the archive, or over the
// archive that the input holds as a setup program's resource "ARC" 101.
#include <cstdio>

#include "tests/fuzz/fuzz_support.h"
#include "tools/qvarc_list.h"
#include "tools/qvarc_pe.h"

namespace {

std::FILE* lines = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    lines = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF) return 0;
    qvfuzz::FreshProcessState();
    ByteRange embedded{0, size};
    FindEmbeddedArchive(data, size, embedded);
    qvfuzz::UseAsArchive(data + embedded.Offset, embedded.Size);
    TMyResourceStream archive;
    ArchiveRun walk;
    walk.ArchiveName = "#101";
    walk.ArchiveStream = &archive;
    ListEntries(walk, lines);
    return 0;
}
