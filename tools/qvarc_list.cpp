#include "tools/qvarc_list.h"

int32_t WalkEntries(ArchiveRun& run, void (*row)(void* context, const FileHeaderRecord& header),
                    void* context) {
    // The same walk as the extraction driver's.
    if (!run.ArchiveStream->Open(run.ArchiveName)) {
        run.ExtractResult = kExtractNoResource;
    } else if (!DetectArchive(run)) {
        run.ExtractResult = kExtractNotArchive;
    } else {
        run.ArchiveStream->Seek(run.MainHeader.HeadSize - run.MainFixedSize, kSeekCurrent);
        while (FindNextBlock(run, kSubBlockSearch | kFileHeadType) > 0) {
            if (run.BlockHeader.HeadType == kFileHeadType) row(context, run.FileHeader);
            SeekOrEnd(run, run.NextBlockStart);
        }
    }
    run.ArchiveStream->Close();
    return run.ExtractResult;
}

int32_t ListEntries(ArchiveRun& run, std::FILE* out) {
    auto line = [](void* context, const FileHeaderRecord& h) {
        std::FILE* to = static_cast<std::FILE*>(context);
        std::fprintf(to, "%u %u %u %x %08x %x %x ", static_cast<unsigned>(h.UnpSize),
                     static_cast<unsigned>(h.PackSize), static_cast<unsigned>(h.UnpVer),
                     static_cast<unsigned>(h.Method), static_cast<unsigned>(h.FileCrc),
                     static_cast<unsigned>(h.HeadFlags), static_cast<unsigned>(h.FileAttr));
        std::fwrite(h.FileName.c_str(), 1, h.FileName.size(), to);
        std::fputc('\n', to);
    };
    return WalkEntries(run, line, out);
}
