// ui_art.cpp - the interface images: logo, panel, bar, fields, check boxes, buttons.
//
// Index
//   ---- tunables ----
//   ---- materials ----
//   ---- helpers ----
//   ---- logo ----
//   ---- close button ----
//   ---- panel ----
//   ---- progress bar ----
//   ---- text field and check boxes ----
//   ---- buttons ----
//
// Every shape is a signed distance in pixels evaluated at pixel centres, so edges are
// anti-aliased without supersampling and the same outline drives fill, bevel and glow.
#include "art.h"

#include <algorithm>
#include <cmath>

namespace artgen {

// ---- tunables ----

namespace {
const Rgb kNight = hexColor(0x050609);
const Rgb kParchment = hexColor(0xECE6D6);
const Rgb kOutlineDark = hexColor(0x120A03);

// Panel: the frame stays within 13 px of the edge so it survives a 0.82x squeeze.
constexpr float kPanelCut = 11.0f;
constexpr float kPanelFillAlpha = 0.97f;

// Progress bar: the window in the frame through which the fill shows.
constexpr float kFillX = 52.0f, kFillY = 24.0f, kFillW = 316.0f, kFillH = 22.0f;

// Text field box (the launcher writes text into 36..248 x 13..39).
constexpr float kFieldCx = 142.0f, kFieldCy = 26.0f, kFieldHw = 116.0f, kFieldHh = 18.0f;
} // namespace

// ---- materials ----

Rgb goldRamp(float light) {
    struct Stop {
        float at;
        uint32_t rgb;
    };
    static const Stop kStops[] = {{0.0f, 0x2A1A06},  {0.3f, 0x6E4C1C},  {0.55f, 0xB08840},
                                  {0.78f, 0xE2C27A}, {0.92f, 0xF7E6B0}, {1.0f, 0xFFFBEA}};
    light = clamp01(light);
    for (size_t i = 1; i < std::size(kStops); ++i) {
        if (light <= kStops[i].at) {
            float t = (light - kStops[i - 1].at) / (kStops[i].at - kStops[i - 1].at);
            return mix(hexColor(kStops[i - 1].rgb), hexColor(kStops[i].rgb), t);
        }
    }
    return hexColor(kStops[std::size(kStops) - 1].rgb);
}

float bevelLight(float t, float nx, float ny) {
    t = std::clamp(t, -1.0f, 1.0f);
    // A rounded band: the surface tilts outward on the outer half and inward on the inner.
    float tilt = t * 0.85f;
    float sx = nx * tilt, sy = ny * tilt, sz = std::sqrt(std::max(0.0f, 1.0f - tilt * tilt));
    const float lx = -0.38f, ly = -0.70f, lz = 0.60f; // upper left, towards the viewer
    float diffuse = std::max(0.0f, sx * lx + sy * ly + sz * lz);
    float shine = std::pow(diffuse, 14.0f);
    return 0.12f + 0.72f * diffuse + 0.35f * shine;
}

// ---- helpers ----

namespace {

// Paints a gold band between distances dIn and dOut (dIn < dOut) of the shape `sdf`,
// with `lift` added to the light (positive: brighter, negative: darker).
template <class Sdf>
void goldBand(Canvas& c, const Sdf& sdf, float dIn, float dOut, float lift, float alpha = 1.0f) {
    float mid = (dIn + dOut) * 0.5f, half = (dOut - dIn) * 0.5f;
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = sdf(px, py);
            float cov = strokeCoverage(d - mid, dOut - dIn);
            if (cov <= 0.0f) continue;
            float nx, ny;
            sdfNormal(sdf, px, py, nx, ny);
            float l = bevelLight((d - mid) / half, nx, ny) + lift;
            // A faint grain keeps large gold areas from looking like plastic.
            l += (fbm(px * 0.35f, py * 0.35f, 3, 71u) - 0.5f) * 0.08f;
            c.blendOver(x, y, goldRamp(l), cov * alpha);
        }
    }
}

// Flat stroke of width w centred on distance `at`.
template <class Sdf> void strokeLine(Canvas& c, const Sdf& sdf, float at, float w, Rgb color, float alpha) {
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) {
            float cov = strokeCoverage(sdf(x + 0.5f, y + 0.5f) - at, w);
            if (cov > 0.0f) c.blendOver(x, y, color, cov * alpha);
        }
}

