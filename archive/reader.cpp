#include "archive/reader.h"

#include <cstdlib>
#include <cstring>

#include "archive/reports.h"

int32_t ArchiveFormat = 0;
MainHeaderRecord MainHeader;
OldMainHeaderRecord OldMainHeader;
int32_t MainFixedSize = 0;
bool SolidArchive = false;
FileHeaderRecord FileHeader;
BlockHeaderRecord BlockHeader;
int32_t BlockStart = 0;
int32_t NextBlockStart = 0;
uint8_t LastRequestedType = 0;
uint32_t HeaderCrcAcc = 0;
uint8_t* ScanBuffer = nullptr;
TAbstractStream* ArchiveStream = nullptr;

bool (*RunBufferRefused)(size_t size) = nullptr;

uint32_t CrcTable[256];

namespace {

constexpr int32_t kMainFixed = 13;
constexpr int32_t kOldMainFixed = 7;
constexpr int32_t kFileFixed = 32;
constexpr int32_t kScanBufferSize = 0x20000;
// 16 bytes stay unread so that every look-ahead of the scan stays inside
// the (zero-filled) buffer.
constexpr int32_t kScanReadSize = 0x1FFF0;

const uint8_t kMarkTail[6] = {'a', 'r', '!', 0x1A, 0x07, 0x00};
const uint8_t kOldMark[4] = {'R', 'E', '~', '^'};

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

bool HeaderSound() {
    return ((~HeaderCrcAcc) & 0xFFFF) == FileHeader.HeadCrc;
}

// Reads the entry name (NameSize bytes, or what is left of the archive)
// and continues HeaderCrcAcc over it. Chunked so that names with NUL bytes
// survive and no large buffer is needed. False when the archive ends first.
bool ReadFileName() {
    FileHeader.FileName = AnsiString();
    uint8_t chunk[256];
    int32_t left = FileHeader.NameSize;
    while (left > 0) {
        int32_t want = left < static_cast<int32_t>(sizeof(chunk)) ? left : sizeof(chunk);
        int32_t got = ArchiveStream->Read(chunk, want);
        if (got <= 0) break;
        FileHeader.FileName.Append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(got));
        HeaderCrcAcc = UpdateCrc32(HeaderCrcAcc, chunk, got);
        left -= got;
    }
    return left == 0;
}

}  // namespace

void BuildCrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CrcTable[i] = c;
    }
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

// Asked of the processor itself (feature bit 1 of leaf 1's ecx): the
// compiler's own query brings a run-time library part several times the
// size of the folding code.
bool ProcessorHasCarrylessMultiply() {
    unsigned a, b, c, d;
    __asm__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(1), "c"(0));
    return (c & 2) != 0;
}

}  // namespace

bool CrcByFolding = ProcessorHasCarrylessMultiply();

namespace {

// The CRC-32 over whole 16-byte blocks by carry-less multiplication.
// The bytes are a polynomial, and the CRC its remainder modulo the
// generator: a 16-byte block F followed by n bytes leaves the same
// remainder as F times x^(8n), reduced, in their place, and two 64-bit
// multiplications give that product (the constants are x^k mod the
// generator, bit-reflected like the bytes and shifted up by one for the
// product's alignment). Four lanes fold 64 bytes ahead, then into one;
// what remains of the last 16 bytes is their table CRC.
constexpr uint64_t kAhead64[2] = {0x154442bd4, 0x1c6e41596};  // x^544, x^480
constexpr uint64_t kAhead16[2] = {0x1751997d0, 0x0ccaa009e};  // x^160, x^96

// Two 64-bit halves in an SSE register (the compiler's own vector type, so
// that no platform header is needed; passed by reference only, so that no
// calling convention depends on the processor's features).
typedef long long Halves __attribute__((vector_size(16)));

// x := x times x^(8 * distance) reduced, plus the block at next.
__attribute__((target("pclmul"), always_inline)) inline void FoldInto(Halves& x, const Halves& k,
                                                                      const uint8_t* next) {
    Halves block;
    std::memcpy(&block, next, sizeof(block));
    x = __builtin_ia32_pclmulqdq128(x, k, 0x00) ^ __builtin_ia32_pclmulqdq128(x, k, 0x11) ^ block;
}

// Takes count >= 64; returns the CRC after the whole blocks, which it
// counts in done. Realigns the stack: a 32-bit Windows thread's is aligned
// to 4 bytes only, and the vectors kept there need 16.
__attribute__((target("pclmul"), force_align_arg_pointer)) uint32_t FoldCrc32(uint32_t crc,
                                                                              const uint8_t* p,
                                                                              int32_t count,
                                                                              int32_t& done) {
    const Halves ahead64 = {static_cast<long long>(kAhead64[0]),
                            static_cast<long long>(kAhead64[1])};
    const Halves ahead16 = {static_cast<long long>(kAhead16[0]),
                            static_cast<long long>(kAhead16[1])};
    Halves x[4];
    std::memcpy(x, p, sizeof(x));
    x[0] ^= Halves{static_cast<long long>(crc), 0};
    int32_t at = 64;
    for (; count - at >= 64; at += 64) {
        for (int lane = 0; lane < 4; ++lane) FoldInto(x[lane], ahead64, p + at + 16 * lane);
    }
    Halves folded = x[0];
    for (int lane = 1; lane < 4; ++lane) {
        uint8_t next[16];
        std::memcpy(next, &x[lane], sizeof(next));
        FoldInto(folded, ahead16, next);
    }
    for (; count - at >= 16; at += 16) FoldInto(folded, ahead16, p + at);
    uint8_t last[16];
    std::memcpy(last, &folded, sizeof(last));
    done = at;
    uint32_t c = 0;
    for (uint8_t b : last) c = CrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
    return c;
}

}  // namespace
#else
bool CrcByFolding = false;
#endif

