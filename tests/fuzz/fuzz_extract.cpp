// The whole extraction run over the input as the archive: detection, the
// block walk, every entry decoded into a discarding target and checked.
#include "archive/extract.h"
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
    {
        TMyResourceStream archive;
        DiscardFileStream target;
        ArchiveStream = &archive;
        TargetStream = &target;
        OnDestinationName = {AnyName, nullptr};
        ExtractArchive();
        OnDestinationName = {};
        ArchiveStream = nullptr;
        TargetStream = nullptr;
    }
    ReleaseBuffers();
    return 0;
}