// A bevelled gold gem (diamond) centred on (cx, cy).
void goldDiamond(Canvas& c, float cx, float cy, float hw, float hh, float lift) {
    auto sdf = [&](float x, float y) { return sdDiamond(x, y, cx, cy, hw, hh); };
    int x0 = std::max(0, static_cast<int>(cx - hw - 3)),
        x1 = std::min(c.width() - 1, static_cast<int>(cx + hw + 3));
    int y0 = std::max(0, static_cast<int>(cy - hh - 3)),
        y1 = std::min(c.height() - 1, static_cast<int>(cy + hh + 3));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = sdf(px, py);
            float outline = coverage(d - 0.8f);
            if (outline <= 0.0f) continue;
            c.blendOver(x, y, kOutlineDark, outline * 0.85f);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            // Four facets: each quadrant takes the light by its own tilt.
            float fx = px < cx ? -1.0f : 1.0f, fy = py < cy ? -1.0f : 1.0f;
            float l = 0.55f + 0.25f * (-fx * 0.5f - fy * 0.9f) + lift;
            l += 0.2f * (1.0f - smooth(0.0f, 1.6f, -d)); // bright rim
            c.blendOver(x, y, goldRamp(l), cov);
        }
}

// Tapered gold line from a (width wa) to b (width wb), with a dark outline.
void goldTaper(Canvas& c, float ax, float ay, float bx, float by, float wa, float wb, float alpha) {
    int x0 = std::max(0, static_cast<int>(std::min(ax, bx) - wa - 3));
    int x1 = std::min(c.width() - 1, static_cast<int>(std::max(ax, bx) + wa + 3));
    int y0 = std::max(0, static_cast<int>(std::min(ay, by) - wa - 3));
    int y1 = std::min(c.height() - 1, static_cast<int>(std::max(ay, by) + wa + 3));
    float dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float h = len2 > 0 ? clamp01(((px - ax) * dx + (py - ay) * dy) / len2) : 0.0f;
            float r = mixf(wa, wb, h) * 0.5f;
            float d = std::hypot(px - ax - dx * h, py - ay - dy * h) - r;
            float outline = coverage(d - 0.7f);
            if (outline > 0.0f) c.blendOver(x, y, kOutlineDark, outline * 0.6f * alpha);
            float cov = coverage(d);
            if (cov > 0.0f) c.blendOver(x, y, goldRamp(0.78f - 0.1f * h), cov * alpha);
        }
}

// Distance from a point inside or outside an axis-aligned rectangle (negative inside).
float sdRect(float px, float py, float x, float y, float w, float h) {
    return sdRoundBox(px, py, x + w * 0.5f, y + h * 0.5f, w * 0.5f, h * 0.5f, 0.0f);
}

} // namespace

// ---- logo ----

