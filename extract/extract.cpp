#include "extract/extract.h"

#include <cstdlib>

#include "base/platform.h"

namespace {

// The decoder clears no more of its window than a run reads, so it comes
// uncleared (clearing 1 MB costs more than decoding a short file).
uint8_t* TakeWindow(const ExtractRun& run) {
    if (run.BufferRefused != nullptr && run.BufferRefused(kWindowSize)) return nullptr;
    return static_cast<uint8_t*>(std::malloc(kWindowSize));
}

void FreeWindow(ExtractRun& run) {
    std::free(run.Window);
    run.Window = nullptr;
}

// The decoder's input, output and progress during a run; the context is
// the run.
int32_t ReadArchive(void* context, uint8_t* to, int32_t count) {
    return static_cast<ExtractRun*>(context)->ArchiveStream->Read(to, count);
}

void WriteOutput(void* context, const uint8_t* data, int32_t count) {
    ExtractRun& run = *static_cast<ExtractRun*>(context);
    EntryOutput& o = run.Output;
    int32_t written = count;
    if (!o.DiscardOutput) {
        written = run.TargetStream->Write(data, count);
        if (written < 0 || written > count) written = 0;
    }
    // A short or failed write folds in fewer bytes: the entry then fails
    // its check.
    if (!o.SkipChecksum)
        o.EntryChecksum = UpdateChecksum(o.EntryChecksum, data, written, o.ChecksumKind);
}

bool Stopped(ExtractRun& run) {
    if (!StopRequested(run)) return false;
    run.ExtractResult = kExtractNoDestination;
    return true;
}

void Progress(void* context, int32_t outputLeft) {
    NotifyProgress(*static_cast<const ExtractRun*>(context), outputLeft);
}

}  // namespace

bool VersionSupported(const FileHeaderRecord& h) {
    if (h.UnpVer < kUnpVerOldest || h.UnpVer > kUnpVerNewest) return false;
    // Packed data of versions 13 to 15 has no decoder here: refuse it like
    // any other unknown version rather than ending the run with an empty
    // file behind.
    return h.Method == kMethodStored || h.UnpVer >= kUnpVerPacked;
}

AnsiString GetDestinationName(const ExtractRun& run, const AnsiString& entryName) {
    const Hook<DestinationNameHook>& hook = run.OnDestinationName;
    if (hook.Function == nullptr) return DirectoryPart(ModuleFileName()) + FileNamePart(entryName);
    AnsiString destination;
    hook.Function(hook.Context, entryName, destination);
    return destination;
}

void NotifyProgress(const ExtractRun& run, int32_t outputLeft) {
    NotifyProgress(run, outputLeft, run.FileHeader.UnpSize);
}

void ReleaseBuffers(ExtractRun& run) {
    FreeWindow(run);
    std::free(run.ScanBuffer);
    run.ScanBuffer = nullptr;
}

void ResetRunState(ExtractRun& run) {
    FreeWindow(run);
    ResetReader(run);
    ResetUnpacker(run.Decoder, UnpackHooks(), nullptr, false);
    run.Output = EntryOutput();
}

