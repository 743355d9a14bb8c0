// The screen saver's scene data and its composition: the committed
// Scenes.dat, the parser's bounds checks, and what each layer does to the
// frame (sky copied, aurora added and hidden by the hills, moon blended,
// stars twinkling).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "payload/saver/scene.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put16(Bytes& b, int v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void AddChunk(Bytes& file, const char* tag, int w, int h, int frames, const Bytes& data) {
    file.insert(file.end(), tag, tag + 4);
    Put16(file, w);
    Put16(file, h);
    Put16(file, frames);
    Put16(file, 0);
    Put16(file, static_cast<int>(data.size() & 0xFFFF));
    Put16(file, static_cast<int>(data.size() >> 16));
    file.insert(file.end(), data.begin(), data.end());
}

Bytes Header(int chunks) {
    Bytes file = {'Q', 'V', 'S', 'C', 'E', 'N', 'E', 'S'};
    Put16(file, 1);
    Put16(file, chunks);
    return file;
}

// A sky of w x h: uniform colour; the lower `hillRows` rows are hills.
Bytes Sky(int w, int h, int hillRows, uint8_t r, uint8_t g, uint8_t b) {
    Bytes sky;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            sky.insert(sky.end(), {b, g, r, uint8_t(y < h - hillRows ? 255 : 0)});
    return sky;
}