Canvas paintLogo(const Fonts& fonts) {
    const int W = 320, H = 168;
    Canvas c(W, H);
    const char* title = "MORLAKEN";
    const char* sub = "ONLINE";

    // Fit the title to 292 px; the spacing is fixed so two passes settle the size.
    float titleSpacing = 2.0f, size = 60.0f;
    for (int i = 0; i < 3; ++i)
        size *= 292.0f / std::max(1.0f, fonts.display.layoutWidth(title, size, titleSpacing));
    float titleW = fonts.display.layoutWidth(title, size, titleSpacing);
    // Find the capitals' real extent once, then place them so their block spans y 34..96.
    Mask probe = fonts.display.textDistance(title, size, titleSpacing, (W - titleW) * 0.5f, 100.0f, W, H);
    int top = H, bottom = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (probe(x, y) < 0.0f) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    float capTop = 50.0f, capBottom = 98.0f;
    float baseline = 100.0f + (capTop + capBottom) * 0.5f - (top + bottom + 1) * 0.5f;
    Mask td = fonts.display.textDistance(title, size, titleSpacing, (W - titleW) * 0.5f, baseline, W, H);
    float capH = std::max(1.0f, static_cast<float>(bottom - top));

    float subSize = 22.0f, subSpacing = 9.0f;
    float subW = fonts.display.layoutWidth(sub, subSize, subSpacing);
    float subBaseline = 134.0f;
    Mask sd = fonts.display.textDistance(sub, subSize, subSpacing, (W - subW) * 0.5f, subBaseline, W, H);

    // Glow and drop shadow come from blurred copies of the letter shapes.
    Mask shape(W, H), shadow(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            shape(x, y) = std::max(coverage(td(x, y) - 2.0f), coverage(sd(x, y) - 1.5f));
            int sx = std::max(0, x - 2), sy = std::max(0, y - 3);
            shadow(x, y) = std::max(coverage(td(sx, sy) - 2.0f), coverage(sd(sx, sy) - 1.5f));
        }
    Mask glow = gaussianBlur(shape, 9.0f);
    Mask soft = gaussianBlur(shadow, 2.5f);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            c.blendOver(x, y, hexColor(0xB07828), std::min(0.55f, glow(x, y) * 0.75f));
            c.blendOver(x, y, kNight, soft(x, y) * 0.85f);
        }

    // The rule beside "ONLINE": tapered lines ending in small gems.
    float ruleY = subBaseline - 7.5f;
    float gap = 14.0f;
    float left = (W - subW) * 0.5f - gap, right = (W + subW) * 0.5f + gap;
    goldTaper(c, 30.0f, ruleY, left, ruleY, 0.6f, 2.2f, 1.0f);
    goldTaper(c, W - 30.0f, ruleY, right, ruleY, 0.6f, 2.2f, 1.0f);
    goldDiamond(c, 24.0f, ruleY, 5.0f, 4.0f, 0.05f);
    goldDiamond(c, W - 24.0f, ruleY, 5.0f, 4.0f, 0.05f);
    goldDiamond(c, left + 4.5f, ruleY, 3.0f, 3.0f, 0.1f);
    goldDiamond(c, right - 4.5f, ruleY, 3.0f, 3.0f, 0.1f);
    // A small crest over the title's middle.
    goldTaper(c, W * 0.5f - 40.0f, 30.0f, W * 0.5f - 8.0f, 30.0f, 0.3f, 1.6f, 0.9f);
    goldTaper(c, W * 0.5f + 40.0f, 30.0f, W * 0.5f + 8.0f, 30.0f, 0.3f, 1.6f, 0.9f);
    goldDiamond(c, W * 0.5f, 30.0f, 5.0f, 6.5f, 0.1f);

    auto titleSdf = [&](float x, float y) { return td.sample(x - 0.5f, y - 0.5f); };
    auto subSdf = [&](float x, float y) { return sd.sample(x - 0.5f, y - 0.5f); };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            // Title: dark outline, then gold with a vertical sweep and a bevel at the rim.
            float d = td(x, y);
            c.blendOver(x, y, kOutlineDark, coverage(d - 2.2f) * 0.95f);
            float cov = coverage(d);
            if (cov > 0.0f) {
                float v = clamp01((py - top - (baseline - 100.0f)) / capH);
                float sweep = 1.0f - 0.62f * v;
                float nx, ny;
                sdfNormal(titleSdf, px, py, nx, ny);
                float rim = clamp01(-d / 2.2f);
                float bevel = bevelLight(1.0f - 2.0f * rim, nx, ny);
                float l = mixf(bevel, sweep, rim * 0.7f + 0.15f);
                // A bright band across the upper third, as on polished metal.
                l += 0.12f * smooth(0.25f, 0.38f, v) * (1.0f - smooth(0.42f, 0.55f, v));
                c.blendOver(x, y, goldRamp(l), cov);
            }
            float d2 = sd(x, y);
            c.blendOver(x, y, kOutlineDark, coverage(d2 - 1.6f) * 0.9f);
            float cov2 = coverage(d2);
            if (cov2 > 0.0f) {
                float nx, ny;
                sdfNormal(subSdf, px, py, nx, ny);
                float rim = clamp01(-d2 / 1.2f);
                float l = mixf(bevelLight(1.0f - 2.0f * rim, nx, ny), 0.86f, 0.6f);
                Rgb col = mix(goldRamp(l), kParchment, 0.35f);
                c.blendOver(x, y, col, cov2);
            }
        }
    return c;
}

// ---- close button ----

