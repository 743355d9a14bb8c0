// Writes archives in the block format the setup reads: signature, main
// header, file headers with their header checksums, other blocks,
// sub-blocks, stored entries and caller-supplied packed data. Every field
// can be set, including wrong sizes and checksums, so that tests can build
// damaged archives on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/block_format.h"
#include "archive/checksums.h"

namespace qvpack {

// The standard CRC-32 of the reader (archive/checksums.h).
inline uint32_t Crc32(const std::vector<uint8_t>& data) {
    return ::Crc32(data.data(), data.size());
}

// One file header. Defaults give the usual look of a stored entry.
struct FileEntry {
    uint16_t HeadFlags = kFlagHasData;
    uint8_t HostOs = kHostWin32;
    uint32_t FileCrc = 0;
    uint32_t FileTime = 0x24810940;
    uint8_t UnpVer = kUnpVerNewest;
    uint8_t Method = kMethodStored;
    uint32_t FileAttr = kAttrArchive;
    uint32_t UnpSize = 0;
    std::string Name;
    // Bytes after the name that HeadSize covers (not read by the setup).
    std::vector<uint8_t> Extra;
    // Overrides of the computed values, for damaged headers.
    std::optional<uint32_t> PackSize;  // default: size of the data written after the header
    std::optional<uint16_t> HeadSize;  // default: 32 + name + extra
    std::optional<uint16_t> NameSize;  // default: name length
    std::optional<uint16_t> HeadCrc;   // default: the correct checksum
};

class ArchiveWriter {
public:
    std::vector<uint8_t> Bytes;

    // Arbitrary bytes (a leading program) before the signature.
    void Raw(const std::vector<uint8_t>& bytes);
    void Raw(const std::string& bytes);
    // 'R' or 'r' then "ar!" 1A 07 00.
    void Signature(char first = 'r');
    // Main header: HeadSize = 13 + extra.size() unless headSize is given.
    void MainHeader(uint16_t flags = 0, const std::vector<uint8_t>& extra = {},
                    std::optional<uint16_t> headSize = {}, std::optional<uint16_t> headCrc = {});
    // A file header followed by data (packed or stored bytes). Returns the
    // offset of the header in Bytes.
    size_t File(const FileEntry& entry, const std::vector<uint8_t>& data);
    // A stored entry (Method 0x30) with the data's CRC and sizes.
    size_t Stored(const std::string& name, const std::vector<uint8_t>& data,
                  uint16_t flags = kFlagHasData);
    // A packed entry: the caller's packed stream for content of the given
    // unpacked bytes (used for UnpSize and FileCrc).
    size_t Packed(const std::string& name, const std::vector<uint8_t>& packed,
                  const std::vector<uint8_t>& content, uint16_t flags = kFlagHasData,
                  uint8_t method = kMethodNormal);
    // Any other block: 7 header bytes, then the 32-bit data size when data
    // is given (flag 0x8000 is added), then extra header bytes, then data.
    size_t Block(uint8_t type, uint16_t flags, const std::vector<uint8_t>& extraHeader,
                 const std::optional<std::vector<uint8_t>>& data = {});

    // Patches a 16/32-bit little-endian field at an absolute offset.
    void Put16(size_t offset, uint16_t value);
    void Put32(size_t offset, uint32_t value);
};

// The signature of a solid-flag-free archive plus main header: 20 bytes.
constexpr size_t kArchivePrologue = kMarkSize + kMainHeadFixed;

}  // namespace qvpack
