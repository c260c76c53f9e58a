// texture.h - images, filled rectangles and clipping on OpenGL 1.1 immediate mode.
//
// Index
//   ---- textures ----      Mipmaps, loadTexture, createTexture, drawTexture,
//                           premultiplyAlpha, buildMipChain, DecodedImage, decodeImageFile,
//                           uploadImage
//   ---- background decoding ----  ImageFile, ImageBatch, startDecoding, waitForDecoding,
//                           takeDecoded, finishDecoding
//   ---- primitives ----    fillRect, setClip, endClip, scissorBox
//   ---- read-back ----     readFramebuffer, writePng, saveFramebufferPng
// One unit = one logical pixel, origin top left, y down (beginDrawing, frame.h).
// Everything that touches GL: main thread only, with the window's context current.
// The pure helpers (premultiplyAlpha, buildMipChain, scissorBox) need no GL and any
// thread may call them.
#pragma once

#include "gfx/frame.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// Plain value, copied freely. The GL texture lives until the process ends.
struct Texture {
    uint32_t id = 0;   // 0 = no image; drawing it does nothing
    int32_t width = 0; // pixels of the source image
    int32_t height = 0;
};

// ---- tunables ----
inline constexpr const char* kImageFolder = "veri/";

// ---- textures ----

// The levels an image is given. An image drawn smaller than its size somewhere needs the
// full chain (trilinear filtering). One only ever drawn at or above its size is sampled from
// level 0 alone either way, so it gets that one level and GL_LINEAR: the same pixels, a
// quarter less memory, no chain to build and cheaper sampling.
enum class Mipmaps : int32_t { Full, None };

// Loads kImageFolder + name (relative to the working folder): RGBA8, premultiplied, the
// levels `mipmaps` asks for (the full chain is built on the CPU), clamped edges.
// On any failure prints "gorsel yuklenemedi: <path>\n" to stderr and returns the zero
// Texture (id, width and height 0).
Texture loadTexture(const std::string& name, Mipmaps mipmaps = Mipmaps::Full);

// Uploads straight (not premultiplied) RGBA8 pixels the same way loadTexture does:
// premultiplied copy, the levels `mipmaps` asks for. The zero Texture when width or
// height < 1.
Texture createTexture(const uint8_t* rgba, int width, int height, Mipmaps mipmaps = Mipmaps::Full);

// The whole image stretched over `r`. Premultiplied blend (GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
// colour and alpha both scaled by `opacity`. Draws nothing for id 0. Leaves GL_TEXTURE_2D
// enabled.
void drawTexture(const Texture& tex, const Rect& r, float opacity = 1.0f);

// In place: r, g, b = channel x a / 255, truncating; a unchanged. Null or empty: nothing.
void premultiplyAlpha(uint8_t* rgba, int width, int height);

struct MipLevel {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};
// Level 0 is a copy of the given image; each next level is max(1, w / 2) x max(1, h / 2),
// a 2 x 2 box filter with (sum + 2) / 4 rounding, source rows and columns clamped at the
// edges; the last level is 1 x 1. Empty result when width or height < 1.
std::vector<MipLevel> buildMipChain(const uint8_t* rgba, int width, int height);

// Decoding (any thread, no GL) and uploading (GL thread) apart, so images can be decoded
// while the window is being created. The CPU copy is dropped with the DecodedImage.
struct DecodedImage {
    std::string path;             // what was read; "" for pixels given in memory
    std::vector<MipLevel> levels; // premultiplied; empty when the image could not be read
    Mipmaps mipmaps = Mipmaps::Full;
};
// Reads kImageFolder + name into premultiplied levels (the full chain, or level 0 alone);
// empty levels on failure.
DecodedImage decodeImageFile(const std::string& name, Mipmaps mipmaps = Mipmaps::Full);
// Uploads like loadTexture. An empty image gives the zero Texture and, when it came from a
// file, the "gorsel yuklenemedi" line.
Texture uploadImage(const DecodedImage& image);

// ---- background decoding ----

// One file of a batch: its name under kImageFolder and the levels it gets.
struct ImageFile {
    std::string name;
    Mipmaps mipmaps = Mipmaps::Full;
    bool operator==(const ImageFile&) const = default;
};

// Image files decoded on a background thread while the window is being created. The
// owner keeps it until the images are taken; its thread is joined before it goes.
struct ImageBatch {
    std::vector<ImageFile> files;     // what to decode
    std::vector<DecodedImage> images; // written by the worker, read after the join
    std::atomic<bool> busy{false};    // from start until the worker has decoded everything
    std::jthread worker;              // joined before `images` is touched, or at destruction
};

// Starts decoding `files` on a background thread. Main thread; nothing when one runs.
void startDecoding(ImageBatch& batch, std::vector<ImageFile> files);
// Returns once the decoding started above has finished (at once when none was started).
// Any thread: it only waits, it joins nothing and takes no result.
void waitForDecoding(const ImageBatch& batch);
// The decoded images of `files`, in order: the batch's when it decoded exactly those,
// else decoded here. The batch is emptied. Main thread.
std::vector<DecodedImage> takeDecoded(ImageBatch& batch, const std::vector<ImageFile>& files);
// Waits for the decoding and drops its results (a start-up that ends before the window
// exists). Main thread.
void finishDecoding(ImageBatch& batch);

// ---- primitives ----

// Colour 0xRRGGBB; opacity runs linearly from `topOpacity` at the top of `r` to
// `bottomOpacity` at its bottom. Straight-alpha blend (GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
// texturing off.
void fillRect(const Rect& r, uint32_t color, float topOpacity, float bottomOpacity);
inline void fillRect(const Rect& r, uint32_t color, float opacity) {
    fillRect(r, color, opacity, opacity);
}

// Clip to a logical rectangle of `frame`'s window (replaces any previous clip; there is no
// stack); endClip ends it.
void setClip(const FrameContext& frame, const Rect& r);
void endClip();

struct ScissorBox {
    int x = 0, y = 0, width = 0, height = 0; // framebuffer pixels, y from the bottom
};
// The framebuffer scissor box setClip uses for `r`, widened outward to whole pixels:
// x = floor(s x), y = floor((H - y - h) s), width = ceil(s w), height = ceil(s h).
ScissorBox scissorBox(const Rect& r, float contentScale, int windowHeight);

// ---- read-back ----

// The back buffer of the frame being drawn, width x height framebuffer pixels, RGBA with
// the top row first (GL's rows flipped). Empty when a size is below 1.
std::vector<uint8_t> readFramebuffer(int width, int height);
// RGBA pixels, top row first, as a PNG file. False when it cannot be written.
bool writePng(const std::string& path, const uint8_t* rgba, int width, int height);
// readFramebuffer written with writePng.
bool saveFramebufferPng(const std::string& path, int width, int height);
