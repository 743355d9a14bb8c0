// The whole extraction run over the input as the archive: detection, the
// block walk, every entry decoded into a discarding target and checked.
#include "pack/discard_stream.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void AnyName(void*, const AnsiString&, AnsiString& destination) {
    destination = "entry";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF) return 0;
    qvfuzz::FreshProcessState();
    qvfuzz::UseAsArchive(data, size);
    DiscardFileStream target;
    qvfuzz::ExtractInto(target, AnyName);
    return 0;
}