uint32_t UpdateCrc32(uint32_t crc, const void* data, int32_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
#if defined(__x86_64__) || defined(__i386__)
    if (CrcByFolding && count >= 64) {
        int32_t done = 0;
        crc = FoldCrc32(crc, p, count, done);
        p += done;
        count -= done;
    }
#endif
    // What folding leaves (and everything without it): a table step per
    // byte.
    for (int32_t i = 0; i < count; ++i) crc = CrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint16_t UpdateOldChecksum(uint16_t sum, const void* data, int32_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t s32 = sum;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t s = (s32 + p[i]) & 0xFFFF;
        s32 = ((s << 1) | (s >> 15)) & 0xFFFF;
    }
    return static_cast<uint16_t>(s32);
}

uint32_t UpdateChecksum(uint32_t start, const void* data, int32_t count, int32_t kind) {
    if (kind == 1) return UpdateOldChecksum(static_cast<uint16_t>(start), data, count);
    return UpdateCrc32(start, data, count);
}

uint8_t* TakeRunBuffer(size_t size) {
    if (RunBufferRefused != nullptr && RunBufferRefused(size)) return nullptr;
    return static_cast<uint8_t*>(std::calloc(size, 1));
}

int32_t ParseHeader(uint8_t type) {
    // Zero-filled, so that the fields of a short read are defined.
    uint8_t b[kFileFixed] = {};
    if (type == kMainHeadType) {
        if (ArchiveFormat == 1) {
            int32_t n = ArchiveStream->Read(b, kOldMainFixed);
            std::memcpy(OldMainHeader.Mark, b, 4);
            OldMainHeader.HeadSize = Get16(b + 4);
            OldMainHeader.HeadFlags = b[6];
            return n;
        }
        int32_t n = ArchiveStream->Read(b, kMainFixed);
        MainHeader.HeadCrc = Get16(b);
        MainHeader.HeadType = b[2];
        MainHeader.HeadFlags = Get16(b + 3);
        MainHeader.HeadSize = Get16(b + 5);
        MainHeader.Reserved1 = Get16(b + 7);
        MainHeader.Reserved2 = Get32(b + 9);
        HeaderCrcAcc = UpdateCrc32(0xFFFFFFFFu, b + 2, kMainFixed - 2);
        return n;
    }
    int32_t n = ArchiveStream->Read(b, kFileFixed);
    // A header cut short by the end of the archive counts as the end.
    if (n < kFileFixed) return 0;
    FileHeader.HeadCrc = Get16(b);
    FileHeader.HeadType = b[2];
    FileHeader.HeadFlags = Get16(b + 3);
    FileHeader.HeadSize = Get16(b + 5);
    FileHeader.PackSize = Get32(b + 7);
    FileHeader.UnpSize = Get32(b + 11);
    FileHeader.HostOs = b[15];
    FileHeader.FileCrc = Get32(b + 16);
    FileHeader.FileTime = Get32(b + 20);
    FileHeader.UnpVer = b[24];
    FileHeader.Method = b[25];
    FileHeader.NameSize = Get16(b + 26);
    FileHeader.FileAttr = Get32(b + 28);
    HeaderCrcAcc = UpdateCrc32(0xFFFFFFFFu, b + 2, kFileFixed - 2);
    return n;
}

void ResetReader() {
    ArchiveFormat = 0;
    MainHeader = MainHeaderRecord();
    OldMainHeader = OldMainHeaderRecord();
    MainFixedSize = 0;
    SolidArchive = false;
    FileHeader = FileHeaderRecord();
    BlockHeader = BlockHeaderRecord();
    BlockStart = 0;
    NextBlockStart = 0;
    LastRequestedType = 0;
    HeaderCrcAcc = 0;
    std::free(ScanBuffer);
    ScanBuffer = nullptr;
}

