#include "archive/reader.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kScanBufferSize = 0x20000;
// 16 bytes stay unread so that every look-ahead of the scan stays inside
// the (zero-filled) buffer.
constexpr int32_t kScanReadSize = 0x1FFF0;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool IsMarkStart(uint8_t b) {
    return b == 'R' || b == 'r';
}

bool HeaderSound(const ArchiveRun& run) {
    return HeadCrcOf(run.HeaderCrcAcc) == run.FileHeader.HeadCrc;
}

// Reads the entry name (NameSize bytes, or what is left of the archive)
// and continues HeaderCrcAcc over it. Chunked so that names with NUL bytes
// survive and no large buffer is needed. False when the archive ends first.
bool ReadFileName(ArchiveRun& run) {
    run.FileHeader.FileName = AnsiString();
    uint8_t chunk[256];
    int32_t left = run.FileHeader.NameSize;
    while (left > 0) {
        int32_t want = left < static_cast<int32_t>(sizeof(chunk)) ? left : sizeof(chunk);
        int32_t got = run.ArchiveStream->Read(chunk, want);
        if (got <= 0) break;
        run.FileHeader.FileName.Append(reinterpret_cast<const char*>(chunk),
                                       static_cast<size_t>(got));
        run.HeaderCrcAcc = UpdateCrc32(run.HeaderCrcAcc, chunk, got);
        left -= got;
    }
    return left == 0;
}

}  // namespace

uint8_t* TakeRunBuffer(const ArchiveRun& run, size_t size) {
    if (run.BufferRefused != nullptr && run.BufferRefused(size)) return nullptr;
    return static_cast<uint8_t*>(std::calloc(size, 1));
}

int32_t ParseHeader(ArchiveRun& run, uint8_t type) {
    // Zero-filled, so that the fields of a short read are defined.
    uint8_t b[kFileHeadFixed] = {};
    if (type == kMainHeadType) {
        if (run.ArchiveFormat == kFormatOld) {
            int32_t n = run.ArchiveStream->Read(b, kOldMainHeadFixed);
            std::memcpy(run.OldMainHeader.Mark, b, sizeof(kOldMark));
            run.OldMainHeader.HeadSize = Get16(b + kAtOldHeadSize);
            run.OldMainHeader.HeadFlags = b[kAtOldHeadFlags];
            return n;
        }
        int32_t n = run.ArchiveStream->Read(b, kMainHeadFixed);
        run.MainHeader.HeadCrc = Get16(b + kAtHeadCrc);
        run.MainHeader.HeadType = b[kAtHeadType];
        run.MainHeader.HeadFlags = Get16(b + kAtHeadFlags);
        run.MainHeader.HeadSize = Get16(b + kAtHeadSize);
        run.MainHeader.Reserved1 = Get16(b + kAtReserved1);
        run.MainHeader.Reserved2 = Get32(b + kAtReserved2);
        run.HeaderCrcAcc =
            UpdateCrc32(0xFFFFFFFFu, b + kHeadCrcCovers, kMainHeadFixed - kHeadCrcCovers);
        return n;
    }
    int32_t n = run.ArchiveStream->Read(b, kFileHeadFixed);
    // A header cut short by the end of the archive counts as the end.
    if (n < kFileHeadFixed) return 0;
    FileHeaderRecord& h = run.FileHeader;
    h.HeadCrc = Get16(b + kAtHeadCrc);
    h.HeadType = b[kAtHeadType];
    h.HeadFlags = Get16(b + kAtHeadFlags);
    h.HeadSize = Get16(b + kAtHeadSize);
    h.PackSize = Get32(b + kAtPackSize);
    h.UnpSize = Get32(b + kAtUnpSize);
    h.HostOs = b[kAtHostOs];
    h.FileCrc = Get32(b + kAtFileCrc);
    h.FileTime = Get32(b + kAtFileTime);
    h.UnpVer = b[kAtUnpVer];
    h.Method = b[kAtMethod];
    h.NameSize = Get16(b + kAtNameSize);
    h.FileAttr = Get32(b + kAtFileAttr);
    run.HeaderCrcAcc =
        UpdateCrc32(0xFFFFFFFFu, b + kHeadCrcCovers, kFileHeadFixed - kHeadCrcCovers);
    return n;
}

void ResetReader(ArchiveRun& run) {
    run.ArchiveFormat = kFormatNone;
    run.MainHeader = MainHeaderRecord();
    run.OldMainHeader = OldMainHeaderRecord();
    run.MainFixedSize = 0;
    run.SolidArchive = false;
    run.FileHeader = FileHeaderRecord();
    run.BlockHeader = BlockHeaderRecord();
    run.BlockStart = 0;
    run.NextBlockStart = 0;
    run.LastRequestedType = 0;
    run.HeaderCrcAcc = 0;
    std::free(run.ScanBuffer);
    run.ScanBuffer = nullptr;
}

