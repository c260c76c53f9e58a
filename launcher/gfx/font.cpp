// font.cpp - glyph atlases and text.
//
// Index
//   ---- faces ----              FontFace, loadFontFaces, glyphSet
//   ---- atlas cache ----        fontCacheKey, getFont, clearFontCache
//   ---- measuring ----          textWidth, breakParagraph, nearest
//   ---- drawing ----            drawGlyphRun, drawText, drawTextInBox, drawParagraph
#include "gfx/font.h"

#include "gfx/frame.h"
#include "gfx/palette.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <cmath>
#include <map>
#include <thread>

// ---- faces ----

namespace {

struct FontFace {
    std::string bytes; // the whole file; the font information points into it
    stbtt_fontinfo info{};
    bool ready = false;
};

FontFace gFaces[2];

// Atlases rasterised ahead on a background thread (prepareFontAtlases).
struct PreparedAtlas {
    uint32_t key = 0;
    FontAtlas atlas;
    std::vector<unsigned char> bitmap;
};
struct Preparation {
    float contentScale = 0;
    std::vector<PreparedAtlas> atlases; // written by the worker, read after the join
    std::jthread worker;                // joined before `atlases` is touched, or at exit
};
Preparation gPrepared;

FontFace& faceFor(FontFamily family) {
    return gFaces[family == FontFamily::Display ? 0 : 1];
}

uint32_t bigEndian(std::string_view b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// stb_truetype trusts the file it is given; a cut or foreign file would make it read past
// the end of the buffer. Checked here: the first font's table directory and every table
// it lists lie inside the file.
bool fontLooksWhole(std::string_view b) {
    size_t base = 0;
    if (b.size() >= 16 && bigEndian(b, 0, 4) == 0x74746366) // 'ttcf': a collection, use font 0
        base = bigEndian(b, 12, 4);
    if (base > b.size() || b.size() - base < 12) return false;
    const uint32_t version = bigEndian(b, base, 4);
    if (version != 0x00010000 && version != 0x74727565 && version != 0x4F54544F)
        return false; // 1.0, 'true', 'OTTO'
    const size_t tables = bigEndian(b, base + 4, 2);
    if (tables == 0 || base + 12 + 16 * tables > b.size()) return false;
    for (size_t t = 0; t < tables; ++t) {
        const size_t record = base + 12 + 16 * t;
        const uint64_t offset = bigEndian(b, record + 8, 4), length = bigEndian(b, record + 12, 4);
        if (offset + length > b.size()) return false;
    }
    return true;
}

const std::vector<int>& glyphSetInts() {
    static const std::vector<int> set = [] {
        std::vector<int> v;
        for (const uint32_t c : glyphSet())
            v.push_back(static_cast<int>(c));
        return v;
    }();
    return set;
}

} // namespace

bool loadFontFaces() {
    if (gPrepared.worker.joinable()) gPrepared.worker.join(); // it reads the faces
    std::string display, body;
    if (!platform::readWholeFile(kDisplayFontPath, display) || display.empty() ||
        !platform::readWholeFile(kBodyFontPath, body) || body.empty())
        return false;
    if (!fontLooksWhole(display) || !fontLooksWhole(body)) return false;
    gFaces[0].bytes = std::move(display);
    gFaces[1].bytes = std::move(body);
    for (FontFace& face : gFaces) {
        const auto* data = reinterpret_cast<const unsigned char*>(face.bytes.data());
        // A file that is not a font leaves the face unusable: its atlases stay empty.
        const int offset = stbtt_GetFontOffsetForIndex(data, 0);
        face.ready = offset >= 0 && stbtt_InitFont(&face.info, data, offset) != 0;
    }
    return true;
}

const std::vector<uint32_t>& glyphSet() {
    static const std::vector<uint32_t> set = [] {
        std::vector<uint32_t> v;
        for (uint32_t c = 0x20; c <= 0x7E; ++c)
            v.push_back(c);
        for (uint32_t c = 0xA0; c <= 0xFF; ++c)
            v.push_back(c);
        for (uint32_t c : {0x011Eu, 0x011Fu, 0x0130u, 0x0131u, 0x015Eu, 0x015Fu, 0x2013u, 0x2014u, 0x2018u,
                           0x2019u, 0x201Cu, 0x201Du, 0x2022u, 0x2026u})
            v.push_back(c);
        return v;
    }();
    return set;
}

// ---- atlas cache ----

namespace {
unsigned gCacheGeneration = 0; // counts clearFontCache calls; atlases of older ones are gone

std::map<uint32_t, FontAtlas>& cache() {
    static std::map<uint32_t, FontAtlas> map;
    return map;
}

bool glContextCurrent() {
    return glfwGetCurrentContext() != nullptr;
}

// Everything but the GL texture: glyphs packed into `outBitmap` at contentScale x size.
// Reads only the faces, so a background thread may run it while no one loads faces.
void rasterAtlas(FontAtlas& atlas, FontFamily family, float size, float contentScale,
                 std::vector<unsigned char>& outBitmap) {
    const std::vector<uint32_t>& set = glyphSet();
    atlas.family = family;
    atlas.size = size;
    FontFace& face = faceFor(family);
    if (!face.ready) return; // no fonts: an empty atlas that measures 0 and draws nothing

    const float pixels = contentScale * size;
    std::vector<unsigned char>& bitmap = outBitmap;
    int edge = kAtlasStart;
    for (;;) {
        bitmap.assign(static_cast<size_t>(edge) * edge, 0);
        atlas.glyphs.assign(set.size(), stbtt_packedchar{});
        stbtt_pack_context pack;
        bool packed = false;
        if (stbtt_PackBegin(&pack, bitmap.data(), edge, edge, edge, 1, nullptr)) {
            stbtt_PackSetOversampling(&pack, pixels < kOversampleBelow ? 2 : 1, 1);
            stbtt_pack_range range{};
            range.font_size = -pixels; // negative: em size in pixels
            range.array_of_unicode_codepoints = const_cast<int*>(glyphSetInts().data());
            range.num_chars = static_cast<int>(set.size());
            range.chardata_for_range = atlas.glyphs.data();
            packed = stbtt_PackFontRanges(&pack, reinterpret_cast<const unsigned char*>(face.bytes.data()), 0,
                                          &range, 1) != 0;
            stbtt_PackEnd(&pack);
        }
        atlas.atlasSize = edge;
        if (packed || edge * 2 > kAtlasMax) break;
        edge *= 2;
    }

    atlas.glyphIndex.reserve(set.size());
    atlas.fontGlyphs.resize(set.size());
    for (size_t i = 0; i < set.size(); ++i) {
        atlas.glyphIndex[set[i]] = static_cast<int>(i);
        atlas.fontGlyphs[i] = stbtt_FindGlyphIndex(&face.info, static_cast<int>(set[i]));
    }
    atlas.scale = stbtt_ScaleForMappingEmToPixels(&face.info, size);
    int ascent = 0, descent = 0, lineGap = 0;
    stbtt_GetFontVMetrics(&face.info, &ascent, &descent, &lineGap);
    atlas.ascent = ascent * atlas.scale;
    atlas.descent = descent * atlas.scale;
}

// The atlas's GL texture, made only while a GL context is current.
void uploadAtlas(FontAtlas& atlas, const std::vector<unsigned char>& bitmap) {
    if (bitmap.empty() || !glContextCurrent()) return;
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, atlas.atlasSize, atlas.atlasSize, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                 bitmap.data());
    atlas.texture = id;
}

// Waits for the preparation and moves the atlas for `key` out of it, when it was made at
// the current scale.
bool takePrepared(uint32_t key, FontAtlas& outAtlas, std::vector<unsigned char>& outBitmap) {
    if (gPrepared.worker.joinable()) gPrepared.worker.join();
    if (gPrepared.contentScale != frameContext().contentScale) gPrepared.atlases.clear();
    for (PreparedAtlas& p : gPrepared.atlases) {
        if (p.key != key || p.bitmap.empty()) continue;
        outAtlas = std::move(p.atlas);
        outBitmap = std::move(p.bitmap);
        p.bitmap = {};
        return true;
    }
    return false;
}

// Kerning between two positions of the glyph set, in font units.
float kernUnits(const FontAtlas& font, int previous, int current) {
    const FontFace& face = faceFor(font.family);
    if (!face.ready) return 0;
    return static_cast<float>(
        stbtt_GetGlyphKernAdvance(&face.info, font.fontGlyphs[previous], font.fontGlyphs[current]));
}

// Position of `c` in the atlas, or -1 when it is not drawn.
int glyphPosition(const FontAtlas& font, uint32_t c) {
    const auto it = font.glyphIndex.find(c);
    return it == font.glyphIndex.end() ? -1 : it->second;
}
} // namespace

