// font.cpp - glyph atlases and text.
//
// Index
//   ---- faces ----              loadFontFaces, glyphSet
//   ---- atlas cache ----        fontCacheKey, fontAtlas, getFont, prepareFontAtlases,
//                                clearFontCache
//   ---- measuring ----          decodeUtf8, textWidth, breakParagraph, nearest
//   ---- drawing ----            drawText, drawTextInBox, drawParagraph
#include "gfx/font.h"

#include "gfx/ui.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <stb_rect_pack.h>

#include <algorithm>
#include <cmath>

// ---- faces ----

namespace {

const FontFace& faceFor(const FontCache& cache, FontFamily family) {
    return cache.faces[family == FontFamily::Display ? 0 : 1];
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

// The glyph set, built at compile time: printable ASCII, Latin-1 from the no-break space,
// then the Turkish letters and the punctuation the texts use.
constexpr std::array<uint32_t, kGlyphCount> kGlyphSet = [] {
    std::array<uint32_t, kGlyphCount> set{};
    size_t n = 0;
    for (uint32_t c = 0x20; c <= 0x7E; ++c)
        set[n++] = c;
    for (uint32_t c = 0xA0; c <= 0xFF; ++c)
        set[n++] = c;
    for (uint32_t c : {0x011Eu, 0x011Fu, 0x0130u, 0x0131u, 0x015Eu, 0x015Fu, 0x2013u, 0x2014u, 0x2018u,
                       0x2019u, 0x201Cu, 0x201Du, 0x2022u, 0x2026u})
        set[n++] = c;
    return set;
}();
// The same as the ints stb_truetype's packer reads.
constexpr std::array<int, kGlyphCount> kGlyphSetInts = [] {
    std::array<int, kGlyphCount> ints{};
    for (size_t i = 0; i < kGlyphCount; ++i)
        ints[i] = static_cast<int>(kGlyphSet[i]);
    return ints;
}();

} // namespace

bool loadFontFaces(FontCache& cache) {
    if (cache.preparer.joinable()) cache.preparer.join(); // it reads the faces
    std::string display, body;
    if (!platform::readWholeFile(kDisplayFontPath, display) || display.empty() ||
        !platform::readWholeFile(kBodyFontPath, body) || body.empty())
        return false;
    if (!fontLooksWhole(display) || !fontLooksWhole(body)) return false;
    cache.faces[0].bytes = std::move(display);
    cache.faces[1].bytes = std::move(body);
    for (FontFace& face : cache.faces) {
        const auto* data = reinterpret_cast<const unsigned char*>(face.bytes.data());
        // A file that is not a font leaves the face unusable: its atlases stay empty.
        const int offset = stbtt_GetFontOffsetForIndex(data, 0);
        face.ready = offset >= 0 && stbtt_InitFont(&face.info, data, offset) != 0;
    }
    return true;
}

const std::array<uint32_t, kGlyphCount>& glyphSet() {
    return kGlyphSet;
}

// ---- atlas cache ----

namespace {

bool glContextCurrent() {
    return glfwGetCurrentContext() != nullptr;
}

// The rows of an atlas `edge` wide whose glyphs were placed as `rects` say: down to the
// packer's bottom edge plus its margin (bilinear filtering at the lower edge of the last
// glyphs reads the row under them, which must be there and blank, as in the full square),
// rounded up to a power of two so that texture coordinates scale exactly.
int usedRows(const std::vector<stbrp_rect>& rects, int edge, int padding) {
    int bottom = 0;
    for (const stbrp_rect& r : rects)
        bottom = std::max(bottom, r.y + r.h);
    int rows = 1;
    while (rows < bottom + padding && rows < edge)
        rows *= 2;
    return rows;
}

// Everything but the GL texture: glyphs packed into `outBitmap` at contentScale x size.
// The packer places the glyphs in a square `atlasSize` wide; the bitmap keeps only the
// rows they reach (atlasHeight), so a small size does not carry a mostly empty square.
// Reads only the faces, so a background thread may run it while no one loads faces.
void rasterAtlas(const FontCache& cache, FontAtlas& atlas, FontRequest request, float contentScale,
                 std::vector<unsigned char>& outBitmap) {
    atlas.family = request.family;
    atlas.size = request.size;
    atlas.contentScale = contentScale;
    const FontFace& face = faceFor(cache, request.family);
    if (!face.ready) return; // no fonts: an empty atlas that measures 0 and draws nothing
    atlas.face = &face.info;

    constexpr int kPadding = 1; // blank texels around each glyph for bilinear filtering
    const float pixels = contentScale * request.size;
    std::vector<unsigned char>& bitmap = outBitmap;
    std::vector<stbrp_rect> rects(kGlyphCount);
    int edge = kAtlasStart;
    for (;;) {
        bitmap.clear();
        atlas.glyphs.assign(kGlyphCount, stbtt_packedchar{});
        stbtt_pack_context pack;
        bool packed = false;
        const bool last = edge * 2 > kAtlasMax;
        // No pixels yet: they are allocated once the packer has said how many rows it uses.
        if (stbtt_PackBegin(&pack, nullptr, edge, edge, edge, kPadding, nullptr)) {
            stbtt_PackSetOversampling(&pack, pixels < kOversampleBelow ? 2 : 1, 1);
            stbtt_pack_range range{};
            range.font_size = -pixels; // negative: em size in pixels
            // The packer only reads the code points.
            range.array_of_unicode_codepoints = const_cast<int*>(kGlyphSetInts.data());
            range.num_chars = static_cast<int>(kGlyphCount);
            range.chardata_for_range = atlas.glyphs.data();
            const int n = stbtt_PackFontRangesGatherRects(&pack, &face.info, &range, 1, rects.data());
            stbtt_PackFontRangesPackRects(&pack, rects.data(), n);
            const bool fits = std::all_of(rects.begin(), rects.end(),
                                          [](const stbrp_rect& r) { return r.was_packed != 0; });
            // A glyph left out is retried in a square twice as wide, but for the largest,
            // which keeps what fitted.
            if (fits || last) {
                const int rows = fits ? usedRows(rects, edge, kPadding) : edge;
                bitmap.assign(static_cast<size_t>(edge) * rows, 0);
                pack.pixels = bitmap.data();
                pack.height = rows;
                packed = stbtt_PackFontRangesRenderIntoRects(&pack, &face.info, &range, 1, rects.data()) != 0;
                atlas.atlasHeight = rows;
            }
            stbtt_PackEnd(&pack);
        }
        atlas.atlasSize = edge;
        if (packed || last) break;
        edge *= 2;
    }

    atlas.glyphIndex.reserve(kGlyphCount);
    atlas.fontGlyphs.resize(kGlyphCount);
    for (size_t i = 0; i < kGlyphCount; ++i) {
        atlas.glyphIndex[kGlyphSet[i]] = static_cast<int>(i);
        atlas.fontGlyphs[i] = stbtt_FindGlyphIndex(&face.info, static_cast<int>(kGlyphSet[i]));
    }
    atlas.scale = stbtt_ScaleForMappingEmToPixels(&face.info, request.size);
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
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, atlas.atlasSize, atlas.atlasHeight, 0, GL_ALPHA,
                 GL_UNSIGNED_BYTE, bitmap.data());
    atlas.texture = id;
}

// Waits for the preparation and moves the atlas for `key` out of it, when it was made at
// the cache's scale.
bool takePrepared(FontCache& cache, uint32_t key, FontAtlas& outAtlas,
                  std::vector<unsigned char>& outBitmap) {
    if (cache.preparer.joinable()) cache.preparer.join();
    if (cache.preparedScale != cache.builtScale) cache.prepared.clear();
    for (PreparedAtlas& p : cache.prepared) {
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
    if (!font.face) return 0;
    return static_cast<float>(
        stbtt_GetGlyphKernAdvance(font.face, font.fontGlyphs[previous], font.fontGlyphs[current]));
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

FontAtlas& fontAtlas(FontCache& cache, FontRequest request, float contentScale) {
    if (contentScale != cache.builtScale) { // moved to a display of another scale
        clearFontCache(cache);
        cache.builtScale = contentScale;
    }
    const uint32_t key = fontCacheKey(request.family, request.size);
    auto it = cache.atlases.find(key);
    if (it != cache.atlases.end()) return it->second;
    FontAtlas& atlas = cache.atlases[key];
    std::vector<unsigned char> bitmap;
    if (!takePrepared(cache, key, atlas, bitmap)) rasterAtlas(cache, atlas, request, contentScale, bitmap);
    uploadAtlas(atlas, bitmap);
    return atlas;
}

FontAtlas& getFont(Ui& ui, FontRequest request) {
    return fontAtlas(ui.fonts, request, ui.frame.contentScale);
}

void prepareFontAtlases(FontCache& cache, std::vector<FontRequest> requests, float contentScale,
                        std::function<void()> waitFirst) {
    if (cache.preparer.joinable()) cache.preparer.join();
    cache.preparedScale = contentScale;
    cache.prepared.clear();
    cache.prepared.reserve(requests.size());
    cache.preparer = std::jthread(
        [&cache, requests = std::move(requests), contentScale, waitFirst = std::move(waitFirst)] {
            if (waitFirst) waitFirst();
            for (const FontRequest& r : requests) {
                PreparedAtlas& p = cache.prepared.emplace_back();
                p.key = fontCacheKey(r.family, r.size);
                rasterAtlas(cache, p.atlas, r, contentScale, p.bitmap);
            }
        });
}

void finishFontPreparation(FontCache& cache) {
    if (cache.preparer.joinable()) cache.preparer.join();
    cache.prepared.clear();
}

void clearFontCache(FontCache& cache) {
    const bool gl = glContextCurrent();
    finishFontPreparation(cache);
    ++cache.generation;
    for (auto& [key, atlas] : cache.atlases) {
        if (gl && atlas.texture != 0) glDeleteTextures(1, &atlas.texture);
    }
    cache.atlases.clear();
}

// ---- measuring ----

float textWidth(const FontAtlas& font, std::string_view text, float spacing) {
    const float s = font.contentScale;
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

float textWidth(Ui& ui, const TextStyle& style, std::string_view text) {
    return textWidth(getFont(ui, style.font), text, style.spacing);
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

float centredBaseline(const FontAtlas& font, float centreY) {
    return centreY + (font.ascent + font.descent) * 0.5f;
}

// ---- drawing ----

namespace {

void bindFontAtlas(const FontAtlas& font) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, font.texture);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// How one run of glyphs is inked.
struct Ink {
    uint32_t color;
    float opacity;
    float spacing; // logical pixels after every glyph
};

// One run of glyphs; the atlas is bound.
void drawGlyphRun(const FontAtlas& font, float x, float baseline, std::string_view text, const Ink& ink) {
    if (font.glyphs.empty() || font.atlasSize <= 0 || font.atlasHeight <= 0) return;
    const RgbFloat c = toRgbFloat(ink.color);
    const float opacity = ink.opacity, spacing = ink.spacing;
    const float s = font.contentScale;
    // Powers of two: the coordinates are exact, whatever the height the atlas kept.
    const float aw = static_cast<float>(font.atlasSize), ah = static_cast<float>(font.atlasHeight);
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
        const float s0 = q.x0 / aw, t0 = q.y0 / ah, s1 = q.x1 / aw, t1 = q.y1 / ah;
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

// The halo: five black runs around the text.
constexpr float kHalo[5][2] = {{0, 1.5f}, {1, 0}, {-1, 0}, {0, -1}, {0, 2.5f}};

} // namespace

void drawText(Ui& ui, const TextStyle& style, float x, float baseline, std::string_view text) {
    const FontAtlas& font = getFont(ui, style.font);
    bindFontAtlas(font);
    if (style.shadow == Shadow::Drop) {
        drawGlyphRun(font, x, baseline + 1, text, {palette::kBlack, kDropShadowOpacity, style.spacing});
    } else if (style.shadow == Shadow::Halo) {
        for (const auto& offset : kHalo)
            drawGlyphRun(font, x + offset[0], baseline + offset[1], text,
                         {palette::kBlack, kHaloOpacity, style.spacing});
    }
    drawGlyphRun(font, x, baseline, text, {style.color, 1.0f, style.spacing});
}

void drawTextInBox(Ui& ui, const TextStyle& style, const Rect& box, std::string_view text) {
    const FontAtlas& font = getFont(ui, style.font);
    const float width = textWidth(font, text, style.spacing);
    float left = box.x;
    if (style.align == Align::Centre)
        left = box.x + (box.w - width) * 0.5f;
    else if (style.align == Align::Right)
        left = box.x + box.w - width;
    const float baseline = box.y + box.h * 0.5f + (font.ascent + font.descent) * 0.5f;
    drawText(ui, style, nearest(left), baseline, text);
}

void drawParagraph(Ui& ui, const TextStyle& style, const Rect& firstLine, std::string_view text) {
    const FontAtlas& font = getFont(ui, style.font);
    const float x = firstLine.x, maxWidth = firstLine.w, lineHeight = firstLine.h;
    // The message dialog draws the same paragraph every frame: its lines are kept until the
    // text, the width or the atlas changes (a scale change empties the cache and so counts
    // as a change).
    ParagraphLines& cached = ui.paragraph;
    if (cached.font != &font || cached.generation != ui.fonts.generation || cached.maxWidth != maxWidth ||
        cached.text != text) {
        cached.lines = breakParagraph(text, maxWidth,
                                      [&font](std::string_view line) { return textWidth(font, line, 0); });
        cached.text.assign(text);
        cached.font = &font;
        cached.generation = ui.fonts.generation;
        cached.maxWidth = maxWidth;
    }
    const std::vector<std::string>& lines = cached.lines;
    for (size_t i = 0; i < lines.size(); ++i) {
        const float top = firstLine.y + static_cast<float>(i) * lineHeight;
        const float width = textWidth(font, lines[i], 0);
        float left = nearest(x);
        if (style.align == Align::Centre)
            left = nearest(x + (maxWidth - width) * 0.5f);
        else if (style.align == Align::Right)
            left = nearest(x + maxWidth - width);
        const float baseline = top + (lineHeight + font.ascent + font.descent) * 0.5f;
        bindFontAtlas(font);
        drawGlyphRun(font, left, baseline, lines[i], {style.color, 1.0f, 0});
    }
}
