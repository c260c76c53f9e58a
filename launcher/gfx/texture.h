// texture.h - images, filled rectangles and clipping on OpenGL 1.1 immediate mode.
//
// Index
//   ---- textures ----      loadTexture, drawTexture, buildMipChain, premultiply
//   ---- primitives ----    fillRect, setClip, scissorBox
// One unit = one logical pixel, origin top left, y down (set up by the frame loop).
// Main thread only (the GL context is current there).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Texture {
    uint32_t id = 0; // 0 = no image; drawing it does nothing
    int32_t width = 0;
    int32_t height = 0;
};

// ---- textures ----

// Loads "veri/" + name: RGBA8, premultiplied, full CPU-built mipmap chain, trilinear.
// On failure prints "gorsel yuklenemedi: <path>" to stderr and returns the zero Texture.
Texture loadTexture(const std::string& name);

void drawTexture(const Texture& tex, float x, float y, float w, float h, float opacity,
                 float s0 = 0, float t0 = 0, float s1 = 1, float t1 = 1);

// Pure helpers (no GL), exposed for tests.
void premultiplyAlpha(uint8_t* rgba, int width, int height);
struct MipLevel {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};
// Level 0 is the given image; each next level halves (min 1) with a rounded 2x2 box
// filter clamped at the edges; the last level is 1 x 1.
std::vector<MipLevel> buildMipChain(const uint8_t* rgba, int width, int height);

// ---- primitives ----

// Colour 0xRRGGBB; opacity runs linearly from `topOpacity` to `bottomOpacity`.
void fillRect(float x, float y, float w, float h, uint32_t color, float topOpacity, float bottomOpacity);

// Clip to a logical rectangle (replaces any previous clip); glDisable(GL_SCISSOR_TEST) ends it.
void setClip(float x, float y, float w, float h);
struct ScissorBox {
    int x, y, width, height;
};
// The framebuffer scissor box setClip uses, for a content scale and window height.
ScissorBox scissorBox(float x, float y, float w, float h, float contentScale, int windowHeight);
