// Writes the uninstaller's list of the product's files: each staged payload
// file with its size and CRC-32, read from the staged file exactly as the
// archive is packed from it, so that the uninstaller deletes only files the
// setup wrote and nobody changed since. The uninstaller itself (compared
// with the running program) and the help viewer's index files (which the
// setup never writes) go in by name only. The header is rewritten only when
// its text changes.
//
//   qv_payload_sums HEADER STAGE SAVER REMOVER NAME... [--plain NAME...]
//
// NAME is a staged file (STAGE/NAME), or REMOVER, which need not be there.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "archive/checksums.h"

namespace {

bool Sums(const std::string& path, uint32_t& size, uint32_t& crc) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > 0x7FFFFFFF) return false;
    size = static_cast<uint32_t>(bytes.size());
    crc = ~UpdateCrc32(0xFFFFFFFFu, bytes.data(), static_cast<int32_t>(bytes.size()));
    return true;
}

// A name as a C++ string literal's text; false for one that would need
// escapes (no payload name does).
bool Plain(const std::string& name) {
    for (char c : name)
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    return !name.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(
            stderr,
            "usage: qv_payload_sums HEADER STAGE SAVER REMOVER NAME... [--plain NAME...]\n");
        return 64;
    }
    std::string header = argv[1], stage = argv[2], saver = argv[3], remover = argv[4];
    BuildCrcTable();
    std::ostringstream out;
    out << "// Made by the build from the staged payload (tools/payload_sums.cpp): the\n"
           "// files the uninstaller may delete, each with the size and CRC-32 that it\n"
           "// was packed with. Do not edit.\n"
           "#pragma once\n\n"
           "#include \"payload/remove/removal.h\"\n\n"
           "inline constexpr ProductFile kProductFiles[] = {\n";
    bool plain = false;
    for (int i = 5; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--plain") {
            plain = true;
            continue;
        }
        if (!Plain(name)) {
            std::fprintf(stderr, "qv_payload_sums: unusable name \"%s\"\n", name.c_str());
            return 1;
        }
        out << "    {\"" << name << "\", ";
        uint32_t size = 0, crc = 0;
        if (plain) {
            out << "FileCheck::Plain, 0, 0},\n";
        } else if (name == remover) {
            out << "FileCheck::Program, 0, 0},\n";
        } else if (Sums(stage + "/" + name, size, crc)) {
            char sums[48];
            std::snprintf(sums, sizeof sums, "%uu, 0x%08xu},\n", size, crc);
            out << "FileCheck::Contents, " << sums;
        } else {
            std::fprintf(stderr, "qv_payload_sums: cannot read %s/%s\n", stage.c_str(),
                         name.c_str());
            return 1;
        }
    }
    out << "};\n"
           "inline constexpr size_t kProductFileCount = sizeof(kProductFiles) / "
           "sizeof(kProductFiles[0]);\n"
           "inline constexpr const char* kSaverFile = \""
        << saver << "\";\ninline constexpr const char* kRemoverFile = \"" << remover << "\";\n";
    std::ifstream old(header, std::ios::binary);
    std::string previous((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
    if (previous == out.str()) return 0;
    // Written beside and moved over it: never half a header.
    std::string temporary = header + ".tmp";
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file || std::rename(temporary.c_str(), header.c_str()) != 0) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "qv_payload_sums: cannot write %s\n", header.c_str());
        return 1;
    }
    return 0;
}
