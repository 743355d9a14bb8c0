// The screen saver's picture: pre-rendered layers from "Scenes.dat" composed
// into one frame for a given time. Portable (no Windows headers), so the
// composition is tested on the host; the Windows part only shows the pixels.
#pragma once

#include <cstddef>
#include <cstdint>

// One layer of the scene file; data is null when the file lacks the layer.
// The bytes stay in the caller's buffer (nothing is copied).
struct SceneLayer {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int frames = 0;
};

// sky: BGRA, alpha = visibility of the sky (0 on the hills).
// aurora: one brightness byte per pixel, `frames` frames one after another.
// moon: BGRA with premultiplied alpha.
// stars: width = count; 8 bytes each: u16 x, u16 y, brightness, phase, speed, tint.
struct Scenes {
    SceneLayer sky, aurora, moon, stars;
};

// Largest aurora height the renderer's per-row colour table holds.
constexpr int kMaxAuroraRows = 512;
// Largest frame the renderer composes; the window stretches it.
constexpr int kMaxRenderWidth = 2048;

// Reads the chunk table of a scene file. False (and `out` emptied) when the
// header is wrong, a chunk runs past the end, or a layer's size does not match
// its dimensions. Unknown chunks are passed over.
bool ParseScenes(const uint8_t* data, size_t size, Scenes& out);

// Composes the frame at `timeMs` (milliseconds since the start) into `pixels`
// (0x00RRGGBB, top row first, `width` x `height`). Layers that are missing
// are left out; without a sky a plain night gradient with scattered stars is
// drawn instead.
void RenderScene(const Scenes& scenes, uint32_t timeMs, uint32_t* pixels, int width, int height);

// Sine over one turn of 256 steps, scaled to -255..255 (no floating point,
// so the pictures are the same on every build).
int SineStep(int step);
