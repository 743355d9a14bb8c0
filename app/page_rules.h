// The wizard pages' small text rules, kept free of system headers so that
// they can be checked on any machine.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/ansi_string.h"
#include "archive/path_buffer.h"
#include "install/paths.h"

// A browsed folder loses one trailing separator (D:\ becomes D:) so that
// appending "\Quorvel" never doubles it.
inline AnsiString WithoutTrailingSeparator(const AnsiString& path) {
    if (!path.empty() && (path[path.size() - 1] == '\\' || path[path.size() - 1] == '/')) {
        return path.Substr(0, path.size() - 1);
    }
    return path;
}

// True and the text after "root\" when path lies inside root (letter case
// ignored, as the file system does).
inline bool TextBelowFolder(const AnsiString& path, const AnsiString& root, AnsiString& below) {
    if (root.empty() || path.size() <= root.size() + 1) return false;
    for (size_t i = 0; i < root.size(); ++i) {
        char a = path[i], b = root[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    if (path[root.size()] != '\\' && path[root.size()] != '/') return false;
    below = path.Substr(root.size() + 1, kPathBuffer);
    return true;
}

// The licence text as the rich-edit control pulls it: read in place from
// the program image, never copied as a whole.
struct LicenceSource {
    int loadedId = 0;  // 0: none loaded
    const uint8_t* text = nullptr;
    int32_t size = 0;
    int32_t position = 0;
};

// Copies the next piece of at most capacity bytes; 0 at the end.
inline int32_t ReadLicencePiece(LicenceSource& source, uint8_t* buffer, int32_t capacity) {
    if (source.text == nullptr || source.position >= source.size || capacity <= 0) return 0;
    int32_t count = source.size - source.position;
    if (capacity < count) count = capacity;
    std::memcpy(buffer, source.text + source.position, static_cast<size_t>(count));
    source.position += count;
    return count;
}
