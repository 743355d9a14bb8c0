#include "archive/extract.h"

#include <cstdlib>

#include "archive/platform.h"
#include "archive/reports.h"
#include "unpack/unpacker_state.h"

TMyFileStream* TargetStream = nullptr;
uint8_t* Window = nullptr;
EntryOutput Output;

namespace {

// The one decoder state of the run (kept here until the run has a record
// of its own).
constinit Unpacker RunUnpacker{};

constexpr uint8_t kMethodStored = 0x30;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrVolumeLabel = 0x08;

void FreeWindow() {
    std::free(Window);
    Window = nullptr;
}

// The decoder's input, output and progress during a run.
int32_t ReadArchive(void*, uint8_t* to, int32_t count) {
    return ArchiveStream->Read(to, count);
}

void WriteOutput(void* context, const uint8_t* data, int32_t count) {
    EntryOutput& o = *static_cast<EntryOutput*>(context);
    int32_t written = count;
    if (!o.DiscardOutput) {
        written = TargetStream->Write(data, count);
        if (written < 0 || written > count) written = 0;
    }
    // A short or failed write folds in fewer bytes: the entry then fails
    // its check.
    if (!o.SkipChecksum)
        o.EntryChecksum = UpdateChecksum(o.EntryChecksum, data, written, o.ChecksumKind);
}

void Progress(void*, int32_t outputLeft) {
    NotifyProgress(outputLeft);
}

}  // namespace

bool VersionSupported(const FileHeaderRecord& h) {
    if (h.UnpVer < 13 || h.UnpVer > 20) return false;
    // Packed data of versions 13 to 15 has no decoder here: refuse it like
    // any other unknown version rather than ending the run with an empty
    // file behind.
    return h.Method == kMethodStored || h.UnpVer >= 16;
}

AnsiString GetDestinationName(const AnsiString& entryName) {
    if (OnDestinationName.Function == nullptr)
        return DirectoryPart(ModuleFileName()) + FileNamePart(entryName);
    AnsiString destination;
    OnDestinationName.Function(OnDestinationName.Context, entryName, destination);
    return destination;
}

void ReleaseBuffers() {
    FreeWindow();
    std::free(ScanBuffer);
    ScanBuffer = nullptr;
}

void ResetRunState() {
    FreeWindow();
    ResetReader();
    ResetUnpacker(RunUnpacker, UnpackHooks(), nullptr, false);
    Output = EntryOutput();
}

void ExtractArchive() {
    ResetRunState();
    if (!ArchiveStream->Open("#101")) {
        ExtractResult = kExtractNoResource;
        return;
    }
    if (!DetectArchive()) {
        ExtractResult = kExtractNotArchive;
        ArchiveStream->Close();
        return;
    }
    Window = TakeRunBuffer(kWindowSize);
    if (Window == nullptr) {
        ExtractResult = kExtractNoMemory;
        return;
    }
    ArchiveStream->Seek(MainHeader.HeadSize - MainFixedSize, kSeekCurrent);
    Unpacker& unp = RunUnpacker;
    // TakeRunBuffer zero-fills the window.
    ResetUnpacker(unp, {{ReadArchive, nullptr}, {WriteOutput, &Output}, {Progress, nullptr}},
                  Window, true);

    const bool oldFormat = ArchiveFormat == 1;
    for (;;) {
        if (FindNextBlock(kSubBlockSearch | kFileHeadType) < 1) break;
        if (BlockHeader.HeadType == kSubBlockType) {
            SeekOrEnd(NextBlockStart);
            continue;
        }
        const FileHeaderRecord& h = FileHeader;
        ArchiveStream->Seek(
            static_cast<int32_t>(static_cast<uint32_t>(NextBlockStart) - h.PackSize), kSeekStart);
        // A continued entry cannot be decoded alone, except in a solid
        // archive, where its data continues the shared decoder history.
        if ((h.HeadFlags & kFlagSplitBefore) && !SolidArchive) {
            SeekOrEnd(NextBlockStart);
            continue;
        }
        AnsiString destination = GetDestinationName(h.FileName);
        bool extract = true;
        bool versionOk = VersionSupported(h);
        if (!versionOk) {
            ExtractResult = kExtractBadVersion;
            extract = false;
        }
        if (h.FileAttr & (kAttrDirectory | kAttrVolumeLabel)) {
            SeekOrEnd(NextBlockStart);
            continue;
        }
        const bool packed = h.Method != kMethodStored;
        if (versionOk && packed && (h.HeadFlags & kFlagSolidEntry) && !TablesRead(unp)) {
            // A solid entry goes on with the code tables of the entries
            // before it; with none read in this run it has nothing to go
            // on with: it is damaged, and not even created.
            ExtractResult = kExtractBadEntry;
            SeekOrEnd(NextBlockStart);
            continue;
        }
        // The entry is written beside its destination, which stays as it
        // was until the entry has passed its check.
        if (extract && (destination.empty() || !TargetStream->CreatePartial(destination))) {
            ExtractResult = kExtractNoDestination;
            extract = false;
        }
        // In a solid archive an entry that is not written is still decoded
        // (without output) so that the shared history stays whole; an entry
        // of an unknown version cannot be decoded and is passed over.
        bool skipMode = !extract && SolidArchive && versionOk;
        if (!extract && !skipMode) {
            SeekOrEnd(NextBlockStart);
            continue;
        }
        if (skipMode)
            NotifyStatusText((AnsiString("skipped ") + h.FileName).c_str());
        else
            NotifyStatusText((AnsiString("extracting ") + destination).c_str());

        Output.EntryChecksum = oldFormat ? 0 : 0xFFFFFFFFu;
        Output.ChecksumKind = oldFormat ? 1 : 2;
        Output.DiscardOutput = skipMode;
        Output.SkipChecksum = skipMode;
        const auto packSize = static_cast<int32_t>(h.PackSize);
        const auto unpSize = static_cast<int32_t>(h.UnpSize);
        NotifyProgress(unpSize);
        if (packed)
            UnpackEntry(unp, packSize, unpSize, (h.HeadFlags & kFlagSolidEntry) != 0);
        else
            CopyStored(unp, packSize, unpSize);
        // The decoder may stop short of the entry's end (damaged data), so
        // the next block is found by the header's sizes, also in skip mode.
        SeekOrEnd(NextBlockStart);
        if (skipMode) {
            Output.DiscardOutput = false;
            Output.SkipChecksum = false;
            continue;
        }
        const uint32_t sum = Output.EntryChecksum;
        bool sound = oldFormat ? sum == h.FileCrc : sum == ~h.FileCrc;
        if (!sound) ExtractResult = kExtractBadEntry;
        TargetStream->StampTimes();
        TargetStream->Close();
        if (!sound)
            TargetStream->Erase();
        else if (!TargetStream->Commit())
            ExtractResult = kExtractNoDestination;
    }
    ResetUnpacker(unp, UnpackHooks(), nullptr, false);
    FreeWindow();
    ArchiveStream->Close();
}