uint32_t Rgb(int r, int g, int b) {
    return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

// ------------------------------------------------------------ the shipped data

TEST(SceneData, CommittedFileHasEveryLayer) {
    Bytes file = ReadFile(fs::path(QV_SOURCE_DIR) / "payload" / "Scenes.dat");
    Scenes s;
    ASSERT_TRUE(ParseScenes(file.data(), file.size(), s));
    EXPECT_EQ(s.sky.width, 512);
    EXPECT_EQ(s.sky.height, 384);
    EXPECT_GE(s.aurora.frames, 2);
    EXPECT_LE(s.aurora.height, kMaxAuroraRows);
    EXPECT_GT(s.moon.width, 0);
    EXPECT_GT(s.stars.width, 100);
    // The hills hide the sky at the bottom, the top is open sky.
    EXPECT_EQ(s.sky.data[3], 255);
    EXPECT_EQ(s.sky.data[(static_cast<size_t>(s.sky.height) * s.sky.width - 1) * 4 + 3], 0);
    // The payload is what fills the setup's progress bar: keep it near its size.
    EXPECT_GT(file.size(), 1300000u);
    EXPECT_LT(file.size(), 1600000u);
}

TEST(SceneData, ReproducedByItsScript) {
    if (std::system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    fs::path out = fs::temp_directory_path() / ("qv-scenes-" + std::to_string(getpid()) + ".dat");
    std::string command = "python3 '" + std::string(QV_SOURCE_DIR) + "/scripts/make-scenes.py' '" +
                          out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(ReadFile(out) == ReadFile(fs::path(QV_SOURCE_DIR) / "payload" / "Scenes.dat"))
        << "payload/Scenes.dat is stale";
    fs::remove(out);
}

// ------------------------------------------------------------ parser

TEST(SceneParser, RejectsBadHeadersAndEveryTruncation) {
    Bytes file = Header(2);
    AddChunk(file, "SKY ", 4, 3, 1, Sky(4, 3, 1, 10, 20, 30));
    AddChunk(file, "STAR", 2, 1, 1, Bytes(16, 7));
    Scenes s;
    ASSERT_TRUE(ParseScenes(file.data(), file.size(), s));
    EXPECT_EQ(s.stars.width, 2);
    // Every cut inside the file fails and leaves nothing behind.
    for (size_t cut = 0; cut < file.size(); ++cut) {
        Bytes part(file.begin(), file.begin() + static_cast<long>(cut));
        EXPECT_FALSE(ParseScenes(part.data(), part.size(), s)) << "cut at " << cut;
        EXPECT_EQ(s.sky.data, nullptr);
    }
    Bytes wrongMagic = file;
    wrongMagic[0] = 'X';
    EXPECT_FALSE(ParseScenes(wrongMagic.data(), wrongMagic.size(), s));
    Bytes wrongVersion = file;
    wrongVersion[8] = 2;
    EXPECT_FALSE(ParseScenes(wrongVersion.data(), wrongVersion.size(), s));
    EXPECT_FALSE(ParseScenes(nullptr, 0, s));
}

TEST(SceneParser, LayerSizesMustMatchTheirDimensions) {
    struct Case {
        const char* tag;
        int w, h, frames;
        size_t bytes;
        bool ok;
    } cases[] = {
        {"SKY ", 4, 3, 1, 48, true},  {"SKY ", 4, 3, 1, 47, false},
        {"SKY ", 4, 3, 2, 96, false}, {"AURO", 4, 2, 3, 24, true},
        {"AURO", 4, 2, 3, 16, false}, {"AURO", 4, 600, 1, 2400, false},
        {"MOON", 2, 2, 1, 16, true},  {"MOON", 0, 2, 1, 0, false},
        {"STAR", 3, 1, 1, 24, true},  {"STAR", 3, 2, 1, 48, false},
        {"XTRA", 1, 1, 1, 5, true},
    };
    for (const Case& c : cases) {
        Bytes file = Header(1);
        AddChunk(file, c.tag, c.w, c.h, c.frames, Bytes(c.bytes, 1));
        Scenes s;
        EXPECT_EQ(ParseScenes(file.data(), file.size(), s), c.ok)
            << c.tag << " " << c.w << "x" << c.h << "x" << c.frames << " " << c.bytes;
    }
}

// ------------------------------------------------------------ composition

TEST(SceneRender, SkyIsStretchedAndAuroraStaysBehindTheHills) {
    // 4 x 4 sky, the last row is hill; a bright aurora, tall enough to
    // cover the upper part of the frame at the standard sky's scale.
    Bytes sky = Sky(4, 4, 1, 10, 20, 30);
    sky[(0 * 4 + 1) * 4 + 2] = 200;  // one red pixel at (1, 0)
    Bytes file = Header(2);
    AddChunk(file, "SKY ", 4, 4, 1, sky);
    AddChunk(file, "AURO", 4, 400, 1, Bytes(1600, 255));
    Scenes s;
    ASSERT_TRUE(ParseScenes(file.data(), file.size(), s));

    Scenes skyOnly = s;
    skyOnly.aurora = SceneLayer();
    std::vector<uint32_t> plain(8 * 8), lit(8 * 8);
    RenderScene(skyOnly, 0, plain.data(), 8, 8);
    EXPECT_EQ(plain[0], Rgb(10, 20, 30));
    EXPECT_EQ(plain[2], Rgb(200, 20, 30)) << "sky pixel (1, 0) covers frame columns 2 and 3";
    EXPECT_EQ(plain[3], Rgb(200, 20, 30));
    EXPECT_EQ(plain[8 + 2], Rgb(200, 20, 30)) << "and frame rows 0 and 1";
    EXPECT_EQ(plain[63], Rgb(10, 20, 30));

    RenderScene(s, 0, lit.data(), 8, 8);
    int brighter = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            uint32_t a = plain[y * 8 + x], b = lit[y * 8 + x];
            for (int shift = 0; shift <= 16; shift += 8)
                EXPECT_GE(b >> shift & 0xFF, a >> shift & 0xFF) << "light is only added";
            if (y >= 6) {
                EXPECT_EQ(b, a) << "hill at " << x << "," << y;
            }
            if (b != a) ++brighter;
        }
    }
    EXPECT_GT(brighter, 0) << "the aurora shows over the open sky";
}

