// The wizard pages' small text rules, kept free of system headers so that
// they can be checked on any machine.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/ansi_string.h"
#include "base/path_buffer.h"
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

// Bytes in one row of a 24-bit picture: 3 per pixel, padded to 4 as in a
// bitmap.
inline size_t PictureRowBytes(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

// Where target pixel i's centre lies among `from` source pixels, when
// `from` pixels are spread over `to`: in 1/256 pixel, kept on the source's
// pixel centres at both ends.
inline int32_t ScaledSourcePosition(int i, int from, int to) {
    int32_t position = (2 * i + 1) * from * 256 / (2 * to) - 128;
    if (position < 0) return 0;
    return position > (from - 1) * 256 ? (from - 1) * 256 : position;
}

// Draws a 24-bit picture at another size, smoothly: each target pixel
// blends the four source pixels around its centre (bilinear). Rows as
// PictureRowBytes says, in the same order in both.
inline void ScalePicture(const uint8_t* source, int sourceWidth, int sourceHeight, uint8_t* target,
                         int width, int height) {
    for (int y = 0; y < height; ++y) {
        int32_t sy = ScaledSourcePosition(y, sourceHeight, height);
        int32_t fy = sy & 255, y0 = sy >> 8, y1 = fy != 0 ? y0 + 1 : y0;
        const uint8_t* top = source + y0 * PictureRowBytes(sourceWidth);
        const uint8_t* bottom = source + y1 * PictureRowBytes(sourceWidth);
        uint8_t* out = target + y * PictureRowBytes(width);
        for (int x = 0; x < width; ++x) {
            int32_t sx = ScaledSourcePosition(x, sourceWidth, width);
            int32_t fx = sx & 255, x0 = 3 * (sx >> 8), x1 = fx != 0 ? x0 + 3 : x0;
            for (int c = 0; c < 3; ++c) {
                int32_t upper = top[x0 + c] * (256 - fx) + top[x1 + c] * fx;
                int32_t lower = bottom[x0 + c] * (256 - fx) + bottom[x1 + c] * fx;
                out[3 * x + c] =
                    static_cast<uint8_t>((upper * (256 - fy) + lower * fy + 32768) >> 16);
            }
        }
    }
}
