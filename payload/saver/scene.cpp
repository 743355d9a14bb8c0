#include "payload/saver/scene.h"

namespace {

constexpr uint8_t kMagic[8] = {'Q', 'V', 'S', 'C', 'E', 'N', 'E', 'S'};
constexpr int kChunkHeaderSize = 16;
constexpr int kStarRecordSize = 8;
// Sky size assumed when the file has none (the fallback gradient).
constexpr int kDefaultSkyWidth = 512;
constexpr int kDefaultSkyHeight = 384;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16;
}

bool SameTag(const uint8_t* p, const char* tag) {
    for (int i = 0; i < 4; ++i)
        if (p[i] != static_cast<uint8_t>(tag[i])) return false;
    return true;
}

struct Rgb {
    int r, g, b;
};

uint32_t AddColour(uint32_t pixel, int r, int g, int b) {
    r += static_cast<int>(pixel >> 16 & 0xFF);
    g += static_cast<int>(pixel >> 8 & 0xFF);
    b += static_cast<int>(pixel & 0xFF);
    if (r > 255) r = 255;
    if (g > 255) g = 255;
    if (b > 255) b = 255;
    return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

// Everything the passes share: the frame, the sky and how one maps onto
// the other (nearest sample; the sky is stretched to the frame).
struct Canvas {
    uint32_t* pixels;
    int width, height;
    const SceneLayer* sky;  // null: no sky layer
    int skyWidth, skyHeight;
    uint16_t column[kMaxRenderWidth];  // sky column of each frame column

    int SkyRow(int y) const { return y * skyHeight / height; }
    // How much of the sky shows at a frame pixel, 0..255 (the hills hide it).
    int Visibility(int x, int y) const {
        if (sky == nullptr) return 255;
        return sky->data[(static_cast<size_t>(SkyRow(y)) * skyWidth + column[x]) * 4 + 3];
    }
};

void DrawSky(Canvas& c, uint32_t timeMs) {
    if (c.sky != nullptr) {
        for (int y = 0; y < c.height; ++y) {
            const uint8_t* row = c.sky->data + static_cast<size_t>(c.SkyRow(y)) * c.skyWidth * 4;
            uint32_t* out = c.pixels + static_cast<size_t>(y) * c.width;
            for (int x = 0; x < c.width; ++x) {
                const uint8_t* p = row + c.column[x] * 4;
                out[x] = static_cast<uint32_t>(p[2] << 16 | p[1] << 8 | p[0]);
            }
        }
        return;
    }
    // Without scene data: the evening gradient and a scattering of stars.
    for (int y = 0; y < c.height; ++y) {
        int t = y * 256 / c.height;
        uint32_t colour = static_cast<uint32_t>((6 + 20 * t / 256) << 16 | (9 + 45 * t / 256) << 8 |
                                                (30 + 68 * t / 256));
        uint32_t* out = c.pixels + static_cast<size_t>(y) * c.width;
        for (int x = 0; x < c.width; ++x) out[x] = colour;
    }
    for (uint32_t i = 0; i < 400; ++i) {
        uint32_t h = (i + 1) * 2654435761u;
        h ^= h >> 15;
        int x = static_cast<int>(h % static_cast<uint32_t>(c.width));
        int y = static_cast<int>((h >> 11) % static_cast<uint32_t>(c.height * 3 / 4 + 1));
        int level = 120 + SineStep(static_cast<int>((h >> 24) + timeMs / 50 * (1 + i % 5))) / 3;
        uint32_t& px = c.pixels[static_cast<size_t>(y) * c.width + x];
        px = AddColour(px, level, level, level);
    }
}

struct AuroraBand {
    int topPermille;     // where the texture's first row sits, in thousandths of the height
    int scrollMsPerPx;   // horizontal drift
    uint32_t timeShift;  // so that two bands never show the same frame
    int gain;            // 0..256
    Rgb low, high;       // colour at the lower edge and at the top
};

void DrawAurora(Canvas& c, const SceneLayer& aurora, const AuroraBand& band, uint32_t timeMs) {
    const int aw = aurora.width, ah = aurora.height;
    const uint32_t frameMs = 900;
    uint32_t t = timeMs + band.timeShift;
    int frame0 = static_cast<int>(t / frameMs % static_cast<uint32_t>(aurora.frames));
    int frame1 = (frame0 + 1) % aurora.frames;
    int mix = static_cast<int>(t % frameMs * 256 / frameMs);
    const uint8_t* f0 = aurora.data + static_cast<size_t>(frame0) * aw * ah;
    const uint8_t* f1 = aurora.data + static_cast<size_t>(frame1) * aw * ah;
    int scroll =
        static_cast<int>(t / static_cast<uint32_t>(band.scrollMsPerPx) % static_cast<uint32_t>(aw));
    // The whole curtain brightens and dims slowly.
    int gain = band.gain * (200 + SineStep(static_cast<int>(t / 160)) / 5) / 256;

    Rgb rowColour[kMaxAuroraRows];
    for (int ay = 0; ay < ah; ++ay) {
        int k = ay * 384 / ah;  // the lower two thirds keep the edge colour
        if (k > 256) k = 256;
        rowColour[ay] = {band.high.r + (band.low.r - band.high.r) * k / 256,
                         band.high.g + (band.low.g - band.high.g) * k / 256,
                         band.high.b + (band.low.b - band.high.b) * k / 256};
    }
    // The texture is drawn at the scale of the standard sky, whatever the
    // sky layer's own size.
    int yStart = band.topPermille * c.height / 1000;
    int yEnd = yStart + ah * c.height / kDefaultSkyHeight;
    if (yStart < 0) yStart = 0;
    if (yEnd > c.height) yEnd = c.height;
    for (int y = yStart; y < yEnd; ++y) {
        int ay = (y - yStart) * kDefaultSkyHeight / c.height;
        if (ay >= ah) continue;
        const uint8_t* r0 = f0 + static_cast<size_t>(ay) * aw;
        const uint8_t* r1 = f1 + static_cast<size_t>(ay) * aw;
        const Rgb colour = rowColour[ay];
        uint32_t* out = c.pixels + static_cast<size_t>(y) * c.width;
        for (int x = 0; x < c.width; ++x) {
            int ax = (x * aw / c.width + scroll) % aw;
            int level = (r0[ax] * (256 - mix) + r1[ax] * mix) >> 8;
            if (level == 0) continue;
            int k = level * gain / 256 * c.Visibility(x, y) / 255;
            out[x] = AddColour(out[x], colour.r * k / 255, colour.g * k / 255, colour.b * k / 255);
        }
    }
}

void DrawStars(Canvas& c, const SceneLayer& stars, uint32_t timeMs) {
    static const Rgb kTints[4] = {
        {255, 255, 255}, {200, 215, 255}, {255, 240, 200}, {230, 230, 255}};
    for (int i = 0; i < stars.width; ++i) {
        const uint8_t* s = stars.data + static_cast<size_t>(i) * kStarRecordSize;
        int x = U16(s) * c.width / c.skyWidth;
        int y = U16(s + 2) * c.height / c.skyHeight;
        if (x >= c.width || y >= c.height) continue;
        int step = s[5] + static_cast<int>(timeMs / 40 * s[6]);
        int level = s[4] * (200 + SineStep(step) * 55 / 255) / 255 * c.Visibility(x, y) / 255;
        const Rgb tint = kTints[s[7] & 3];
        uint32_t* row = c.pixels + static_cast<size_t>(y) * c.width;
        row[x] =
            AddColour(row[x], tint.r * level / 255, tint.g * level / 255, tint.b * level / 255);
        if (s[4] < 220) continue;
        // The brightest get a faint cross.
        int half = level / 3;
        if (x > 0) row[x - 1] = AddColour(row[x - 1], half, half, half);
        if (x + 1 < c.width) row[x + 1] = AddColour(row[x + 1], half, half, half);
        if (y > 0) row[x - c.width] = AddColour(row[x - c.width], half, half, half);
        if (y + 1 < c.height) row[x + c.width] = AddColour(row[x + c.width], half, half, half);
    }
}

void DrawMoon(Canvas& c, const SceneLayer& moon, uint32_t timeMs) {
    // A slow drift over about five minutes, scaled with the frame's height
    // on both axes so the moon stays round.
    int step = static_cast<int>(timeMs / 1200);
    int cx = (c.skyWidth * 72 / 100 + SineStep(step) * 24 / 255) * c.width / c.skyWidth;
    int cy = (c.skyHeight * 17 / 100 + SineStep(step + 64) * 8 / 255) * c.height / c.skyHeight;
    int size = moon.width * c.height / c.skyHeight;
    if (size < 1) size = 1;
    int left = cx - size / 2, top = cy - size / 2;
    for (int y = top < 0 ? 0 : top; y < top + size && y < c.height; ++y) {
        const uint8_t* srcRow =
            moon.data + static_cast<size_t>((y - top) * moon.height / size) * moon.width * 4;
        uint32_t* out = c.pixels + static_cast<size_t>(y) * c.width;
        for (int x = left < 0 ? 0 : left; x < left + size && x < c.width; ++x) {
            const uint8_t* s = srcRow + (x - left) * moon.width / size * 4;
            int a = s[3];
            if (a == 0) continue;
            int vis = c.Visibility(x, y);
            int d[3] = {static_cast<int>(out[x] & 0xFF), static_cast<int>(out[x] >> 8 & 0xFF),
                        static_cast<int>(out[x] >> 16 & 0xFF)};
            for (int k = 0; k < 3; ++k) {
                int v = d[k] + (s[k] - d[k] * a / 255) * vis / 255;
                d[k] = v < 0 ? 0 : v > 255 ? 255 : v;
            }
            out[x] = static_cast<uint32_t>(d[2] << 16 | d[1] << 8 | d[0]);
        }
    }
}

}  // namespace