uint32_t fontCacheKey(FontFamily family, float size) {
    return static_cast<uint32_t>(static_cast<int32_t>(family) * 10000 + static_cast<int32_t>(size * 10.0f));
}

FontAtlas& getFont(FontFamily family, float size) {
    const uint32_t key = fontCacheKey(family, size);
    auto it = cache().find(key);
    if (it != cache().end()) return it->second;
    FontAtlas& atlas = cache()[key];
    std::vector<unsigned char> bitmap;
    if (!takePrepared(key, atlas, bitmap))
        rasterAtlas(atlas, family, size, frameContext().contentScale, bitmap);
    uploadAtlas(atlas, bitmap);
    return atlas;
}

void prepareFontAtlases(std::vector<FontRequest> requests, float contentScale, void (*waitFirst)()) {
    if (gPrepared.worker.joinable()) gPrepared.worker.join();
    gPrepared.contentScale = contentScale;
    gPrepared.atlases.clear();
    gPrepared.atlases.reserve(requests.size());
    gPrepared.worker = std::jthread([requests = std::move(requests), contentScale, waitFirst] {
        if (waitFirst) waitFirst();
        for (const FontRequest& r : requests) {
            PreparedAtlas& p = gPrepared.atlases.emplace_back();
            p.key = fontCacheKey(r.family, r.size);
            rasterAtlas(p.atlas, r.family, r.size, contentScale, p.bitmap);
        }
    });
}

