// Writes one frame of the screen saver, as the saver composes it, to a
// 24-bit BMP file: the README's picture of it.
//   qv_saver_frame SCENES TIME_MS WIDTH HEIGHT OUT.bmp
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "payload/saver/scene.h"

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fputs("usage: qv_saver_frame SCENES TIME_MS WIDTH HEIGHT OUT.bmp\n", stderr);
        return 64;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    Scenes scenes;
    if (!ParseScenes(file.data(), file.size(), scenes)) {
        std::fprintf(stderr, "%s: not a scene file\n", argv[1]);
        return 1;
    }
    const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    if (width < 1 || width > kMaxRenderWidth || height < 1 || height > 4096) return 64;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    RenderScene(scenes, static_cast<uint32_t>(std::atol(argv[2])), pixels.data(), width, height);

    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    std::vector<uint8_t> bmp = {'B', 'M'};
    Put32(bmp, 54 + rowBytes * height);
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, width);
    Put32(bmp, height);
    Put32(bmp, 1 | (24 << 16));  // planes, bits per pixel
    for (int i = 0; i < 6; ++i) Put32(bmp, 0);
    for (int y = height - 1; y >= 0; --y) {  // bottom row first
        for (int x = 0; x < width; ++x) {
            uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            bmp.insert(bmp.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8),
                                   static_cast<uint8_t>(p >> 16)});
        }
        bmp.resize(bmp.size() + rowBytes - width * 3);
    }
    std::ofstream out(argv[5], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    return out ? 0 : 1;
}