int SineStep(int step) {
    int x = step & 255;
    int half = x & 127;
    int value = 4 * half * (128 - half) * 255 / (128 * 128);
    return x < 128 ? value : -value;
}

bool ParseScenes(const uint8_t* data, size_t size, Scenes& out) {
    out = Scenes();
    if (data == nullptr || size < 12) return false;
    for (int i = 0; i < 8; ++i)
        if (data[i] != kMagic[i]) return false;
    if (U16(data + 8) != 1) return false;
    int chunks = U16(data + 10);
    size_t at = 12;
    Scenes found;
    for (int i = 0; i < chunks; ++i) {
        if (size - at < static_cast<size_t>(kChunkHeaderSize)) return false;
        const uint8_t* h = data + at;
        int width = U16(h + 4), height = U16(h + 6), frames = U16(h + 8);
        size_t length = U32(h + 12);
        at += kChunkHeaderSize;
        if (length > size - at) return false;
        SceneLayer layer{data + at, width, height, frames};
        size_t area = static_cast<size_t>(width) * height;
        bool ok = width > 0 && height > 0 && frames > 0;
        if (SameTag(h, "SKY ")) {
            ok = ok && frames == 1 && length == area * 4;
            found.sky = layer;
        } else if (SameTag(h, "AURO")) {
            ok = ok && height <= kMaxAuroraRows && length == area * frames;
            found.aurora = layer;
        } else if (SameTag(h, "MOON")) {
            ok = ok && frames == 1 && length == area * 4;
            found.moon = layer;
        } else if (SameTag(h, "STAR")) {
            ok = ok && height == 1 && frames == 1 &&
                 length == static_cast<size_t>(width) * kStarRecordSize;
            found.stars = layer;
        }
        if (!ok) return false;
        at += length;
    }
    out = found;
    return true;
}