bool DetectArchive(ArchiveRun& run) {
    run.ArchiveFormat = kFormatNone;
    run.SolidArchive = false;
    run.BlockStart = 0;
    run.NextBlockStart = 0;
    uint8_t mark[kMarkSize];
    if (run.ArchiveStream->Read(mark, kMarkSize) < kMarkSize) return false;

    if (std::memcmp(mark, kOldMark, sizeof(kOldMark)) == 0) {
        run.ArchiveFormat = kFormatOld;
        run.ArchiveStream->Seek(0, kSeekStart);
        ParseHeader(run, kMainHeadType);
    } else if (IsMarkStart(mark[0]) && std::memcmp(mark + 1, kMarkTail, sizeof(kMarkTail)) == 0) {
        run.ArchiveFormat = kFormatCurrent;
        if (ParseHeader(run, kMainHeadType) != kMainHeadFixed) return false;
    } else {
        run.ScanBuffer = TakeRunBuffer(run, kScanBufferSize);
        if (run.ScanBuffer == nullptr) return false;
        int32_t scanBase = run.ArchiveStream->Position();
        int32_t count = run.ArchiveStream->Read(run.ScanBuffer, kScanReadSize);
        const uint8_t* s = run.ScanBuffer;
        // Where the self-extractor tag "RSFX" of an old-format archive sits
        // in the buffer (stream positions 28..31).
        int32_t tag = 28 - scanBase;
        bool tagged = scanBase >= 0 && tag >= 0 && tag + 4 <= kScanBufferSize &&
                      std::memcmp(s + tag, "RSFX", 4) == 0;
        for (int32_t i = 0; run.ArchiveFormat == kFormatNone && i < count; ++i) {
            if (!IsMarkStart(s[i])) continue;
            if (std::memcmp(s + i + 1, kOldMark + 1, 3) == 0 && tagged) {
                run.ArchiveFormat = kFormatOld;
                run.ArchiveStream->Seek(scanBase + i, kSeekStart);
                ParseHeader(run, kMainHeadType);
            } else if (std::memcmp(s + i + 1, kMarkTail, sizeof(kMarkTail)) == 0 &&
                       s[i + kMarkSize + kAtHeadType] == kMainHeadType) {
                run.ArchiveFormat = kFormatCurrent;
                run.ArchiveStream->Seek(scanBase + i, kSeekStart);
                run.ArchiveStream->Read(mark, kMarkSize);
                ParseHeader(run, kMainHeadType);
            }
        }
        std::free(run.ScanBuffer);
        run.ScanBuffer = nullptr;
        if (run.ArchiveFormat == kFormatNone) return false;
    }

    if (run.ArchiveFormat == kFormatOld) {
        run.MainFixedSize = kOldMainHeadFixed;
        run.MainHeader.HeadFlags = run.OldMainHeader.HeadFlags & kOldFlagMask;
        run.MainHeader.HeadSize = run.OldMainHeader.HeadSize;
    } else {
        run.MainFixedSize = kMainHeadFixed;
        if (HeadCrcOf(run.HeaderCrcAcc) != run.MainHeader.HeadCrc)
            NotifyErrorText(run, "Broken header");
    }
    run.SolidArchive = (run.MainHeader.HeadFlags & kFlagSolidArchive) != 0;
    return true;
}

void SeekOrEnd(ArchiveRun& run, int32_t position) {
    if (run.ArchiveStream->Seek(position, kSeekStart) != kSeekOk)
        run.ArchiveStream->Seek(0, kSeekEnd);
}

int32_t FindNextBlock(ArchiveRun& run, int32_t request) {
    // Old-format blocks are not read: such an archive has no entries here.
    if (run.ArchiveFormat != kFormatCurrent) return 0;
    FileHeaderRecord kept = run.FileHeader;
    bool wantSub = (request & kSubBlockSearch) != 0;
    uint8_t type = static_cast<uint8_t>(request & 0xFF);
    int32_t n;
    for (;;) {
        run.BlockStart = run.ArchiveStream->Position();
        n = ParseHeader(run, kFileHeadType);
        if (n != 0) {
            if (run.FileHeader.HeadSize < kBlockHeadFixed) return 0;
            // 32-bit wrap-around as the format's signed arithmetic has it,
            // computed unsigned so that it is defined.
            uint32_t next = static_cast<uint32_t>(run.BlockStart) + run.FileHeader.HeadSize;
            if (run.FileHeader.HeadFlags & kFlagHasData) next += run.FileHeader.PackSize;
            run.NextBlockStart = static_cast<int32_t>(next);
            if (run.NextBlockStart <= run.BlockStart) return 0;
        }
        if (n == 0 && run.ArchiveStream->Size() < run.NextBlockStart)
            NotifyErrorText(run, "Unexpected end of file");
        if (n > 0 && type != kSubBlockType) run.LastRequestedType = type;
        if (n == 0 || type == 0 || run.FileHeader.HeadType == type ||
            (run.FileHeader.HeadType == kSubBlockType && wantSub && type == run.LastRequestedType))
            break;
        SeekOrEnd(run, run.NextBlockStart);
    }
    run.BlockHeader.HeadCrc = run.FileHeader.HeadCrc;
    run.BlockHeader.HeadType = run.FileHeader.HeadType;
    run.BlockHeader.HeadFlags = run.FileHeader.HeadFlags;
    run.BlockHeader.HeadSize = run.FileHeader.HeadSize;
    run.BlockHeader.DataSize = run.FileHeader.PackSize;
    if (n == 0) {
        run.FileHeader = kept;
        run.ArchiveStream->Seek(run.BlockStart, kSeekStart);
        return 0;
    }
    if (run.FileHeader.HeadType != type) return n;
    if (type == kFileHeadType) {
        // Damaged whatever its checksum says: a name that runs past the end
        // of the archive, and packed data that would begin before the end
        // of its own header (a header without the data flag leaves PackSize
        // out of NextBlockStart, so such data would overlap this or earlier
        // blocks and be decoded again).
        bool whole = ReadFileName(run);
        bool dataAfter =
            (run.FileHeader.HeadFlags & kFlagHasData) != 0 || run.FileHeader.PackSize == 0;
        if (!whole || !dataAfter || !HeaderSound(run)) {
            run.ExtractResult = kExtractBadFileHeader;
            return 0;
        }
        return n + run.FileHeader.NameSize;
    }
    return n;
}