Canvas paintCloseButton() {
    const int S = 36;
    Canvas c(S, S);
    const float cx = 18.0f, cy = 18.0f, r = 16.5f;
    auto disc = [&](float x, float y) { return sdCircle(x, y, cx, cy, r); };
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = disc(px, py);
            c.blendOver(x, y, kNight, coverage(d - 0.8f) * 0.9f);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            // Dark enamel, lit a little from above.
            float t = clamp01((py - (cy - r)) / (2 * r));
            Rgb base = mix(hexColor(0x1C2740), hexColor(0x070A12), t);
            float rr = std::hypot(px - cx, py - cy) / r;
            base = base * (1.0f - 0.35f * rr * rr);
            c.blendOver(x, y, base, cov * 0.96f);
        }
    goldBand(c, disc, -2.6f, -0.3f, 0.0f);
    strokeLine(c, disc, -3.6f, 0.8f, hexColor(0x8A6A34), 0.6f);
    // The X: two bevelled bars.
    auto cross = [&](float x, float y) {
        float a = sdSegment(x, y, 12.5f, 12.5f, 23.5f, 23.5f, 1.55f);
        float b = sdSegment(x, y, 23.5f, 12.5f, 12.5f, 23.5f, 1.55f);
        return std::min(a, b);
    };
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = cross(px, py);
            c.blendOver(x, y, kOutlineDark, coverage(d - 1.0f) * 0.8f);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            float nx, ny;
            sdfNormal(cross, px, py, nx, ny);
            float l = bevelLight(1.0f - 2.0f * clamp01(-d / 1.55f), nx, ny) + 0.12f;
            c.blendOver(x, y, goldRamp(l), cov);
        }
    return c;
}

// ---- panel ----

Canvas paintPanel() {
    const int W = 480, H = 330;
    Canvas c(W, H);
    const float cx = W * 0.5f, cy = H * 0.5f;
    auto outer = [&](float x, float y) {
        return sdChamferBox(x, y, cx, cy, cx - 1.0f, cy - 1.0f, kPanelCut);
    };

    // Interior: night-blue lacquer, lighter under the top edge, darker towards the rim.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = outer(px, py);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            float t = py / H;
            Rgb base = mix(hexColor(0x111B30), hexColor(0x070A13), smooth(0.0f, 1.0f, t));
            float cloud = fbm(px / 90.0f, py / 60.0f, 4, 11u);
            base = base * (0.88f + 0.24f * cloud);
            float topGlow = std::exp(-std::pow((px - cx) / 200.0f, 2.0f) - std::pow(py / 90.0f, 2.0f));
            base = base + hexColor(0x1E2C4A) * (0.35f * topGlow);
            float rim = smooth(-26.0f, -4.0f, d);
            base = mix(base, hexColor(0x030408), rim * 0.6f);
            c.blendOver(x, y, base, cov * mixf(kPanelFillAlpha, 0.97f, rim));
        }
    // Double frame: a dark edge, a bevelled outer band, a dark gap and a thin inner line.
    strokeLine(c, outer, -0.6f, 1.6f, hexColor(0x020306), 1.0f);
    goldBand(c, outer, -4.6f, -1.4f, 0.0f);
    strokeLine(c, outer, -5.6f, 1.2f, hexColor(0x050609), 0.9f);
    auto inner = [&](float x, float y) {
        return sdChamferBox(x, y, cx, cy, cx - 9.0f, cy - 9.0f, kPanelCut - 3.0f);
    };
    goldBand(c, inner, -1.6f, 0.0f, -0.1f, 0.9f);

    // Corner ornaments: a gem on the cut corner with short spikes running along the sides.
    const float gemIn = 13.0f;
    for (int corner = 0; corner < 4; ++corner) {
        bool right = corner & 1, bottom = corner & 2;
        float gx = right ? W - gemIn : gemIn, gy = bottom ? H - gemIn : gemIn;
        float sx = right ? -1.0f : 1.0f, sy = bottom ? -1.0f : 1.0f;
        // A quarter-round bracket spanning the corner from one spike to the other, with a
        // bead at its middle; drawn first so the spikes lie over its ends.
        const float radius = 26.0f;
        float ax = gx + sx * radius, ay = gy + sy * radius;
        for (int y = static_cast<int>(std::min(gy, ay)) - 2; y <= static_cast<int>(std::max(gy, ay)) + 2; ++y)
            for (int x = static_cast<int>(std::min(gx, ax)) - 2; x <= static_cast<int>(std::max(gx, ax)) + 2;
                 ++x) {
                float px = x + 0.5f, py = y + 0.5f;
                if ((px - ax) * sx > 0.5f || (py - ay) * sy > 0.5f) continue;
                float d = sdCircle(px, py, ax, ay, radius);
                c.blendOver(x, y, kOutlineDark, strokeCoverage(d, 2.8f) * 0.5f);
                c.blendOver(x, y, goldRamp(0.78f), strokeCoverage(d, 1.3f));
            }
        goldTaper(c, gx + sx * 6.0f, gy, gx + sx * 52.0f, gy, 2.2f, 0.3f, 0.95f);
        goldTaper(c, gx, gy + sy * 6.0f, gx, gy + sy * 40.0f, 2.2f, 0.3f, 0.95f);
        goldDiamond(c, ax - sx * radius * 0.7071f, ay - sy * radius * 0.7071f, 3.0f, 3.0f, 0.1f);
        goldDiamond(c, gx, gy, 7.0f, 7.0f, 0.08f);
    }
    // Crest in the middle of the top and bottom edges.
    for (int side = 0; side < 2; ++side) {
        float y = side == 0 ? 3.0f : H - 3.0f;
        float sy = side == 0 ? 1.0f : -1.0f;
        goldTaper(c, cx - 10.0f, y + sy * 1.5f, cx - 52.0f, y + sy * 1.5f, 2.0f, 0.3f, 0.95f);
        goldTaper(c, cx + 10.0f, y + sy * 1.5f, cx + 52.0f, y + sy * 1.5f, 2.0f, 0.3f, 0.95f);
        goldDiamond(c, cx, y + sy * 2.0f, 9.0f, 5.5f, 0.1f);
    }
    return c;
}

