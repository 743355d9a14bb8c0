// The header walk of "qvarc l" over the input as the archive.
#include <cstdio>

#include "tests/fuzz/fuzz_support.h"
#include "tools/qvarc_list.h"

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
    qvfuzz::UseAsArchive(data, size);
    TMyResourceStream archive;
    ArchiveStream = &archive;
    ListEntries(lines);
    ArchiveStream = nullptr;
    return 0;
}
