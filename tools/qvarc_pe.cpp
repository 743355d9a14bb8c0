#include "tools/qvarc_pe.h"

namespace {

// The program file's bytes; every read is checked against its size.
struct Image {
    const uint8_t* Bytes;
    size_t Size;

    bool Has(size_t offset, size_t count) const { return offset <= Size && count <= Size - offset; }
    uint32_t U16(size_t offset) const { return Bytes[offset] | Bytes[offset + 1] << 8; }
    uint32_t U32(size_t offset) const {
        return U16(offset) | static_cast<uint32_t>(U16(offset + 2)) << 16;
    }
};

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kArchiveId = 101;
constexpr size_t kDirectoryHead = 16;  // before a resource directory's entries
constexpr size_t kDirectoryEntry = 8;

struct Section {
    uint32_t Address, VirtualSize, RawOffset, RawSize;
};

// The resource directory: its bytes as a range of the file, with the
// address that its data entries count from.
struct Resources {
    Image File;
    size_t Start = 0;  // file offset of the resource directory
    size_t Size = 0;
    uint32_t Address = 0;  // its address in the loaded program
    const uint8_t* Sections = nullptr;
    uint32_t SectionCount = 0;

    // The file offset of count bytes at address, when a section holds
    // them in the file.
    bool FileOffset(uint32_t address, uint32_t count, size_t& offset) const {
        for (uint32_t i = 0; i < SectionCount; ++i) {
            const size_t at = static_cast<size_t>(Sections - File.Bytes) + i * 40;
            Section s = {File.U32(at + 12), File.U32(at + 8), File.U32(at + 20), File.U32(at + 16)};
            if (address < s.Address) continue;
            const uint64_t inside = address - s.Address;
            if (inside + count > s.RawSize || !File.Has(s.RawOffset, s.RawSize)) continue;
            offset = s.RawOffset + static_cast<size_t>(inside);
            return true;
        }
        return false;
    }

    // The entry of directory at dirOffset (relative to the resource
    // directory) whose name is the string name (when not null) or the id;
    // its OffsetToData, or false.
    bool Find(uint32_t dirOffset, const char* name, uint32_t id, uint32_t& target) const {
        if (!Inside(dirOffset, kDirectoryHead)) return false;
        const size_t dir = Start + dirOffset;
        const uint32_t named = File.U16(dir + 12), ids = File.U16(dir + 14);
        for (uint32_t i = 0; i < named + ids; ++i) {
            const uint64_t at = dirOffset + kDirectoryHead + uint64_t{i} * kDirectoryEntry;
            if (!Inside(at, kDirectoryEntry)) return false;
            const uint32_t key = File.U32(Start + at), data = File.U32(Start + at + 4);
            const bool match = (key & kHighBit) ? name != nullptr && NameIs(key & ~kHighBit, name)
                                                : name == nullptr && (id == 0 || key == id);
            if (match) {
                target = data;
                return true;
            }
        }
        return false;
    }

    bool Inside(uint64_t offset, uint64_t count) const {
        return offset <= Size && count <= Size - offset;
    }

    // The counted UTF-16 string at offset equals name, ASCII letters in
    // any case.
    bool NameIs(uint32_t offset, const char* name) const {
        if (!Inside(offset, 2)) return false;
        const uint32_t length = File.U16(Start + offset);
        if (!Inside(offset + 2, uint64_t{length} * 2)) return false;
        auto upper = [](uint32_t c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
        for (uint32_t i = 0; i < length; ++i) {
            if (name[i] == '\0') return false;
            const uint32_t c = File.U16(Start + offset + 2 + i * 2);
            if (upper(c) != upper(static_cast<unsigned char>(name[i]))) return false;
        }
        return name[length] == '\0';
    }
};

}  // namespace

bool FindEmbeddedArchive(const uint8_t* bytes, size_t size, ByteRange& archive) {
    const Image file = {bytes, size};
    if (!file.Has(0, 64) || file.U16(0) != 0x5A4D) return false;  // "MZ"
    const size_t pe = file.U32(0x3C);
    if (!file.Has(pe, 24) || file.U32(pe) != 0x00004550) return false;  // "PE\0\0"
    const uint32_t sectionCount = file.U16(pe + 6);
    const size_t optional = pe + 24, optionalSize = file.U16(pe + 20);
    if (!file.Has(optional, optionalSize) || optionalSize < 2) return false;
    // The data directories: after 96 bytes in a 32-bit program, 112 in a
    // 64-bit one; the resource directory is the third.
    const uint32_t magic = file.U16(optional);
    const size_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (directories == 0 || optionalSize < directories + 3 * 8) return false;
    if (file.U32(optional + directories - 4) < 3) return false;  // NumberOfRvaAndSizes
    Resources r;
    r.File = file;
    r.Address = file.U32(optional + directories + 16);
    const uint32_t resourceSize = file.U32(optional + directories + 20);
    const size_t sections = optional + optionalSize;
    if (!file.Has(sections, size_t{sectionCount} * 40)) return false;
    r.Sections = bytes + sections;
    r.SectionCount = sectionCount;
    if (resourceSize == 0 || !r.FileOffset(r.Address, resourceSize, r.Start)) return false;
    r.Size = resourceSize;

    // Type "ARC", then id 101, then the first language: a data entry.
    uint32_t type = 0, named = 0, language = 0;
    if (!r.Find(0, "ARC", 0, type) || !(type & kHighBit)) return false;
    if (!r.Find(type & ~kHighBit, nullptr, kArchiveId, named) || !(named & kHighBit)) return false;
    if (!r.Find(named & ~kHighBit, nullptr, 0, language) || (language & kHighBit)) return false;
    if (!r.Inside(language, 16)) return false;
    const uint32_t dataAddress = file.U32(r.Start + language);
    const uint32_t dataSize = file.U32(r.Start + language + 4);
    size_t offset = 0;
    if (!r.FileOffset(dataAddress, dataSize, offset)) return false;
    archive = {offset, dataSize};
    return true;
}