// ---- progress bar ----

Canvas paintBarFrame() {
    const int W = 420, H = 70;
    Canvas c(W, H);
    const float cx = kFillX + kFillW * 0.5f, cy = kFillY + kFillH * 0.5f;
    auto window = [&](float x, float y) { return sdRect(x, y, kFillX, kFillY, kFillW, kFillH); };
    auto rim = [&](float x, float y) {
        return sdRoundBox(x, y, cx, cy, kFillW * 0.5f + 5.0f, kFillH * 0.5f + 5.0f, 4.0f);
    };
    // Thin rails above and below, fading towards the ends.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float fade = smooth(40.0f, 110.0f, px) * smooth(W - 40.0f, W - 110.0f, px);
            float cov = std::max(strokeCoverage(py - 9.5f, 1.0f), strokeCoverage(py - 60.5f, 1.0f));
            if (cov > 0.0f) c.blendOver(x, y, goldRamp(0.7f), cov * fade * 0.7f);
        }
    // The dark ring between the fill window and the gold rim; the window itself stays
    // clear except for a soft inner shadow, so the fill underneath shows unchanged.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float dr = rim(px, py);
            float dw = window(px, py);
            if (dr > 0.5f) continue;
            if (dw >= 0.0f) {
                c.blendOver(x, y, hexColor(0x040508), coverage(dr));
            } else {
                float depth = -dw;
                float shade = 0.55f * (1.0f - smooth(0.0f, 3.5f, depth));
                if (py < cy) shade = std::max(shade, 0.35f * (1.0f - smooth(0.0f, 6.0f, py - kFillY)));
                c.blendOver(x, y, hexColor(0x000000), shade);
            }
        }
    goldBand(c, rim, 0.0f, 3.6f, 0.0f);
    strokeLine(c, rim, 4.1f, 1.0f, kOutlineDark, 0.9f);

    // End caps: a faceted gem in a gold mount with a spike pointing outwards.
    for (int side = 0; side < 2; ++side) {
        float sx = side == 0 ? 1.0f : -1.0f;
        float mx = side == 0 ? 28.0f : W - 28.0f;
        auto mount = [&](float x, float y) {
            float body = sdDiamond(x, y, mx, cy, 22.0f, 17.0f);
            float spike =
                sdTriangle(x, y, mx - sx * 26.0f, cy, mx - sx * 10.0f, cy - 5.0f, mx - sx * 10.0f, cy + 5.0f);
            return std::min(body, spike);
        };
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                float d = mount(x + 0.5f, y + 0.5f);
                c.blendOver(x, y, kOutlineDark, coverage(d - 1.2f) * 0.9f);
            }
        goldBand(c, mount, -5.0f, 0.0f, 0.02f);
        auto seat = [&](float x, float y) { return sdDiamond(x, y, mx, cy, 15.0f, 11.0f); };
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                float px = x + 0.5f, py = y + 0.5f;
                float cov = coverage(seat(px, py));
                if (cov <= 0.0f) continue;
                // A deep red stone, lit from the upper left with a bright glint.
                float fx = (px - mx) / 15.0f, fy = (py - cy) / 11.0f;
                float l = clamp01(0.55f - 0.45f * fx - 0.6f * fy);
                Rgb stone = mix(hexColor(0x2A0406), hexColor(0xC0282A), l);
                float glint = std::exp(-((fx + 0.3f) * (fx + 0.3f) + (fy + 0.35f) * (fy + 0.35f)) * 30.0f);
                stone = mix(stone, hexColor(0xFFE0D0), glint * 0.8f);
                c.blendOver(x, y, stone, cov);
            }
        strokeLine(c, seat, 0.0f, 1.0f, goldRamp(0.9f), 0.8f);
    }
    return c;
}

