// texture.cpp - images, filled rectangles and clipping.
//
// Index
//   ---- pixel helpers ----   premultiplyAlpha, buildMipChain
//   ---- textures ----        createTexture, loadTexture, drawTexture
//   ---- background decoding ----
//   ---- primitives ----      fillRect, scissorBox, setClip, endClip
//   ---- read-back ----       readFramebuffer, writePng, saveFramebufferPng
#include "gfx/texture.h"

#include "gfx/palette.h"

#include <GL/gl.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

// ---- pixel helpers ----

void premultiplyAlpha(uint8_t* rgba, int width, int height) {
    if (!rgba || width < 1 || height < 1) return;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = rgba + i * 4;
        const unsigned a = p[3];
        p[0] = static_cast<uint8_t>(p[0] * a / 255);
        p[1] = static_cast<uint8_t>(p[1] * a / 255);
        p[2] = static_cast<uint8_t>(p[2] * a / 255);
    }
}

std::vector<MipLevel> buildMipChain(const uint8_t* rgba, int width, int height) {
    std::vector<MipLevel> chain;
    if (!rgba || width < 1 || height < 1) return chain;
    MipLevel level0;
    level0.width = width;
    level0.height = height;
    level0.rgba.assign(rgba, rgba + static_cast<size_t>(width) * height * 4);
    chain.push_back(std::move(level0));
    while (chain.back().width != 1 || chain.back().height != 1) {
        const MipLevel& cur = chain.back();
        const int w = cur.width, h = cur.height;
        MipLevel next;
        next.width = std::max(1, w / 2);
        next.height = std::max(1, h / 2);
        next.rgba.resize(static_cast<size_t>(next.width) * next.height * 4);
        for (int y = 0; y < next.height; ++y) {
            const int y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
            for (int x = 0; x < next.width; ++x) {
                const int x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
                const uint8_t* a = &cur.rgba[(static_cast<size_t>(y0) * w + x0) * 4];
                const uint8_t* b = &cur.rgba[(static_cast<size_t>(y0) * w + x1) * 4];
                const uint8_t* c = &cur.rgba[(static_cast<size_t>(y1) * w + x0) * 4];
                const uint8_t* d = &cur.rgba[(static_cast<size_t>(y1) * w + x1) * 4];
                uint8_t* out = &next.rgba[(static_cast<size_t>(y) * next.width + x) * 4];
                for (int ch = 0; ch < 4; ++ch)
                    out[ch] = static_cast<uint8_t>((a[ch] + b[ch] + c[ch] + d[ch] + 2) / 4);
            }
        }
        chain.push_back(std::move(next)); // `cur` is not used past this point
    }
    return chain;
}

// ---- textures ----

namespace {

// The levels `mipmaps` asks for, from premultiplied pixels: the chain, or a copy of them.
std::vector<MipLevel> levelsOf(const uint8_t* rgba, int width, int height, Mipmaps mipmaps) {
    if (mipmaps == Mipmaps::Full) return buildMipChain(rgba, width, height);
    std::vector<MipLevel> levels(1);
    levels[0].width = width;
    levels[0].height = height;
    levels[0].rgba.assign(rgba, rgba + static_cast<size_t>(width) * height * 4);
    return levels;
}

DecodedImage decodeImage(const uint8_t* rgba, int width, int height, Mipmaps mipmaps) {
    DecodedImage image;
    image.mipmaps = mipmaps;
    if (!rgba || width < 1 || height < 1) return image;
    std::vector<uint8_t> pixels(rgba, rgba + static_cast<size_t>(width) * height * 4);
    premultiplyAlpha(pixels.data(), width, height);
    image.levels = levelsOf(pixels.data(), width, height, mipmaps);
    return image;
}

} // namespace

DecodedImage decodeImageFile(const std::string& name, Mipmaps mipmaps) {
    const std::string path = std::string(kImageFolder) + name;
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &channels, 4);
    DecodedImage image;
    image.mipmaps = mipmaps;
    if (pixels && w > 0 && h > 0) {
        // The decoder's own buffer is premultiplied in place: level 0 is the only copy
        // made of it. A file without alpha (a JPEG, say) is opaque throughout, where
        // premultiplying changes nothing.
        const bool hasAlpha = channels == 2 || channels == 4;
        if (hasAlpha) premultiplyAlpha(pixels, w, h);
        image.levels = levelsOf(pixels, w, h, mipmaps);
    }
    stbi_image_free(pixels);
    image.path = path;
    return image;
}

Texture uploadImage(const DecodedImage& image) {
    Texture tex;
    GLuint id = 0;
    if (!image.levels.empty()) glGenTextures(1, &id);
    if (id == 0) {
        if (!image.path.empty()) std::fprintf(stderr, "gorsel yuklenemedi: %s\n", image.path.c_str());
        return tex;
    }
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Set before the first level goes up: the driver then sizes the texture's storage for
    // the one level or for the chain.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    image.mipmaps == Mipmaps::Full ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    for (size_t level = 0; level < image.levels.size(); ++level) {
        const MipLevel& m = image.levels[level];
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_RGBA, m.width, m.height, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, m.rgba.data());
    }
    tex.id = id;
    tex.width = image.levels[0].width;
    tex.height = image.levels[0].height;
    return tex;
}