void RenderScene(const Scenes& scenes, uint32_t timeMs, uint32_t* pixels, int width, int height) {
    if (pixels == nullptr || width <= 0 || height <= 0 || width > kMaxRenderWidth) return;
    Canvas c;
    c.pixels = pixels;
    c.width = width;
    c.height = height;
    c.sky = scenes.sky.data != nullptr ? &scenes.sky : nullptr;
    c.skyWidth = c.sky ? scenes.sky.width : kDefaultSkyWidth;
    c.skyHeight = c.sky ? scenes.sky.height : kDefaultSkyHeight;
    for (int x = 0; x < width; ++x) c.column[x] = static_cast<uint16_t>(x * c.skyWidth / width);

    DrawSky(c, timeMs);
    if (scenes.aurora.data != nullptr) {
        // A faint violet curtain far behind, then the bright green one.
        DrawAurora(c, scenes.aurora, {62, 140, 5400, 110, {120, 90, 210}, {170, 90, 200}}, timeMs);
        DrawAurora(c, scenes.aurora, {135, 70, 0, 256, {80, 240, 150}, {120, 110, 230}}, timeMs);
    }
    if (scenes.stars.data != nullptr) DrawStars(c, scenes.stars, timeMs);
    if (scenes.moon.data != nullptr) DrawMoon(c, scenes.moon, timeMs);
}