Canvas paintBarFill() {
    const int W = 316, H = 22;
    Canvas c(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float t = py / H;
            // Molten gold: a pale top edge, a hot amber core and a deep bronze lower lip.
            Rgb col = t < 0.45f ? mix(hexColor(0xFFE28E), hexColor(0xF0A435), smooth(0.0f, 0.45f, t))
                                : mix(hexColor(0xF0A435), hexColor(0x6A300A), smooth(0.45f, 1.0f, t));
            // Slow currents running along the bar, and faint slanted ripples.
            float flow = fbm(px / 34.0f, py / 7.0f, 4, 23u);
            float streak = fbm(px / 80.0f, py / 2.5f, 3, 29u);
            float ripple = 0.5f + 0.5f * std::sin((px + py * 1.2f) * 0.33f + 3.0f * flow);
            col = col * (0.8f + 0.32f * flow + 0.12f * streak + 0.06f * ripple);
            float highlight = std::exp(-std::pow((py - 3.5f) / 1.7f, 2.0f));
            col = mix(col, hexColor(0xFFF4D0), highlight * 0.45f);
            // Soft glowing motes carried along in the metal.
            for (int i = 0; i < 14; ++i) {
                float mx = hash01(i, 7, 41u) * W, my = 7.0f + hash01(i, 8, 41u) * 9.0f;
                float r = 1.2f + 1.6f * hash01(i, 9, 41u);
                float g = std::exp(-((px - mx) * (px - mx) * 0.25f + (py - my) * (py - my)) / (r * r));
                col = col + hexColor(0xFFD890) * (0.35f * g);
            }
            float edge = smooth(0.0f, 1.5f, py) * smooth(H, H - 1.5f, py);
            col = col * mixf(0.55f, 1.0f, edge);
            c.blendOver(x, y, col, 1.0f);
        }
    return c;
}

// ---- text field and check boxes ----

Canvas paintTextField() {
    const int W = 280, H = 50;
    Canvas c(W, H);
    auto box = [&](float x, float y) {
        return sdRoundBox(x, y, kFieldCx, kFieldCy, kFieldHw, kFieldHh, 4.0f);
    };
    // Faint outer shadow so the field sits into the panel.
    Mask shadow(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            shadow(x, y) = coverage(box(x + 0.5f, y - 0.5f) - 1.0f);
    shadow = gaussianBlur(shadow, 2.0f);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            c.blendOver(x, y, hexColor(0x000000), shadow(x, y) * 0.5f);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = box(px, py);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            float top = py - (kFieldCy - kFieldHh);
            Rgb base = mix(hexColor(0x03050A), hexColor(0x0B1120), smooth(0.0f, 2.0f * kFieldHh, top));
            // Inset: a shadow under the top edge and a faint light on the bottom one.
            base = base * (0.55f + 0.45f * smooth(0.0f, 6.0f, top));
            base = base + hexColor(0x1A2440) *
                              (0.5f * smooth(-3.0f, 0.0f, d) * smooth(kFieldHh, 2.0f * kFieldHh, top));
            c.blendOver(x, y, base, cov * 0.94f);
        }
    strokeLine(c, box, -0.7f, 1.2f, goldRamp(0.72f), 0.9f);
    strokeLine(c, box, 0.5f, 1.0f, hexColor(0x020304), 0.7f);
    // Small gems at both ends.
    for (int side = 0; side < 2; ++side) {
        float sx = side == 0 ? -1.0f : 1.0f;
        float gx = kFieldCx + sx * (kFieldHw + 9.0f);
        goldTaper(c, kFieldCx + sx * (kFieldHw + 1.0f), kFieldCy, gx, kFieldCy, 1.6f, 1.0f, 0.9f);
        goldDiamond(c, gx, kFieldCy, 4.0f, 5.5f, 0.05f);
    }
    return c;
}