bool DetectArchive() {
    ArchiveFormat = 0;
    SolidArchive = false;
    BlockStart = 0;
    NextBlockStart = 0;
    uint8_t mark[7];
    if (ArchiveStream->Read(mark, 7) < 7) return false;

    if (std::memcmp(mark, kOldMark, 4) == 0) {
        ArchiveFormat = 1;
        ArchiveStream->Seek(0, kSeekStart);
        ParseHeader(kMainHeadType);
    } else if (IsMarkStart(mark[0]) && std::memcmp(mark + 1, kMarkTail, 6) == 0) {
        ArchiveFormat = 2;
        if (ParseHeader(kMainHeadType) != kMainFixed) return false;
    } else {
        ScanBuffer = TakeRunBuffer(kScanBufferSize);
        if (ScanBuffer == nullptr) return false;
        int32_t scanBase = ArchiveStream->Position();
        int32_t count = ArchiveStream->Read(ScanBuffer, kScanReadSize);
        const uint8_t* s = ScanBuffer;
        // Where the self-extractor tag "RSFX" of an old-format archive sits
        // in the buffer (stream positions 28..31).
        int32_t tag = 28 - scanBase;
        bool tagged = scanBase >= 0 && tag >= 0 && tag + 4 <= kScanBufferSize &&
                      std::memcmp(s + tag, "RSFX", 4) == 0;
        for (int32_t i = 0; ArchiveFormat == 0 && i < count; ++i) {
            if (!IsMarkStart(s[i])) continue;
            if (std::memcmp(s + i + 1, kOldMark + 1, 3) == 0 && tagged) {
                ArchiveFormat = 1;
                ArchiveStream->Seek(scanBase + i, kSeekStart);
                ParseHeader(kMainHeadType);
            } else if (std::memcmp(s + i + 1, kMarkTail, 6) == 0 && s[i + 9] == kMainHeadType) {
                ArchiveFormat = 2;
                ArchiveStream->Seek(scanBase + i, kSeekStart);
                ArchiveStream->Read(mark, 7);
                ParseHeader(kMainHeadType);
            }
        }
        std::free(ScanBuffer);
        ScanBuffer = nullptr;
        if (ArchiveFormat == 0) return false;
    }

    if (ArchiveFormat == 1) {
        MainFixedSize = kOldMainFixed;
        MainHeader.HeadFlags = OldMainHeader.HeadFlags & 0x3F;
        MainHeader.HeadSize = OldMainHeader.HeadSize;
    } else {
        MainFixedSize = kMainFixed;
        if (((~HeaderCrcAcc) & 0xFFFF) != MainHeader.HeadCrc) NotifyErrorText("Broken header");
    }
    SolidArchive = (MainHeader.HeadFlags & kFlagSolidArchive) != 0;
    return true;
}

void SeekOrEnd(int32_t position) {
    if (ArchiveStream->Seek(position, kSeekStart) != kSeekOk) ArchiveStream->Seek(0, kSeekEnd);
}

int32_t FindNextBlock(int32_t request) {
    // Old-format blocks are not read: such an archive has no entries here.
    if (ArchiveFormat != 2) return 0;
    FileHeaderRecord kept = FileHeader;
    bool wantSub = (request & kSubBlockSearch) != 0;
    uint8_t type = static_cast<uint8_t>(request & 0xFF);
    int32_t n;
    for (;;) {
        BlockStart = ArchiveStream->Position();
        n = ParseHeader(kFileHeadType);
        if (n != 0) {
            if (FileHeader.HeadSize < 7) return 0;
            // 32-bit wrap-around as the format's signed arithmetic has it,
            // computed unsigned so that it is defined.
            uint32_t next = static_cast<uint32_t>(BlockStart) + FileHeader.HeadSize;
            if (FileHeader.HeadFlags & kFlagHasData) next += FileHeader.PackSize;
            NextBlockStart = static_cast<int32_t>(next);
            if (NextBlockStart <= BlockStart) return 0;
        }
        if (n == 0 && ArchiveStream->Size() < NextBlockStart)
            NotifyErrorText("Unexpected end of file");
        if (n > 0 && type != kSubBlockType) LastRequestedType = type;
        if (n == 0 || type == 0 || FileHeader.HeadType == type ||
            (FileHeader.HeadType == kSubBlockType && wantSub && type == LastRequestedType))
            break;
        SeekOrEnd(NextBlockStart);
    }
    BlockHeader.HeadCrc = FileHeader.HeadCrc;
    BlockHeader.HeadType = FileHeader.HeadType;
    BlockHeader.HeadFlags = FileHeader.HeadFlags;
    BlockHeader.HeadSize = FileHeader.HeadSize;
    BlockHeader.DataSize = FileHeader.PackSize;
    if (n == 0) {
        FileHeader = kept;
        ArchiveStream->Seek(BlockStart, kSeekStart);
        return 0;
    }
    if (FileHeader.HeadType != type) return n;
    if (type == kFileHeadType) {
        // Damaged whatever its checksum says: a name that runs past the end
        // of the archive, and packed data that would begin before the end
        // of its own header (a header without the data flag leaves PackSize
        // out of NextBlockStart, so such data would overlap this or earlier
        // blocks and be decoded again).
        bool whole = ReadFileName();
        bool dataAfter = (FileHeader.HeadFlags & kFlagHasData) != 0 || FileHeader.PackSize == 0;
        if (!whole || !dataAfter || !HeaderSound()) {
            ExtractResult = kExtractBadFileHeader;
            return 0;
        }
        return n + FileHeader.NameSize;
    }
    return n;
}
