// A setup program in miniature: a 32-bit Windows program file whose
// resources hold an archive as "ARC" 101, for the tests and seeds of
// qvarc's reading of setup programs.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qvtest {

// A 32-bit Windows program whose one section holds the resource "ARC" 101
// with archive, after a decoy archive that a scan for the signature would
// find first. size overrides the resource's size when not 0.
inline std::vector<uint8_t> SetupProgram(const std::vector<uint8_t>& archive,
                                         const std::vector<uint8_t>& decoy, uint32_t size = 0) {
    std::vector<uint8_t> f(0x200, 0);
    auto put16 = [&f](size_t at, uint32_t v) {
        f[at] = static_cast<uint8_t>(v);
        f[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    f[0] = 'M';
    f[1] = 'Z';
    put32(0x3C, 0x40);
    std::memcpy(&f[0x40], "PE\0\0", 4);
    put16(0x44, 0x14C);  // i386
    put16(0x46, 1);      // one section
    put16(0x54, 224);    // the optional header's size
    const size_t opt = 0x58;
    put16(opt, 0x10B);
    put32(opt + 92, 16);  // data directories
    f.insert(f.end(), decoy.begin(), decoy.end());
    f.resize((f.size() + 0x1FF) & ~size_t{0x1FF});
    const size_t raw = f.size();
    // The resource tree: type "ARC", id 101, language 0x409, data entry,
    // the type's name, the data.
    std::vector<uint8_t> r(0x60, 0);
    auto rput32 = [&r](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    r[12] = 1;  // one named entry
    rput32(16, 0x80000058);
    rput32(20, 0x80000018);
    r[0x18 + 14] = 1;  // one id entry
    rput32(0x18 + 16, 101);
    rput32(0x18 + 20, 0x80000030);
    r[0x30 + 14] = 1;
    rput32(0x30 + 16, 0x409);
    rput32(0x30 + 20, 0x48);
    rput32(0x48, 0x1000 + 0x60);
    rput32(0x48 + 4, size != 0 ? size : static_cast<uint32_t>(archive.size()));
    const char name[] = {3, 0, 'A', 0, 'R', 0, 'C', 0};
    std::memcpy(&r[0x58], name, 8);
    r.insert(r.end(), archive.begin(), archive.end());
    put32(opt + 96 + 16, 0x1000);
    put32(opt + 96 + 20, static_cast<uint32_t>(r.size()));
    const size_t section = opt + 224;
    std::memcpy(&f[section], ".rsrc", 5);
    put32(section + 8, static_cast<uint32_t>(r.size()));
    put32(section + 12, 0x1000);
    put32(section + 16, static_cast<uint32_t>(r.size()));
    put32(section + 20, static_cast<uint32_t>(raw));
    f.insert(f.end(), r.begin(), r.end());
    return f;
}

}  // namespace qvtest