Canvas paintCheckBox(bool checked) {
    const int S = 18;
    Canvas c(S, S);
    auto box = [&](float x, float y) { return sdRoundBox(x, y, 9.0f, 9.0f, 8.0f, 8.0f, 2.5f); };
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = box(px, py);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            Rgb base = mix(hexColor(0x02030a), hexColor(0x0E1628), smooth(1.0f, 17.0f, py));
            if (checked) {
                float glow = std::exp(-(std::pow(px - 9.0f, 2.0f) + std::pow(py - 9.0f, 2.0f)) / 40.0f);
                base = base + hexColor(0x6A4A18) * (0.45f * glow);
            }
            c.blendOver(x, y, base, cov * 0.95f);
        }
    strokeLine(c, box, -0.8f, 1.3f, goldRamp(checked ? 0.85f : 0.72f), 1.0f);
    if (checked) {
        auto mark = [&](float x, float y) {
            return std::min(sdSegment(x, y, 4.6f, 9.4f, 7.6f, 12.6f, 1.35f),
                            sdSegment(x, y, 7.6f, 12.6f, 13.6f, 4.8f, 1.35f));
        };
        for (int y = 0; y < S; ++y)
            for (int x = 0; x < S; ++x) {
                float px = x + 0.5f, py = y + 0.5f;
                float d = mark(px, py);
                c.blendOver(x, y, kOutlineDark, coverage(d - 0.9f) * 0.7f);
                float cov = coverage(d);
                if (cov > 0.0f) c.blendOver(x, y, goldRamp(0.9f - 0.15f * (py / S)), cov);
            }
    }
    return c;
}

// ---- buttons ----

Canvas paintMainButton(ButtonLook look) {
    const int W = 136, H = 45;
    Canvas c(W, H);
    const float cx = W * 0.5f, cy = H * 0.5f;
    auto plate = [&](float x, float y) { return sdChamferBox(x, y, cx, cy, cx - 0.5f, cy - 0.5f, 8.0f); };
    const bool hover = look == ButtonLook::Hover, pressed = look == ButtonLook::Pressed;
    const float lift = hover ? 0.14f : (pressed ? -0.22f : 0.0f);

    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = plate(px, py);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            float t = py / H;
            // Lacquered crimson centre; hover warms it and lights the middle, pressed sinks it.
            Rgb top = hover ? hexColor(0xA42E28) : (pressed ? hexColor(0x2A0708) : hexColor(0x8A2020));
            Rgb bottom = hover ? hexColor(0x581210) : (pressed ? hexColor(0x4A0F10) : hexColor(0x3E0A0C));
            Rgb base = mix(top, bottom, smooth(0.0f, 1.0f, t));
            float grain = fbm(px / 14.0f, py / 6.0f, 3, pressed ? 5u : 3u);
            base = base * (0.9f + 0.2f * grain);
            float centre = std::exp(-std::pow((px - cx) / 46.0f, 2.0f) - std::pow((py - cy) / 14.0f, 2.0f));
            if (hover)
                base = base + hexColor(0xFF8A40) * (0.28f * centre);
            else if (!pressed)
                base = base + hexColor(0xC04030) * (0.12f * centre);
            if (!pressed) {
                // Gloss across the upper half.
                float gloss = smooth(0.52f, 0.2f, t) * smooth(-6.0f, -9.0f, d);
                base = mix(base, hexColor(0xFFD0B0), gloss * (hover ? 0.16f : 0.1f));
            } else {
                // Inset: shadow under the upper rim.
                base = base * (0.45f + 0.55f * smooth(5.0f, 16.0f, py));
                base = mix(base, hexColor(0x3A3436), 0.18f);
            }
            c.blendOver(x, y, base, cov);
        }
    strokeLine(c, plate, -0.4f, 1.2f, hexColor(0x050302), 1.0f);
    goldBand(c, plate, -5.0f, -0.8f, lift);
    strokeLine(c, plate, -5.6f, 1.0f, hexColor(0x140805), 0.9f);
    auto innerLine = [&](float x, float y) { return sdChamferBox(x, y, cx, cy, cx - 8.0f, cy - 8.0f, 5.0f); };
    strokeLine(c, innerLine, 0.0f, 0.9f, goldRamp(0.75f + lift), pressed ? 0.35f : 0.55f);
    // Studs at both ends of the middle line.
    goldDiamond(c, 3.5f, cy, 3.5f, 6.0f, lift);
    goldDiamond(c, W - 3.5f, cy, 3.5f, 6.0f, lift);
    if (hover) {
        // A soft light breathing out of the frame's inner edge.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                float d = plate(x + 0.5f, y + 0.5f);
                if (d > -6.0f || d < -14.0f) continue;
                c.addLight(x, y, hexColor(0xFFB060), 0.12f * smooth(-14.0f, -6.0f, d));
            }
    }
    return c;
}

