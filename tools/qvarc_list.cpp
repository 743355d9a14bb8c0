#include "tools/qvarc_list.h"

#include "archive/reports.h"

int32_t WalkEntries(void (*row)(void* context, const FileHeaderRecord& header), void* context) {
    // The same walk as the extraction driver's.
    if (!ArchiveStream->Open("#101")) {
        ExtractResult = kExtractNoResource;
    } else if (!DetectArchive()) {
        ExtractResult = kExtractNotArchive;
    } else {
        ArchiveStream->Seek(MainHeader.HeadSize - MainFixedSize, kSeekCurrent);
        while (FindNextBlock(kSubBlockSearch | kFileHeadType) > 0) {
            if (BlockHeader.HeadType == kFileHeadType) row(context, FileHeader);
            SeekOrEnd(NextBlockStart);
        }
    }
    ArchiveStream->Close();
    return ExtractResult;
}

int32_t ListEntries(std::FILE* out) {
    auto line = [](void* context, const FileHeaderRecord& h) {
        std::FILE* to = static_cast<std::FILE*>(context);
        std::fprintf(to, "%u %u %u %x %08x %x %x ", static_cast<unsigned>(h.UnpSize),
                     static_cast<unsigned>(h.PackSize), static_cast<unsigned>(h.UnpVer),
                     static_cast<unsigned>(h.Method), static_cast<unsigned>(h.FileCrc),
                     static_cast<unsigned>(h.HeadFlags), static_cast<unsigned>(h.FileAttr));
        std::fwrite(h.FileName.c_str(), 1, h.FileName.size(), to);
        std::fputc('\n', to);
    };
    return WalkEntries(line, out);
}