Texture createTexture(const uint8_t* rgba, int width, int height, Mipmaps mipmaps) {
    return uploadImage(decodeImage(rgba, width, height, mipmaps));
}

Texture loadTexture(const std::string& name, Mipmaps mipmaps) {
    return uploadImage(decodeImageFile(name, mipmaps));
}

void drawTexture(const Texture& tex, const Rect& r, float opacity) {
    if (tex.id == 0) return;
    const float x = r.x, y = r.y, w = r.w, h = r.h;
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, tex.id);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_QUADS);
    // Inside the quad, like fillRect's colours and texture coordinates: every draw then
    // hands the driver one vertex layout (position, colour, texture coordinate), and
    // llvmpipe compiles its vertex and set-up code once instead of once per layout.
    glColor4f(opacity, opacity, opacity, opacity); // premultiplied: scale the texel as a whole
    glTexCoord2f(0, 0);
    glVertex2f(x, y);
    glTexCoord2f(1, 0);
    glVertex2f(x + w, y);
    glTexCoord2f(1, 1);
    glVertex2f(x + w, y + h);
    glTexCoord2f(0, 1);
    glVertex2f(x, y + h);
    glEnd();
}

// ---- background decoding ----

void startDecoding(ImageBatch& batch, std::vector<ImageFile> files) {
    if (batch.worker.joinable()) return;
    batch.files = std::move(files);
    batch.busy = true;
    batch.worker = std::jthread([&batch] {
        batch.images.clear();
        for (const ImageFile& file : batch.files)
            batch.images.push_back(decodeImageFile(file.name, file.mipmaps));
        batch.busy = false;
        batch.busy.notify_all();
    });
}

void waitForDecoding(const ImageBatch& batch) {
    batch.busy.wait(true);
}

std::vector<DecodedImage> takeDecoded(ImageBatch& batch, const std::vector<ImageFile>& files) {
    if (batch.worker.joinable()) batch.worker.join();
    std::vector<DecodedImage> images = std::move(batch.images);
    batch.images = {};
    if (batch.files != files || images.size() != files.size()) { // not decoded ahead: here
        images.clear();
        for (const ImageFile& file : files)
            images.push_back(decodeImageFile(file.name, file.mipmaps));
    }
    batch.files = {};
    return images;
}

void finishDecoding(ImageBatch& batch) {
    if (batch.worker.joinable()) batch.worker.join();
    batch.images = {};
}

// ---- primitives ----

void fillRect(const Rect& rect, uint32_t color, float topOpacity, float bottomOpacity) {
    const float x = rect.x, y = rect.y, w = rect.w, h = rect.h;
    const auto [r, g, b] = toRgbFloat(color);
    glDisable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0); // unused with texturing off; keeps the one vertex layout of drawTexture
    glColor4f(r, g, b, topOpacity);
    glVertex2f(x, y);
    glVertex2f(x + w, y);
    glColor4f(r, g, b, bottomOpacity);
    glVertex2f(x + w, y + h);
    glVertex2f(x, y + h);
    glEnd();
}

ScissorBox scissorBox(const Rect& r, float contentScale, int windowHeight) {
    const double s = contentScale;
    const float x = r.x, y = r.y, w = r.w, h = r.h;
    ScissorBox box;
    box.x = static_cast<int>(std::floor(s * x));
    box.y = static_cast<int>(std::floor((static_cast<double>(windowHeight) - y - h) * s));
    box.width = static_cast<int>(std::ceil(s * w));
    box.height = static_cast<int>(std::ceil(s * h));
    return box;
}

void setClip(const FrameContext& frame, const Rect& r) {
    const ScissorBox box = scissorBox(r, frame.contentScale, frame.windowHeight);
    glEnable(GL_SCISSOR_TEST);
    // A negative size is a GL error that would leave the old box in place; clip to nothing.
    glScissor(box.x, box.y, std::max(0, box.width), std::max(0, box.height));
}

void endClip() {
    glDisable(GL_SCISSOR_TEST);
}

// ---- read-back ----

std::vector<uint8_t> readFramebuffer(int width, int height) {
    std::vector<uint8_t> flipped;
    if (width < 1 || height < 1) return flipped;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    const size_t stride = static_cast<size_t>(width) * 4;
    flipped.resize(pixels.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(&flipped[static_cast<size_t>(y) * stride],
                    &pixels[static_cast<size_t>(height - 1 - y) * stride], stride);
    return flipped;
}

bool writePng(const std::string& path, const uint8_t* rgba, int width, int height) {
    if (!rgba || width < 1 || height < 1) return false;
    return stbi_write_png(path.c_str(), width, height, 4, rgba, width * 4) != 0;
}

bool saveFramebufferPng(const std::string& path, int width, int height) {
    const std::vector<uint8_t> pixels = readFramebuffer(width, height);
    return !pixels.empty() && writePng(path, pixels.data(), width, height);
}
