// The two checksums of the system: CRC-32 (headers and current-format
// entries) and the old format's 16-bit sum. The reader, the driver and the
// archive writer share them.
#pragma once

#include <cstddef>
#include <cstdint>

// Written once by BuildCrcTable before the first run, read only after.
extern uint32_t CrcTable[256];

// Whether long runs take the CRC by carry-less multiplication: the
// processor has it (asked once at start-up); else the table steps serve.
extern const bool CrcByFolding;

void BuildCrcTable();
// One table step per byte, no inversion at either end.
uint32_t UpdateCrc32(uint32_t crc, const void* data, int32_t count);
// The same by the table steps alone, whatever the processor has: tests
// hold the two ways against each other.
uint32_t UpdateCrc32ByTable(uint32_t crc, const void* data, int32_t count);
uint16_t UpdateOldChecksum(uint16_t sum, const void* data, int32_t count);
// kind kChecksumOld: the 16-bit sum; any other kind: CRC-32.
uint32_t UpdateChecksum(uint32_t start, const void* data, int32_t count, int32_t kind);
// The standard CRC-32 of size bytes (inverted at both ends), continuing
// crc, a standard CRC-32 of the bytes before them. Builds CrcTable itself.
uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);