TEST(SceneRender, AuroraAnimatesAndLoops) {
    // Two frames that differ: the picture changes with time and the change
    // repeats after the whole loop.
    Bytes aurora(2 * 32 * 8, 0);
    for (size_t i = 0; i < 32 * 8; i += 3) aurora[i] = 250;
    Bytes file = Header(2);
    AddChunk(file, "SKY ", 32, 32, 1, Sky(32, 32, 0, 0, 0, 0));
    AddChunk(file, "AURO", 32, 8, 2, aurora);
    Scenes s;
    ASSERT_TRUE(ParseScenes(file.data(), file.size(), s));
    std::vector<uint32_t> a(64 * 64), b(64 * 64);
    RenderScene(s, 1000, a.data(), 64, 64);
    RenderScene(s, 1450, b.data(), 64, 64);
    EXPECT_NE(a, b);
    RenderScene(s, 1000, b.data(), 64, 64);
    EXPECT_EQ(a, b) << "the same time gives the same picture";
}

TEST(SceneRender, MoonCoversTheSkyAndStarsTwinkle) {
    // An opaque white moon (premultiplied, alpha 255) over a black sky.
    Bytes file = Header(3);
    AddChunk(file, "SKY ", 64, 48, 1, Sky(64, 48, 0, 0, 0, 0));
    AddChunk(file, "MOON", 8, 8, 1, Bytes(8 * 8 * 4, 255));
    Bytes star = {10, 0, 40, 0, 255, 0, 7, 0};  // at (10, 40), brightest, fast
    AddChunk(file, "STAR", 1, 1, 1, star);
    Scenes s;
    ASSERT_TRUE(ParseScenes(file.data(), file.size(), s));
    std::vector<uint32_t> f(64 * 48);
    RenderScene(s, 0, f.data(), 64, 48);
    int white = 0;
    for (uint32_t p : f) white += p == Rgb(255, 255, 255);
    EXPECT_EQ(white, 8 * 8) << "the moon, at its own size";
    // The moon sits in the upper right part of the sky.
    for (int y = 24; y < 48; ++y)
        for (int x = 0; x < 32; ++x)
            if (x < 9 || x > 11 || y < 39 || y > 41) {
                EXPECT_EQ(f[y * 64 + x], 0u) << x << "," << y;
            }
    uint32_t low = 0xFF, high = 0;
    for (uint32_t t = 0; t < 2000; t += 40) {
        RenderScene(s, t, f.data(), 64, 48);
        uint32_t level = f[40 * 64 + 10] & 0xFF;
        low = level < low ? level : low;
        high = level > high ? level : high;
        EXPECT_GT(f[40 * 64 + 11] & 0xFF, 0u) << "bright stars get a cross";
    }
    EXPECT_GT(high, low + 60) << "the star twinkles";
}

TEST(SceneRender, WithoutDataASkyIsStillDrawn) {
    std::vector<uint32_t> f(320 * 240, 0xDEADBEEF);
    RenderScene(Scenes(), 0, f.data(), 320, 240);
    EXPECT_NE(f[0], 0xDEADBEEFu);
    // Darker at the top than near the horizon, and some stars.
    EXPECT_LT(f[0] & 0xFF, f[239 * 320] & 0xFF);
    int stars = 0;
    for (uint32_t p : f) stars += (p >> 16 & 0xFF) > 80;
    EXPECT_GT(stars, 100);
    // Frames wider than the renderer handles are refused, not overrun.
    std::vector<uint32_t> wide(4, 7);
    RenderScene(Scenes(), 0, wide.data(), kMaxRenderWidth + 1, 1);
    EXPECT_EQ(wide[0], 7u);
}

TEST(SceneRender, SineStepTurn) {
    EXPECT_EQ(SineStep(0), 0);
    EXPECT_EQ(SineStep(64), 255);
    EXPECT_EQ(SineStep(192), -255);
    EXPECT_EQ(SineStep(256 + 64), 255);
    for (int i = 0; i < 128; ++i) EXPECT_EQ(SineStep(i), -SineStep(i + 128)) << i;
}

}  // namespace