void finishFontPreparation() {
    if (gPrepared.worker.joinable()) gPrepared.worker.join();
    gPrepared.atlases.clear();
}

void clearFontCache() {
    const bool gl = glContextCurrent();
    finishFontPreparation();
    ++gCacheGeneration;
    for (auto& [key, atlas] : cache()) {
        if (gl && atlas.texture != 0) glDeleteTextures(1, &atlas.texture);
    }
    cache().clear();
}

size_t fontCacheSize() {
    return cache().size();
}

// ---- measuring ----

float textWidth(const FontAtlas& font, std::string_view text, float spacing) {
    const float s = frameContext().contentScale;
    float width = 0;
    int previous = -1;
    size_t pos = 0;
    while (pos < text.size()) {
        const int current = glyphPosition(font, platform::nextCodePoint(text, pos));
        if (current < 0) continue; // skipped, and the kerning pair around it survives
        if (previous >= 0) width += kernUnits(font, previous, current) * font.scale;
        width += font.glyphs[current].xadvance / s + spacing;
        previous = current;
    }
    return width;
}

std::vector<std::string> breakParagraph(std::string_view text, float maxWidth,
                                        const std::function<float(std::string_view)>& width) {
    std::vector<std::string> lines;
    std::string word, line;
    auto flush = [&](bool forced) {
        std::string candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && width(candidate) > maxWidth) {
            lines.push_back(std::move(line));
            line = word;
        } else {
            line = std::move(candidate);
        }
        word.clear();
        if (forced) {
            lines.push_back(std::move(line));
            line.clear();
        }
    };
    for (const char ch : text) {
        if (ch == ' ')
            flush(false);
        else if (ch == '\n')
            flush(true);
        else
            word += ch;
    }
    if (!word.empty() || !line.empty()) flush(true);
    return lines;
}

float nearest(float v) {
    return std::round(v);
}

// ---- drawing ----

