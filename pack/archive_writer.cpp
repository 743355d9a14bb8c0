#include "pack/archive_writer.h"

namespace qvpack {

namespace {

void Append16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Low 16 bits of the inverted CRC-32 over the header from its type byte on.
uint16_t HeaderCrc(const std::vector<uint8_t>& header) {
    return static_cast<uint16_t>(Crc32(header.data() + 2, header.size() - 2) & 0xFFFF);
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
            table[i] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void ArchiveWriter::Raw(const std::vector<uint8_t>& bytes) {
    Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::Raw(const std::string& bytes) {
    Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::Signature(char first) {
    Raw(std::vector<uint8_t>{static_cast<uint8_t>(first), 'a', 'r', '!', 0x1A, 0x07, 0x00});
}

void ArchiveWriter::MainHeader(uint16_t flags, const std::vector<uint8_t>& extra,
                               std::optional<uint16_t> headSize, std::optional<uint16_t> headCrc) {
    std::vector<uint8_t> h;
    Append16(h, 0);
    h.push_back(0x73);
    Append16(h, flags);
    Append16(h, headSize.value_or(static_cast<uint16_t>(13 + extra.size())));
    Append16(h, 0);
    Append32(h, 0);
    // The checksum covers the fixed part only.
    uint16_t crc = headCrc.value_or(HeaderCrc(h));
    h[0] = static_cast<uint8_t>(crc);
    h[1] = static_cast<uint8_t>(crc >> 8);
    Raw(h);
    Raw(extra);
}

size_t ArchiveWriter::File(const FileEntry& e, const std::vector<uint8_t>& data) {
    size_t at = Bytes.size();
    std::vector<uint8_t> h;
    Append16(h, 0);
    h.push_back(0x74);
    Append16(h, e.HeadFlags);
    Append16(h, e.HeadSize.value_or(static_cast<uint16_t>(32 + e.Name.size() + e.Extra.size())));
    Append32(h, e.PackSize.value_or(static_cast<uint32_t>(data.size())));
    Append32(h, e.UnpSize);
    h.push_back(e.HostOs);
    Append32(h, e.FileCrc);
    Append32(h, e.FileTime);
    h.push_back(e.UnpVer);
    h.push_back(e.Method);
    Append16(h, e.NameSize.value_or(static_cast<uint16_t>(e.Name.size())));
    Append32(h, e.FileAttr);
    h.insert(h.end(), e.Name.begin(), e.Name.end());
    uint16_t crc = e.HeadCrc.value_or(HeaderCrc(h));
    h[0] = static_cast<uint8_t>(crc);
    h[1] = static_cast<uint8_t>(crc >> 8);
    Raw(h);
    Raw(e.Extra);
    Raw(data);
    return at;
}

size_t ArchiveWriter::Stored(const std::string& name, const std::vector<uint8_t>& data,
                             uint16_t flags) {
    FileEntry e;
    e.HeadFlags = flags;
    e.Name = name;
    e.UnpSize = static_cast<uint32_t>(data.size());
    e.FileCrc = Crc32(data);
    return File(e, data);
}

size_t ArchiveWriter::Packed(const std::string& name, const std::vector<uint8_t>& packed,
                             const std::vector<uint8_t>& content, uint16_t flags, uint8_t method) {
    FileEntry e;
    e.HeadFlags = flags;
    e.Name = name;
    e.Method = method;
    e.UnpSize = static_cast<uint32_t>(content.size());
    e.FileCrc = Crc32(content);
    return File(e, packed);
}

size_t ArchiveWriter::Block(uint8_t type, uint16_t flags, const std::vector<uint8_t>& extraHeader,
                            const std::optional<std::vector<uint8_t>>& data) {
    size_t at = Bytes.size();
    if (data) flags |= 0x8000;
    std::vector<uint8_t> h;
    Append16(h, 0);
    h.push_back(type);
    Append16(h, flags);
    Append16(h, static_cast<uint16_t>(7 + (data ? 4 : 0) + extraHeader.size()));
    if (data) Append32(h, static_cast<uint32_t>(data->size()));
    h.insert(h.end(), extraHeader.begin(), extraHeader.end());
    uint16_t crc = HeaderCrc(h);
    h[0] = static_cast<uint8_t>(crc);
    h[1] = static_cast<uint8_t>(crc >> 8);
    Raw(h);
    if (data) Raw(*data);
    return at;
}

void ArchiveWriter::Put16(size_t offset, uint16_t value) {
    Bytes.at(offset) = static_cast<uint8_t>(value);
    Bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

void ArchiveWriter::Put32(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) Bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace qvpack