Canvas paintButton(ButtonLook look) {
    const int W = 136, H = 32;
    Canvas c(W, H);
    const float cx = W * 0.5f, cy = H * 0.5f;
    auto plate = [&](float x, float y) { return sdChamferBox(x, y, cx, cy, cx - 0.5f, cy - 0.5f, 6.0f); };
    const bool hover = look == ButtonLook::Hover, pressed = look == ButtonLook::Pressed;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = plate(px, py);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            float t = py / H;
            Rgb top = hover ? hexColor(0x2C4068) : (pressed ? hexColor(0x04060C) : hexColor(0x182640));
            Rgb bottom = hover ? hexColor(0x111C34) : (pressed ? hexColor(0x0C1424) : hexColor(0x080D19));
            Rgb base = mix(top, bottom, smooth(0.0f, 1.0f, t));
            base = base * (0.92f + 0.16f * fbm(px / 16.0f, py / 8.0f, 3, 9u));
            if (hover) {
                float inner = smooth(-7.0f, -1.5f, d);
                base = base + hexColor(0x8A6A30) * (0.35f * inner);
            }
            if (pressed)
                base = base * (0.5f + 0.5f * smooth(2.0f, 11.0f, py));
            else
                base = mix(base, hexColor(0x9AB0D8), 0.06f * smooth(0.5f, 0.0f, t));
            c.blendOver(x, y, base, cov * 0.97f);
        }
    strokeLine(c, plate, -0.3f, 1.0f, hexColor(0x020305), 0.9f);
    float borderLight = hover ? 0.9f : (pressed ? 0.5f : 0.74f);
    strokeLine(c, plate, -1.6f, hover ? 1.5f : 1.2f, goldRamp(borderLight), 1.0f);
    auto innerLine = [&](float x, float y) { return sdChamferBox(x, y, cx, cy, cx - 4.0f, cy - 4.0f, 4.0f); };
    strokeLine(c, innerLine, 0.0f, 0.8f, goldRamp(borderLight - 0.15f), pressed ? 0.15f : 0.3f);
    return c;
}

// ---- program icon ----

Canvas paintIcon(const Fonts& fonts, int size) {
    const float S = static_cast<float>(size);
    Canvas c(size, size);
    const float half = S * 0.5f;
    const float corner = S * 0.18f;
    const float frame = std::max(1.0f, S * 0.06f);
    // The letter fills about 62% of the tile's height, centred on its capital block.
    const char* letter = "M";
    float letterSize = S * 0.8f;
    float letterW = fonts.display.layoutWidth(letter, letterSize, 0.0f);
    Mask probe =
        fonts.display.textDistance(letter, letterSize, 0.0f, (S - letterW) * 0.5f, S * 0.8f, size, size);
    int top = size, bottom = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (probe(x, y) < 0.0f) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    float baseline = S * 0.8f + half - (top + bottom + 1) * 0.5f;
    Mask td =
        fonts.display.textDistance(letter, letterSize, 0.0f, (S - letterW) * 0.5f, baseline, size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = sdRoundBox(px, py, half, half, half - 0.5f, half - 0.5f, corner);
            float inside = coverage(d);
            if (inside <= 0.0f) continue;
            // Night-blue tile, lighter towards the top.
            Rgb tile = mix(hexColor(0x050609), hexColor(0x1A2540), clamp01(1.0f - py / S));
            c.blendOver(x, y, tile, inside);
            // Gold frame along the edge, lit from the upper left.
            float t = clamp01(-d / frame);
            float band = coverage(d + frame) < 1.0f ? 1.0f - coverage(d + frame) : 0.0f;
            if (band > 0.0f) {
                float nx = 0, ny = -1;
                sdfNormal(
                    [&](float ax, float ay) {
                        return sdRoundBox(ax, ay, half, half, half - 0.5f, half - 0.5f, corner);
                    },
                    px, py, nx, ny);
                c.blendOver(x, y, goldRamp(bevelLight(t * 2.0f - 1.0f, nx, ny)), band * inside);
            }
            // The letter in gold, brighter at its top.
            float ink = coverage(td(x, y) - std::max(0.0f, S / 128.0f));
            if (ink > 0.0f) c.blendOver(x, y, goldRamp(mixf(0.95f, 0.55f, clamp01(py / S))), ink * inside);
        }
    return c;
}

} // namespace artgen