void drawGlyphRun(const FontAtlas& font, float x, float baseline, std::string_view text, uint32_t color,
                  float opacity, float spacing) {
    if (font.glyphs.empty() || font.atlasSize <= 0) return;
    const RgbFloat c = toRgbFloat(color);
    const float s = frameContext().contentScale;
    const float a = static_cast<float>(font.atlasSize);
    float pen = x * s;
    const float base = baseline * s;
    int previous = -1;
    glBegin(GL_QUADS);
    glColor4f(c.r, c.g, c.b, opacity); // inside the quads: the vertex layout of drawTexture
    size_t pos = 0;
    while (pos < text.size()) {
        const int current = glyphPosition(font, platform::nextCodePoint(text, pos));
        if (current < 0) continue;
        if (previous >= 0) pen += kernUnits(font, previous, current) * font.scale * s;
        const stbtt_packedchar& q = font.glyphs[current];
        const float left = (pen + q.xoff) / s, right = (pen + q.xoff2) / s;
        const float top = (base + q.yoff) / s, bottom = (base + q.yoff2) / s;
        const float s0 = q.x0 / a, t0 = q.y0 / a, s1 = q.x1 / a, t1 = q.y1 / a;
        glTexCoord2f(s0, t0);
        glVertex2f(left, top);
        glTexCoord2f(s1, t0);
        glVertex2f(right, top);
        glTexCoord2f(s1, t1);
        glVertex2f(right, bottom);
        glTexCoord2f(s0, t1);
        glVertex2f(left, bottom);
        pen += q.xadvance + s * spacing;
        previous = current;
    }
    glEnd();
}

void bindFontAtlas(const FontAtlas& font) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, font.texture);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void drawText(const FontAtlas& font, float x, float baseline, std::string_view text, uint32_t color,
              float spacing, Shadow shadow, float opacity) {
    bindFontAtlas(font);
    if (shadow == Shadow::Drop) {
        drawGlyphRun(font, x, baseline + 1, text, palette::kBlack, kDropShadowOpacity * opacity, spacing);
    } else if (shadow == Shadow::Halo) {
        static constexpr float kHalo[5][2] = {{0, 1.5f}, {1, 0}, {-1, 0}, {0, -1}, {0, 2.5f}};
        for (const auto& offset : kHalo)
            drawGlyphRun(font, x + offset[0], baseline + offset[1], text, palette::kBlack,
                         kHaloOpacity * opacity, spacing);
    }
    drawGlyphRun(font, x, baseline, text, color, opacity, spacing);
}

void drawTextInBox(const FontAtlas& font, float x, float y, float w, float h, std::string_view text,
                   uint32_t color, Align align, float spacing, Shadow shadow) {
    const float width = textWidth(font, text, spacing);
    float left = x;
    if (align == Align::Centre)
        left = x + (w - width) * 0.5f;
    else if (align == Align::Right)
        left = x + w - width;
    const float baseline = y + h * 0.5f + (font.ascent + font.descent) * 0.5f;
    drawText(font, nearest(left), baseline, text, color, spacing, shadow, 1.0f);
}

void drawParagraph(const FontAtlas& font, float x, float y, float maxWidth, float lineHeight,
                   std::string_view text, uint32_t color, Align align) {
    // The message dialog draws the same paragraph every frame: its lines are kept until the
    // text, the width or the atlas changes (a scale change empties the cache and so counts
    // as a change), so a still frame allocates nothing.
    static struct {
        std::string text;
        const FontAtlas* font = nullptr;
        unsigned generation = 0;
        float maxWidth = -1;
        std::vector<std::string> lines;
    } cached;
    if (cached.font != &font || cached.generation != gCacheGeneration || cached.maxWidth != maxWidth ||
        cached.text != text) {
        cached.lines = breakParagraph(text, maxWidth,
                                      [&font](std::string_view line) { return textWidth(font, line, 0); });
        cached.text.assign(text);
        cached.font = &font;
        cached.generation = gCacheGeneration;
        cached.maxWidth = maxWidth;
    }
    const std::vector<std::string>& lines = cached.lines;
    for (size_t i = 0; i < lines.size(); ++i) {
        const float top = y + static_cast<float>(i) * lineHeight;
        const float width = textWidth(font, lines[i], 0);
        float left = nearest(x);
        if (align == Align::Centre)
            left = nearest(x + (maxWidth - width) * 0.5f);
        else if (align == Align::Right)
            left = nearest(x + maxWidth - width);
        const float baseline = top + (lineHeight + font.ascent + font.descent) * 0.5f;
        bindFontAtlas(font);
        drawGlyphRun(font, left, baseline, lines[i], color, 1.0f, 0);
    }
}
