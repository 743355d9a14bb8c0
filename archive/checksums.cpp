#include "archive/checksums.h"

#include <cstring>

#include "archive/block_format.h"

uint32_t CrcTable[256];

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

extern const bool CrcByFolding = ProcessorHasCarrylessMultiply();

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
extern const bool CrcByFolding = false;
#endif

namespace {

// A table step per byte.
uint32_t TableSteps(uint32_t crc, const uint8_t* p, int32_t count) {
    for (int32_t i = 0; i < count; ++i) crc = CrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace

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
    // What folding leaves, and everything without it.
    return TableSteps(crc, p, count);
}

uint32_t UpdateCrc32ByTable(uint32_t crc, const void* data, int32_t count) {
    return TableSteps(crc, static_cast<const uint8_t*>(data), count);
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
    if (kind == kChecksumOld) return UpdateOldChecksum(static_cast<uint16_t>(start), data, count);
    return UpdateCrc32(start, data, count);
}

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
    // The table's second entry is nonzero once it is built. (No guarded
    // static: its guard would bring the exception runtime into the setup,
    // which links this file.)
    if (CrcTable[1] == 0) BuildCrcTable();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
    // UpdateCrc32 counts in 32 bits.
    constexpr size_t kPiece = 0x40000000;
    for (; size > kPiece; size -= kPiece, p += kPiece) crc = UpdateCrc32(crc, p, kPiece);
    return ~UpdateCrc32(crc, p, static_cast<int32_t>(size));
}