void ExtractArchive(ExtractRun& run) {
    ResetRunState(run);
    if (!run.ArchiveStream->Open(run.ArchiveName)) {
        run.ExtractResult = kExtractNoResource;
        return;
    }
    if (!DetectArchive(run)) {
        run.ExtractResult = kExtractNotArchive;
        run.ArchiveStream->Close();
        return;
    }
    run.Window = TakeWindow(run);
    if (run.Window == nullptr) {
        run.ExtractResult = kExtractNoMemory;
        return;
    }
    run.ArchiveStream->Seek(run.MainHeader.HeadSize - run.MainFixedSize, kSeekCurrent);
    Unpacker& unp = run.Decoder;
    // Fresh since ResetRunState.
    AttachUnpacker(unp, {{ReadArchive, &run}, {WriteOutput, &run}, {Progress, &run}}, run.Window,
                   false);

    const bool oldFormat = run.ArchiveFormat == kFormatOld;
    for (;;) {
        if (FindNextBlock(run, kSubBlockSearch | kFileHeadType) < 1) break;
        if (run.BlockHeader.HeadType == kSubBlockType) {
            SeekOrEnd(run, run.NextBlockStart);
            continue;
        }
        const FileHeaderRecord& h = run.FileHeader;
        run.ArchiveStream->Seek(
            static_cast<int32_t>(static_cast<uint32_t>(run.NextBlockStart) - h.PackSize),
            kSeekStart);
        // A continued entry cannot be decoded alone, except in a solid
        // archive, where its data continues the shared decoder history.
        if ((h.HeadFlags & kFlagSplitBefore) && !run.SolidArchive) {
            SeekOrEnd(run, run.NextBlockStart);
            continue;
        }
        // A stop request ends the run before the entry, also one made while
        // the destination hook asked the user: the entry is not written, as
        // for want of a destination.
        if (Stopped(run)) break;
        AnsiString destination = GetDestinationName(run, h.FileName);
        if (Stopped(run)) break;
        bool extract = true;
        bool versionOk = VersionSupported(h);
        if (!versionOk) {
            run.ExtractResult = kExtractBadVersion;
            extract = false;
        }
        if (h.FileAttr & (kAttrDirectory | kAttrVolumeLabel)) {
            SeekOrEnd(run, run.NextBlockStart);
            continue;
        }
        const bool packed = h.Method != kMethodStored;
        if (versionOk && packed && (h.HeadFlags & kFlagSolidEntry) && !TablesRead(unp)) {
            // A solid entry goes on with the code tables of the entries
            // before it; with none read in this run it has nothing to go
            // on with: it is damaged, and not even created.
            run.ExtractResult = kExtractBadEntry;
            SeekOrEnd(run, run.NextBlockStart);
            continue;
        }
        // The entry is written beside its destination, which stays as it
        // was until the entry has passed its check.
        if (extract && (destination.empty() || !run.TargetStream->CreatePartial(destination))) {
            run.ExtractResult = kExtractNoDestination;
            extract = false;
        }
        // In a solid archive an entry that is not written is still decoded
        // (without output) so that the shared history stays whole; an entry
        // of an unknown version cannot be decoded and is passed over.
        bool skipMode = !extract && run.SolidArchive && versionOk;
        if (!extract && !skipMode) {
            SeekOrEnd(run, run.NextBlockStart);
            continue;
        }
        if (skipMode)
            NotifyStatusText(run, (AnsiString("skipped ") + h.FileName).c_str());
        else
            NotifyStatusText(run, (AnsiString("extracting ") + destination).c_str());

        run.Output.EntryChecksum = oldFormat ? 0 : 0xFFFFFFFFu;
        run.Output.ChecksumKind = oldFormat ? kChecksumOld : kChecksumCrc32;
        run.Output.DiscardOutput = skipMode;
        run.Output.SkipChecksum = skipMode;
        const auto packSize = static_cast<int32_t>(h.PackSize);
        const auto unpSize = static_cast<int32_t>(h.UnpSize);
        NotifyProgress(run, unpSize);
        if (packed)
            UnpackEntry(unp, packSize, unpSize, (h.HeadFlags & kFlagSolidEntry) != 0);
        else
            CopyStored(unp, packSize, unpSize);
        // The decoder may stop short of the entry's end (damaged data), so
        // the next block is found by the header's sizes, also in skip mode.
        SeekOrEnd(run, run.NextBlockStart);
        if (skipMode) {
            run.Output.DiscardOutput = false;
            run.Output.SkipChecksum = false;
            continue;
        }
        const uint32_t sum = run.Output.EntryChecksum;
        bool sound = oldFormat ? sum == h.FileCrc : sum == ~h.FileCrc;
        if (!sound) run.ExtractResult = kExtractBadEntry;
        run.TargetStream->StampTimes();
        run.TargetStream->Close();
        if (!sound)
            run.TargetStream->Erase();
        else if (!run.TargetStream->Commit())
            run.ExtractResult = kExtractNoDestination;
    }
    // The next run starts with ResetRunState; only the hooks and the
    // window, which point into this run, go now.
    AttachUnpacker(unp, UnpackHooks(), nullptr, false);
    FreeWindow(run);
    run.ArchiveStream->Close();
}
