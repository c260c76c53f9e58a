// texture.h - images, filled rectangles and clipping on OpenGL 1.1 immediate mode.
//
// Index
//   ---- textures ----      loadTexture, createTexture, drawTexture, premultiplyAlpha,
//                           buildMipChain, DecodedImage, decodeImageFile, uploadImage
//   ---- image set ----     LauncherImages, images, imageByName, startDecodingLauncherImages,
//                           waitForImageDecoding, loadLauncherImages
//   ---- primitives ----    fillRect, setClip, endClip, scissorBox
//   ---- read-back ----     readFramebuffer, writePng, saveFramebufferPng
// One unit = one logical pixel, origin top left, y down (set up by the frame loop).
// Everything that touches GL: main thread only, with the window's context current.
// The pure helpers (premultiplyAlpha, buildMipChain, scissorBox) need no GL and any
// thread may call them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

// Loads kImageFolder + name (relative to the working folder): RGBA8, premultiplied,
// full CPU-built mipmap chain, trilinear filtering, clamped edges.
// On any failure prints "gorsel yuklenemedi: <path>\n" to stderr and returns the zero
// Texture (id, width and height 0).
Texture loadTexture(const std::string& name);

// Uploads straight (not premultiplied) RGBA8 pixels the same way loadTexture does:
// premultiplied copy, full mipmap chain. The zero Texture when width or height < 1.
Texture createTexture(const uint8_t* rgba, int width, int height);

// Premultiplied blend (GL_ONE, GL_ONE_MINUS_SRC_ALPHA); colour and alpha both scaled by
// `opacity`. Draws nothing for id 0. Leaves GL_TEXTURE_2D enabled.
void drawTexture(const Texture& tex, float x, float y, float w, float h, float opacity, float s0 = 0,
                 float t0 = 0, float s1 = 1, float t1 = 1);

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
};
// Reads kImageFolder + name into a premultiplied mip chain; empty levels on failure.
DecodedImage decodeImageFile(const std::string& name);
// Uploads like loadTexture. An empty image gives the zero Texture and, when it came from a
// file, the "gorsel yuklenemedi" line.
Texture uploadImage(const DecodedImage& image);

// ---- image set ----

// The launcher's images, one Texture per file under veri/. Loaded once at start-up by
// loadLauncherImages (a missing file stays the zero Texture and draws nothing).
struct LauncherImages {
    Texture background;      // "arkaplan.jpg"
    Texture logo;            // "logo.png"
    Texture closeButton;     // "buton_kapat.png"
    Texture box;             // "kutu.png"
    Texture banner;          // "afis.jpg"
    Texture barFrame;        // "bar_cerceve.png"
    Texture barFill;         // "bar_dolgu.png"
    Texture fieldBackground; // "alan_yazi.png"
    Texture checkEmpty;      // "onay_bos.png"
    Texture checkFull;       // "onay_dolu.png"
    Texture closingImage;    // "kapanis.jpg", loaded by the closing screen itself
};
LauncherImages& images();

// The image loaded from `fileName` (for example "kutu.png", including the button skins'
// files); the zero Texture for a name that is not one of the launcher's images.
const Texture& imageByName(std::string_view fileName);

// Starts decoding the ten images above and the two button skins (main:
// "buton_ana_normal.png", "buton_ana_hover.png", "buton_ana_basili.png"; ordinary:
// "buton_normal.png", "buton_hover.png", "buton_basili.png") on a background thread.
// Main thread, before loadLauncherImages; optional.
void startDecodingLauncherImages();
// Waits for that decoding and drops its results (a start-up that ends before the window
// exists). Main thread.
void finishImageDecoding();
// Returns once the decoding started above has finished (at once when none was started).
// Any thread: it only waits, it joins nothing and takes no result.
void waitForImageDecoding();
// Uploads those images in start-up order (waiting for the decoding started above, or
// decoding them here when it was not started).
void loadLauncherImages();

// ---- primitives ----

// Colour 0xRRGGBB; opacity runs linearly from `topOpacity` at y to `bottomOpacity` at
// y + h. Straight-alpha blend (GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); texturing off.
void fillRect(float x, float y, float w, float h, uint32_t color, float topOpacity, float bottomOpacity);

// Clip to a logical rectangle (replaces any previous clip; there is no stack); endClip
// ends it. Uses the frame context's scale and window height.
void setClip(float x, float y, float w, float h);
void endClip();

struct ScissorBox {
    int x = 0, y = 0, width = 0, height = 0; // framebuffer pixels, y from the bottom
};
// The framebuffer scissor box setClip uses, widened outward to whole pixels:
// x = floor(s x), y = floor((H - y - h) s), width = ceil(s w), height = ceil(s h).
ScissorBox scissorBox(float x, float y, float w, float h, float contentScale, int windowHeight);

// ---- read-back ----

// The back buffer of the frame being drawn, width x height framebuffer pixels, RGBA with
// the top row first (GL's rows flipped). Empty when a size is below 1.
std::vector<uint8_t> readFramebuffer(int width, int height);
// RGBA pixels, top row first, as a PNG file. False when it cannot be written.
bool writePng(const std::string& path, const uint8_t* rgba, int width, int height);
// readFramebuffer written with writePng.
bool saveFramebufferPng(const std::string& path, int width, int height);
