#include "pack/archive_writer.h"

#include <iterator>

namespace qvpack {

namespace {

void Append16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t HeaderCrc(const std::vector<uint8_t>& header) {
    return static_cast<uint16_t>(
        ::Crc32(header.data() + kHeadCrcCovers, header.size() - kHeadCrcCovers) & 0xFFFF);
}

void PutHeadCrc(std::vector<uint8_t>& header, uint16_t crc) {
    header[kAtHeadCrc] = static_cast<uint8_t>(crc);
    header[kAtHeadCrc + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

void ArchiveWriter::Raw(const std::vector<uint8_t>& bytes) {
    Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::Raw(const std::string& bytes) {
    Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::Signature(char first) {
    Bytes.push_back(static_cast<uint8_t>(first));
    Bytes.insert(Bytes.end(), std::begin(kMarkTail), std::end(kMarkTail));
}

void ArchiveWriter::MainHeader(uint16_t flags, const std::vector<uint8_t>& extra,
                               std::optional<uint16_t> headSize, std::optional<uint16_t> headCrc) {
    std::vector<uint8_t> h;
    Append16(h, 0);
    h.push_back(kMainHeadType);
    Append16(h, flags);
    Append16(h, headSize.value_or(static_cast<uint16_t>(kMainHeadFixed + extra.size())));
    Append16(h, 0);
    Append32(h, 0);
    // The checksum covers the fixed part only.
    PutHeadCrc(h, headCrc.value_or(HeaderCrc(h)));
    Raw(h);
    Raw(extra);
}

size_t ArchiveWriter::File(const FileEntry& e, const std::vector<uint8_t>& data) {
    size_t at = Bytes.size();
    std::vector<uint8_t> h;
    Append16(h, 0);
    h.push_back(kFileHeadType);
    Append16(h, e.HeadFlags);
    Append16(h, e.HeadSize.value_or(
                    static_cast<uint16_t>(kFileHeadFixed + e.Name.size() + e.Extra.size())));
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
    PutHeadCrc(h, e.HeadCrc.value_or(HeaderCrc(h)));
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
    if (data) flags |= kFlagHasData;
    std::vector<uint8_t> h;
    Append16(h, 0);
    h.push_back(type);
    Append16(h, flags);
    Append16(h, static_cast<uint16_t>(kBlockHeadFixed + (data ? 4 : 0) + extraHeader.size()));
    if (data) Append32(h, static_cast<uint32_t>(data->size()));
    h.insert(h.end(), extraHeader.begin(), extraHeader.end());
    PutHeadCrc(h, HeaderCrc(h));
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
