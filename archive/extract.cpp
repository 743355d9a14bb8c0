#include "archive/extract.h"

#include <cstdlib>

#include "archive/reports.h"
#include "unpack/unpacker.h"

TMyFileStream* TargetStream = nullptr;
uint8_t* Window = nullptr;
Hook<DestinationNameHook> DefaultDestination;

namespace {

constexpr uint8_t kMethodStored = 0x30;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrVolumeLabel = 0x08;

void FreeWindow() {
    std::free(Window);
    Window = nullptr;
}

bool VersionSupported(const FileHeaderRecord& h) {
    if (h.UnpVer < 13 || h.UnpVer > 20) return false;
    // Packed data of versions 13 to 15 has no decoder here: refuse it like
    // any other unknown version rather than ending the run with an empty
    // file behind.
    return h.Method == kMethodStored || h.UnpVer >= 16;
}

}  // namespace

AnsiString GetDestinationName(const AnsiString& entryName) {
    const Hook<DestinationNameHook>& hook =
        OnDestinationName.Function != nullptr ? OnDestinationName : DefaultDestination;
    AnsiString destination;
    if (hook.Function != nullptr) hook.Function(hook.Context, entryName, destination);
    return destination;
}

void ReleaseBuffers() {
    FreeWindow();
    std::free(ScanBuffer);
    ScanBuffer = nullptr;
}

void ExtractArchive() {
    if (Window != nullptr) FreeWindow();
    if (!ArchiveStream->Open("#101")) {
        ExtractResult = kExtractNoResource;
        return;
    }
    if (!DetectArchive()) {
        ExtractResult = kExtractNotArchive;
        ArchiveStream->Close();
        return;
    }
    Window = static_cast<uint8_t*>(std::calloc(kWindowSize, 1));
    if (Window == nullptr) {
        ExtractResult = kExtractNoMemory;
        return;
    }
    ArchiveStream->Seek(MainHeader.HeadSize - MainFixedSize, kSeekCurrent);

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
            // Without packed data the stream may stand before this very
            // header; move on explicitly.
            SeekOrEnd(NextBlockStart);
            continue;
        }
        if (extract && (destination.empty() || !TargetStream->Create(destination))) {
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

        Unp.EntryChecksum = oldFormat ? 0 : 0xFFFFFFFFu;
        Unp.PackedRemaining = static_cast<int32_t>(h.PackSize);
        Unp.OutputLeft = static_cast<int32_t>(h.UnpSize);
        NotifyProgress(Unp.OutputLeft);
        Unp.InStream = ArchiveStream;
        Unp.OutStream = TargetStream;
        Unp.Window = Window;
        Unp.ChecksumKind = oldFormat ? 1 : 2;
        Unp.DiscardOutput = skipMode;
        Unp.SkipChecksum = skipMode;
        if (h.Method == kMethodStored)
            CopyStored();
        else
            UnpackEntry(Window, (h.HeadFlags & kFlagSolidEntry) != 0);
        // The decoder may stop short of the entry's end (damaged data), so
        // the next block is found by the header's sizes, also in skip mode.
        SeekOrEnd(NextBlockStart);
        if (skipMode) {
            Unp.DiscardOutput = false;
            Unp.SkipChecksum = false;
            continue;
        }
        bool sound = oldFormat ? Unp.EntryChecksum == h.FileCrc : Unp.EntryChecksum == ~h.FileCrc;
        if (!sound) ExtractResult = kExtractBadEntry;
        TargetStream->StampTimes();
        TargetStream->Close();
        if (!sound) TargetStream->Erase();
    }
    FreeWindow();
    ArchiveStream->Close();
}
