// scenes.cpp - the three painted scenes: main background, news banner, closing screen.
//
// Index
//   ---- tunables ----
//   ---- sky ----          gradient, stars, moon, cloud wisps
//   ---- land ----         mountain layers with mist
//   ---- citadel ----      silhouette and lit windows
//   ---- background ----   arkaplan.jpg
//   ---- banner ----       afis.jpg
//   ---- closing ----      kapanis.jpg
//
// The background and closing scenes share one night landscape recipe, so the launcher
// and its farewell look like the same place.
#include "art.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace artgen {

// ---- tunables ----

namespace {
const Rgb kNearBlack = hexColor(0x050609);
const Rgb kWindowWarm = hexColor(0xFFB450);

struct MountainLayer {
    float base;  // y of the valley floor line
    float amp;   // height of the highest peaks above it
    float scale; // horizontal size of one noise cell in pixels
    uint32_t seed;
    Rgb color; // silhouette colour
    Rgb mist;  // colour of the mist settling in front of it
    float mistAlpha;
};

struct Landscape {
    int width, height;
    Rgb skyTop, skyMid, skyLow;
    float skyMidAt, horizonY;  // fractions of the height / pixel line of the horizon
    float moonX, moonY, moonR; // moonR 0 = no moon
    Rgb moonGlow;
    float dawnX, dawnY, dawnStrength; // warm glow low in the sky; strength 0 = none
    std::vector<MountainLayer> layers;
    int castleLayer; // layer whose ridge carries the citadel, -1 = none
    float castleX, castleScale;
    uint32_t starSeed;
};
} // namespace

// ---- sky ----

namespace {

Rgb skyColor(const Landscape& s, float x, float y) {
    float t = y / s.horizonY;
    Rgb c = t < s.skyMidAt ? mix(s.skyTop, s.skyMid, smooth(0.0f, s.skyMidAt, t))
                           : mix(s.skyMid, s.skyLow, smooth(s.skyMidAt, 1.0f, t));
    if (s.dawnStrength > 0.0f) {
        float dx = (x - s.dawnX) / (s.width * 0.45f);
        float dy = std::max(0.0f, s.dawnY - y) / (s.horizonY * 0.45f);
        float g = std::exp(-dx * dx - dy * dy * 1.5f);
        c = c + hexColor(0xD07838) * (s.dawnStrength * g * g) +
            hexColor(0x6A3050) * (s.dawnStrength * 0.5f * g);
    }
    return c;
}

void paintSky(Canvas& c, const Landscape& s) {
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            Rgb col = skyColor(s, px, py);
            // Wisps of high cloud, lit faintly by the moon.
            float w = fbm(px / 220.0f, py / 38.0f, 5, s.starSeed + 3u);
            float wisp = smooth(0.52f, 0.78f, w) * smooth(s.horizonY, s.horizonY * 0.35f, py);
            col = mix(col, col * 1.5f + hexColor(0x10182C), wisp * 0.5f);
            c.blendOver(x, y, col, 1.0f);
        }
    // Stars: one candidate per 5 x 5 cell, fewer towards the horizon and near the moon.
    const int cell = 5;
    for (int cy = 0; cy * cell < static_cast<int>(s.horizonY); ++cy)
        for (int cx = 0; cx * cell < c.width(); ++cx) {
            float h = hash01(cx, cy, s.starSeed);
            float sx = cx * cell + hash01(cx, cy, s.starSeed + 1) * cell;
            float sy = cy * cell + hash01(cx, cy, s.starSeed + 2) * cell;
            float density = 0.16f * smooth(s.horizonY * 0.95f, s.horizonY * 0.2f, sy);
            if (s.moonR > 0.0f)
                density *= smooth(s.moonR * 1.3f, s.moonR * 4.0f, std::hypot(sx - s.moonX, sy - s.moonY));
            if (s.dawnStrength > 0.0f) density *= 1.0f - 0.8f * smooth(s.horizonY * 0.3f, s.horizonY, sy);
            if (h > density) continue;
            float bright = std::pow(hash01(cx, cy, s.starSeed + 4), 3.0f);
            float radius = 0.5f + 0.9f * bright;
            Rgb tint = mix(hexColor(0xBFD0FF), hexColor(0xFFE8C8), hash01(cx, cy, s.starSeed + 5));
            int r = 4;
            for (int y = static_cast<int>(sy) - r; y <= static_cast<int>(sy) + r; ++y)
                for (int x = static_cast<int>(sx) - r; x <= static_cast<int>(sx) + r; ++x) {
                    if (x < 0 || y < 0 || x >= c.width() || y >= c.height()) continue;
                    float dx = x + 0.5f - sx, dy = y + 0.5f - sy;
                    float core = std::exp(-(dx * dx + dy * dy) / (radius * radius));
                    // The brightest few get a faint cross of light.
                    float cross = bright > 0.6f
                                      ? 0.25f * (std::exp(-dy * dy * 4.0f) * std::exp(-std::fabs(dx) * 0.9f) +
                                                 std::exp(-dx * dx * 4.0f) * std::exp(-std::fabs(dy) * 0.9f))
                                      : 0.0f;
                    c.addLight(x, y, tint, (0.25f + 0.75f * bright) * (core + cross));
                }
        }
    if (s.moonR <= 0.0f) return;
    // Moon: pale disc with darker seas, a softened limb and a wide glow.
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float dist = std::hypot(px - s.moonX, py - s.moonY);
            float glow =
                0.5f * std::exp(-(dist - s.moonR) / (s.moonR * 0.35f)) * (dist > s.moonR ? 1.0f : 0.0f) +
                0.22f * std::exp(-dist / (s.moonR * 3.2f));
            c.addLight(x, y, s.moonGlow, glow);
            float cov = coverage(dist - s.moonR);
            if (cov <= 0.0f) continue;
            float u = (px - s.moonX) / s.moonR, v = (py - s.moonY) / s.moonR;
            float seas = fbm(u * 2.2f + 5.0f, v * 2.2f + 9.0f, 5, 77u);
            float craters = fbm(u * 7.0f, v * 7.0f, 3, 78u);
            float limb = std::sqrt(std::max(0.0f, 1.0f - u * u - v * v));
            float l = 0.72f + 0.28f * limb - 0.28f * smooth(0.45f, 0.7f, seas) - 0.08f * craters;
            // Lit from the lower right a little more than the upper left.
            l *= 0.92f + 0.08f * (u + v);
            c.blendOver(x, y, mix(hexColor(0x9AA4B8), hexColor(0xF4F2E6), clamp01(l)), cov);
        }
}

// ---- land ----

// The ridge without its fine rubble: used for the lighting of whole slopes.
float ridgeShape(const MountainLayer& m, float x) {
    float massif = smooth(0.3f, 0.72f, fbm(x / (m.scale * 2.2f), 0.61f * m.seed, 3, m.seed + 9u));
    float crest = smooth(0.18f, 0.8f, ridged(x / m.scale, 0.37f * m.seed, 5, m.seed));
    return 0.62f * massif + 0.5f * crest * (0.35f + 0.65f * massif);
}

float ridgeY(const MountainLayer& m, float x) {
    // Broad massifs from low-frequency noise, sharp crests from ridged noise riding on
    // them, and a little fine rubble so no edge is smooth.
    float rubble = fbm(x / (m.scale * 0.08f), 3.3f, 2, m.seed + 17u);
    float h = ridgeShape(m, x) + 0.04f * rubble;
    return m.base - m.amp * h;
}

// ---- citadel ----

// Distance to the citadel's outline with its foot at (bx, by), size scale s.
float citadelDistance(float x, float y, float bx, float by, float s) {
    float lx = (x - bx) / s, ly = (by - y) / s; // ly grows upwards
    auto box = [&](float x0, float x1, float y0, float y1) {
        return sdRoundBox(lx, ly, (x0 + x1) * 0.5f, (y0 + y1) * 0.5f, (x1 - x0) * 0.5f, (y1 - y0) * 0.5f,
                          0.0f);
    };
    auto roof = [&](float x0, float x1, float y0, float top) {
        return sdTriangle(lx, ly, x0, y0, x1, y0, (x0 + x1) * 0.5f, top);
    };
    float d = box(-70.0f, 70.0f, 0.0f, 30.0f); // curtain wall
    // The crag it stands on: a rough wedge widening downwards.
    float rock = std::min(sdTriangle(lx, ly, -78.0f, 2.0f, 80.0f, 2.0f, 150.0f, -160.0f),
                          sdTriangle(lx, ly, -78.0f, 2.0f, 150.0f, -160.0f, -160.0f, -160.0f));
    rock += 3.0f * (fbm(lx * 0.08f, ly * 0.08f, 3, 55u) - 0.5f);
    d = std::min(d, rock);
    // Battlements on the wall: merlons every 7 units.
    float merlon = box(-70.0f, 70.0f, 30.0f, 35.0f);
    float gapX = std::fmod(lx + 700.0f, 7.0f);
    if (gapX > 3.5f) merlon = std::max(merlon, 0.6f);
    d = std::min(d, merlon);
    d = std::min(d, box(-22.0f, 22.0f, 0.0f, 78.0f));  // keep
    d = std::min(d, box(-26.0f, 26.0f, 78.0f, 82.0f)); // keep's cornice
    d = std::min(d, box(-8.0f, 8.0f, 80.0f, 118.0f));  // central spire
    d = std::min(d, roof(-10.0f, 10.0f, 117.0f, 158.0f));
    d = std::min(d, box(-52.0f, -38.0f, 0.0f, 92.0f)); // left tower
    d = std::min(d, roof(-55.0f, -35.0f, 91.0f, 124.0f));
    d = std::min(d, box(36.0f, 54.0f, 0.0f, 104.0f)); // right tower
    d = std::min(d, roof(33.0f, 57.0f, 103.0f, 140.0f));
    d = std::min(d, box(-74.0f, -64.0f, 0.0f, 56.0f)); // wall turrets
    d = std::min(d, roof(-76.0f, -62.0f, 55.0f, 76.0f));
    d = std::min(d, box(64.0f, 74.0f, 0.0f, 52.0f));
    d = std::min(d, roof(62.0f, 76.0f, 51.0f, 70.0f));
    d = std::min(d, sdSegment(lx, ly, 0.0f, 157.0f, 0.0f, 170.0f, 0.7f)); // finial
    return d * s;
}

struct Window {
    float x0, x1, y0, y1; // in citadel units, y upwards
};
const Window kWindows[] = {{-4, 4, 96, 104},   {-14, -9, 52, 60}, {9, 14, 52, 60},    {-48, -43, 70, 77},
                           {42, 47, 82, 89},   {-3, 3, 30, 40},   {-40, -36, 18, 23}, {22, 26, 14, 19},
                           {-62, -58, 10, 14}, {48, 51, 40, 45}};

void paintCitadel(Canvas& c, float bx, float by, float s, Rgb color, Rgb rimLight, float moonX) {
    int x0 = std::max(0, static_cast<int>(bx - 165 * s)),
        x1 = std::min(c.width() - 1, static_cast<int>(bx + 155 * s));
    int y0 = std::max(0, static_cast<int>(by - 172 * s)),
        y1 = std::min(c.height() - 1, static_cast<int>(by + 165 * s));
    float lightDir = moonX < bx ? -1.0f : 1.0f;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = citadelDistance(px, py, bx, by, s);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            // Moonlit edge on the side facing the moon.
            float side = citadelDistance(px + lightDir * 1.5f, py - 0.8f, bx, by, s);
            // Only the masonry catches it; the rock under the wall stays in shadow.
            Rgb col = side > 0.0f && py < by - 2.0f * s ? mix(color, rimLight, 0.5f) : color;
            c.blendOver(x, y, col, cov);
        }
    // Warm windows with a small halo.
    for (const Window& w : kWindows) {
        float wx0 = bx + w.x0 * s, wx1 = bx + w.x1 * s, wy0 = by - w.y1 * s, wy1 = by - w.y0 * s;
        float cx = (wx0 + wx1) * 0.5f, cy = (wy0 + wy1) * 0.5f;
        float hw = std::max(0.6f, (wx1 - wx0) * 0.5f), hh = std::max(0.9f, (wy1 - wy0) * 0.5f);
        int r = static_cast<int>(8 * s + 6);
        for (int y = static_cast<int>(cy) - r; y <= static_cast<int>(cy) + r; ++y)
            for (int x = static_cast<int>(cx) - r; x <= static_cast<int>(cx) + r; ++x) {
                if (x < 0 || y < 0 || x >= c.width() || y >= c.height()) continue;
                float px = x + 0.5f, py = y + 0.5f;
                float d = sdRoundBox(px, py, cx, cy, hw, hh, std::min(hw, hh) * 0.6f);
                float cov = coverage(d);
                if (cov > 0.0f) c.blendOver(x, y, mix(kWindowWarm, hexColor(0xFFE8A8), 0.3f), cov * 0.95f);
                float halo = std::exp(-std::max(0.0f, d) / (2.5f * s + 1.0f));
                c.addLight(x, y, hexColor(0xFF9A40), 0.18f * halo);
            }
    }
}

void paintLand(Canvas& c, const Landscape& s) {
    for (size_t i = 0; i < s.layers.size(); ++i) {
        const MountainLayer& m = s.layers[i];
        for (int x = 0; x < c.width(); ++x) {
            float px = x + 0.5f;
            float ry = ridgeY(m, px);
            // Slopes that face the moon catch a little of its light below the crest.
            float slope = m.amp * (ridgeShape(m, px - 14.0f) - ridgeShape(m, px + 14.0f)) / 28.0f;
            float towardMoon = s.moonR > 0.0f && s.moonX < px ? -slope : slope;
            float facing = clamp01(towardMoon * 1.5f);
            float moonSide = s.moonR > 0.0f ? std::exp(-std::fabs(px - s.moonX) / (c.width() * 0.45f)) : 0.3f;
            for (int y = std::max(0, static_cast<int>(ry) - 2); y < c.height(); ++y) {
                float py = y + 0.5f;
                float cov = clamp01(py - ry + 0.5f);
                if (cov <= 0.0f) continue;
                float under = py - ry;
                float lit =
                    moonSide * (0.35f * std::exp(-under / 4.0f) + 0.3f * facing * std::exp(-under / 40.0f));
                Rgb col = m.color * (1.0f + lit);
                float tex = fbm(px / 18.0f, py / 9.0f, 4, m.seed + 1u);
                col = col * (0.85f + 0.3f * tex);
                c.blendOver(x, y, col, cov);
            }
        }
        if (static_cast<int>(i) == s.castleLayer) {
            // Seat the citadel on the nearest summit, on a crag of its own.
            float bestX = s.castleX, foot = ridgeY(m, s.castleX);
            for (float dx = -60.0f; dx <= 60.0f; dx += 1.0f)
                if (ridgeY(m, s.castleX + dx) < foot) {
                    foot = ridgeY(m, s.castleX + dx);
                    bestX = s.castleX + dx;
                }
            paintCitadel(c, bestX, foot + 4.0f * s.castleScale, s.castleScale, m.color * 0.95f,
                         m.color * 2.4f + hexColor(0x101828), s.moonX);
        }
        // Mist drifting in front of this layer, thickest along its foot.
        for (int y = 0; y < c.height(); ++y)
            for (int x = 0; x < c.width(); ++x) {
                float px = x + 0.5f, py = y + 0.5f;
                float band = std::exp(-std::pow((py - m.base) / (m.amp * 0.45f), 2.0f));
                float drift = fbm(px / 140.0f, py / 22.0f, 4, m.seed + 5u);
                float a = m.mistAlpha * band * smooth(0.3f, 0.75f, drift);
                if (a > 0.0f) c.blendOver(x, y, m.mist, a);
            }
    }
}

// A cloaked wanderer with a staff, feet at (fx, fy), `height` pixels tall, facing left;
// the cloak streams out behind him. Rim light on the side facing the moon.
void paintWanderer(Canvas& c, float fx, float fy, float height, Rgb color, Rgb rim) {
    const float u = height / 100.0f;
    auto shape = [&](float x, float y) {
        float lx = (x - fx) / u, ly = (fy - y) / u;
        float body = sdTriangle(lx, ly, -16.0f, 0.0f, 18.0f, 0.0f, 1.0f, 80.0f);
        body = std::min(body, sdRoundBox(lx, ly, 1.0f, 68.0f, 11.0f, 12.0f, 6.0f));
        body = std::min(body, sdCircle(lx, ly, -1.0f, 86.0f, 7.5f));
        body = std::min(body, sdTriangle(lx, ly, -8.0f, 84.0f, 9.0f, 84.0f, 4.0f, 99.0f)); // hood
        body =
            std::min(body, sdTriangle(lx, ly, 10.0f, 76.0f, 16.0f, 4.0f, 44.0f, 30.0f)); // cloak in the wind
        body = std::min(body, sdSegment(lx, ly, -20.0f, 0.0f, -17.0f, 104.0f, 1.8f));    // staff
        body = std::min(body, sdCircle(lx, ly, -17.0f, 106.0f, 3.0f));
        body = std::min(body, sdSegment(lx, ly, -8.0f, 64.0f, -18.0f, 70.0f, 3.0f)); // arm to the staff
        return body * u;
    };
    int x0 = std::max(0, static_cast<int>(fx - 30 * u)),
        x1 = std::min(c.width() - 1, static_cast<int>(fx + 50 * u));
    int y0 = std::max(0, static_cast<int>(fy - 112 * u)),
        y1 = std::min(c.height() - 1, static_cast<int>(fy + 2));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float d = shape(px, py);
            float cov = coverage(d);
            if (cov <= 0.0f) continue;
            float edge = shape(px + 1.2f, py - 0.6f) > 0.0f ? 1.0f : 0.0f;
            c.blendOver(x, y, mix(color, rim, 0.35f * edge), cov);
        }
}

// Darkens towards `target` with weight k (0..1) at a pixel.
void shadeTowards(Canvas& c, int x, int y, Rgb target, float k) {
    if (k <= 0.0f) return;
    float* p = c.at(x, y);
    k = clamp01(k);
    p[0] = mixf(p[0], target.r * p[3], k);
    p[1] = mixf(p[1], target.g * p[3], k);
    p[2] = mixf(p[2], target.b * p[3], k);
}

} // namespace

// ---- background ----

Canvas paintBackground() {
    const int W = 800, H = 610;
    Canvas c(W, H);
    Landscape s{};
    s.width = W;
    s.height = H;
    s.skyTop = hexColor(0x050A1C);
    s.skyMid = hexColor(0x0E1A3C);
    s.skyLow = hexColor(0x22335E);
    s.skyMidAt = 0.55f;
    s.horizonY = 400.0f;
    s.moonX = 168.0f;
    s.moonY = 112.0f;
    s.moonR = 40.0f;
    s.moonGlow = hexColor(0x8FA6D8);
    s.dawnStrength = 0.0f;
    s.layers = {
        {330.0f, 130.0f, 210.0f, 101u, hexColor(0x1D2A4E), hexColor(0x3A4C7C), 0.35f},
        {392.0f, 120.0f, 160.0f, 202u, hexColor(0x111A34), hexColor(0x2C3A64), 0.4f},
        {460.0f, 95.0f, 130.0f, 303u, hexColor(0x0A1022), hexColor(0x1E2A4A), 0.35f},
        {548.0f, 70.0f, 110.0f, 404u, hexColor(0x05070D), hexColor(0x121A30), 0.2f},
    };
    s.castleLayer = 1;
    s.castleX = 250.0f;
    s.castleScale = 0.72f;
    s.starSeed = 1234u;
    paintSky(c, s);
    paintLand(c, s);
    // Keep the panel side and the logo corner calm: a soft darkening towards the right,
    // a heavier one along the bottom, and a vignette.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float right = 0.45f * smooth(300.0f, 520.0f, px);
            float bottom = 0.75f * smooth(420.0f, 610.0f, py);
            float vx = (px - W * 0.4f) / (W * 0.75f), vy = (py - H * 0.4f) / (H * 0.8f);
            float vignette = 0.5f * smooth(0.35f, 1.0f, std::sqrt(vx * vx + vy * vy));
            float k = 1.0f - (1.0f - right) * (1.0f - bottom) * (1.0f - vignette);
            shadeTowards(c, x, y, kNearBlack, k);
        }
    return c;
}

// ---- banner ----

Canvas paintBanner() {
    const int W = 346, H = 176;
    Canvas c(W, H);
    const float horizon = 128.0f, sunX = 246.0f, sunY = 116.0f;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float t = py / horizon;
            // A sky on fire: bruised purple overhead, blood orange low down.
            Rgb col = t < 0.55f ? mix(hexColor(0x1A0A24), hexColor(0x6A1A2A), smooth(0.0f, 0.55f, t))
                                : mix(hexColor(0x6A1A2A), hexColor(0xF07A2A), smooth(0.55f, 1.0f, t));
            float dist = std::hypot((px - sunX) * 0.8f, py - sunY);
            col = col + hexColor(0xFFB060) * (0.9f * std::exp(-dist / 40.0f)) +
                  hexColor(0xFF6A20) * (0.3f * std::exp(-dist / 110.0f));
            // Clouds: dark bands whose undersides burn.
            float cl = fbm(px / 70.0f, py / 14.0f, 5, 501u);
            float cloud = smooth(0.5f, 0.7f, cl) * smooth(horizon + 4.0f, 20.0f, py);
            float under = smooth(0.0f, 1.0f, fbm(px / 70.0f, (py - 3.0f) / 14.0f, 5, 501u) - cl + 0.5f);
            Rgb cloudCol = mix(hexColor(0x240A18), hexColor(0xFF8A3A),
                               clamp01(under * 1.6f - 0.5f) * std::exp(-dist / 160.0f) * 1.4f);
            col = mix(col, cloudCol, cloud * 0.85f);
            c.blendOver(x, y, col, 1.0f);
        }
    // Sun disc half sunk in haze.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float cov = coverage(sdCircle(x + 0.5f, y + 0.5f, sunX, sunY, 15.0f));
            if (cov > 0.0f) c.blendOver(x, y, hexColor(0xFFE6B0), cov * 0.9f);
        }
    // Far hills, then the cliff with the citadel, then the near ground.
    MountainLayer far{132.0f, 34.0f, 60.0f, 611u, hexColor(0x3A1420), hexColor(0x8A3A30), 0.0f};
    MountainLayer near{150.0f, 22.0f, 45.0f, 612u, hexColor(0x12060C), hexColor(0x000000), 0.0f};
    for (int x = 0; x < W; ++x) {
        float px = x + 0.5f;
        float r1 = ridgeY(far, px), r2 = ridgeY(near, px);
        // The cliff rises on the left under the citadel.
        float cliff = 112.0f + 40.0f * smooth(60.0f, 190.0f, px) + 6.0f * fbm(px / 9.0f, 0.5f, 3, 613u);
        r2 = std::min(r2, cliff);
        for (int y = 0; y < H; ++y) {
            float py = y + 0.5f;
            float c1 = clamp01(py - r1 + 0.5f);
            if (c1 > 0.0f)
                c.blendOver(x, y, mix(hexColor(0x5A2028), hexColor(0x24080E), smooth(r1, r1 + 20.0f, py)),
                            c1);
            float c2 = clamp01(py - r2 + 0.5f);
            if (c2 > 0.0f)
                c.blendOver(x, y, mix(hexColor(0x14070A), hexColor(0x040203), smooth(r2, r2 + 30.0f, py)),
                            c2);
        }
    }
    paintCitadel(c, 96.0f, 124.0f, 0.5f, hexColor(0x0E0508), hexColor(0x8A3020), 400.0f);
    // A war banner on a pole at the right, streaming in the wind.
    const float poleX = 300.0f, poleTop = 66.0f, poleBottom = 152.0f;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float pole = sdSegment(px, py, poleX, poleTop, poleX + 2.0f, poleBottom, 1.1f);
            c.blendOver(x, y, hexColor(0x0A0406), coverage(pole));
            // Cloth: a wavy strip with a swallow-tail end.
            float u = (poleX - px) / 52.0f; // 0 at the pole, 1 at the tail
            if (u < 0.0f || u > 1.05f) continue;
            float wave = 3.5f * std::sin(u * 7.5f + 0.6f) * u;
            float top = poleTop + 2.0f + wave + u * 4.0f, bottom = poleTop + 26.0f + wave - u * 3.0f;
            float notch = u > 0.8f ? (u - 0.8f) * 55.0f : 0.0f;
            float mid = (top + bottom) * 0.5f;
            float inside = std::min(py - top, bottom - py);
            if (notch > 0.0f) inside = std::min(inside, std::fabs(py - mid) - notch * 0.5f);
            inside = std::min(inside, (1.0f - u) * 52.0f);
            float cov = clamp01(inside + 0.5f);
            if (cov <= 0.0f) continue;
            // Crimson cloth, lit through from the sun behind it, folds shading it in bands.
            float shade = 0.55f + 0.45f * std::cos(u * 7.5f + 0.6f);
            Rgb cloth = mix(hexColor(0x1E0408), hexColor(0x8A1820), shade * (1.0f - 0.4f * u));
            // A thin gold hem along the edges and a gold lozenge near the pole.
            float hem = clamp01(1.5f - inside);
            cloth = mix(cloth, hexColor(0xC89A48), hem * 0.7f);
            float lozenge = sdDiamond(px, py, poleX - 15.0f, mid, 5.0f, 7.0f);
            cloth = mix(cloth, hexColor(0xE2C27A) * (0.7f + 0.3f * shade), coverage(lozenge));
            c.blendOver(x, y, cloth, cov);
        }
    // Embers rising from the fire below.
    for (int i = 0; i < 70; ++i) {
        float ex = hash01(i, 1, 777u) * W, ey = 30.0f + hash01(i, 2, 777u) * 110.0f;
        float er = 0.5f + 1.1f * hash01(i, 3, 777u);
        for (int y = static_cast<int>(ey) - 4; y <= static_cast<int>(ey) + 4; ++y)
            for (int x = static_cast<int>(ex) - 4; x <= static_cast<int>(ex) + 4; ++x) {
                if (x < 0 || y < 0 || x >= W || y >= H) continue;
                float dx = x + 0.5f - ex, dy = y + 0.5f - ey;
                c.addLight(x, y, hexColor(0xFF9A40), 0.8f * std::exp(-(dx * dx + dy * dy) / (er * er)));
            }
    }
    // Vignette, and a dark foot for the caption band.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float vx = (px - W * 0.5f) / (W * 0.62f), vy = (py - H * 0.45f) / (H * 0.7f);
            float k =
                0.55f * smooth(0.5f, 1.1f, std::sqrt(vx * vx + vy * vy)) + 0.5f * smooth(H - 44.0f, H, py);
            shadeTowards(c, x, y, kNearBlack, k);
        }
    return c;
}

// ---- closing ----

Canvas paintClosing(const Fonts& fonts) {
    const int W = 1280, H = 640;
    Canvas c(W, H);
    Landscape s{};
    s.width = W;
    s.height = H;
    s.skyTop = hexColor(0x040818);
    s.skyMid = hexColor(0x101C40);
    s.skyLow = hexColor(0x2A3258);
    s.skyMidAt = 0.5f;
    s.horizonY = 430.0f;
    s.moonX = 1010.0f;
    s.moonY = 150.0f;
    s.moonR = 34.0f;
    s.moonGlow = hexColor(0x8FA6D8);
    s.dawnX = 420.0f;
    s.dawnY = 330.0f;
    s.dawnStrength = 0.9f; // the first light behind the citadel: the night is ending
    s.layers = {
        {350.0f, 140.0f, 260.0f, 901u, hexColor(0x222B4E), hexColor(0x4A4C78), 0.35f},
        {420.0f, 125.0f, 190.0f, 902u, hexColor(0x131B36), hexColor(0x2E3A66), 0.4f},
        {500.0f, 100.0f, 150.0f, 903u, hexColor(0x0A0F20), hexColor(0x1E2848), 0.3f},
        {590.0f, 70.0f, 120.0f, 904u, hexColor(0x05070C), hexColor(0x10182C), 0.2f},
    };
    s.castleLayer = 1;
    s.castleX = 420.0f;
    s.castleScale = 0.8f;
    s.starSeed = 4321u;
    paintSky(c, s);
    paintLand(c, s);
    // A traveller on the near hill turns back towards the citadel for a last look.
    const MountainLayer& hill = s.layers.back();
    // He stands on the highest point of the near hills on the left, so that he is seen
    // against the mist behind.
    float fx = 120.0f, fy = ridgeY(hill, fx);
    for (float x = 120.0f; x <= 330.0f; x += 1.0f)
        if (ridgeY(hill, x) < fy) {
            fy = ridgeY(hill, x);
            fx = x;
        }
    for (float dx = -8.0f; dx <= 8.0f; dx += 1.0f)
        fy = std::max(fy, ridgeY(hill, fx + dx));
    paintWanderer(c, fx, fy + 2.0f, 84.0f, hill.color * 0.8f, hexColor(0x3A4670));
    // The launcher draws the logo at (850, 401, 360 x 189): keep that corner dark.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float dx = (px - 1030.0f) / 330.0f, dy = (py - 500.0f) / 190.0f;
            float logo = 0.55f * std::exp(-(dx * dx + dy * dy));
            float bottom = 0.7f * smooth(470.0f, 640.0f, py);
            float vx = (px - W * 0.45f) / (W * 0.7f), vy = (py - H * 0.4f) / (H * 0.85f);
            float vignette = 0.55f * smooth(0.4f, 1.0f, std::sqrt(vx * vx + vy * vy));
            shadeTowards(c, x, y, kNearBlack, 1.0f - (1.0f - logo) * (1.0f - bottom) * (1.0f - vignette));
        }
    // Farewell, lettered small under the logo.
    const char* farewell = "Görüşmek üzere";
    const Font& font = fonts.display.covers(farewell) ? fonts.display : fonts.body;
    float size = 24.0f, spacing = 2.0f;
    float w = font.layoutWidth(farewell, size, spacing);
    // Lettered on a strip of its own: a full-size distance grid would cost ~200 MB.
    const int rx = 800, ry = 560, rw = W - rx, rh = H - ry;
    Mask d = font.textDistance(farewell, size, spacing, 1030.0f - rx - w * 0.5f, 618.0f - ry, rw, rh);
    Mask halo(rw, rh);
    for (size_t i = 0; i < halo.v.size(); ++i)
        halo.v[i] = coverage(d.v[i]);
    halo = gaussianBlur(halo, 5.0f);
    for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x) {
            c.addLight(rx + x, ry + y, hexColor(0xB08040), 0.35f * halo(x, y));
            c.blendOver(rx + x, ry + y, hexColor(0x000000), coverage(d(x, y) - 1.2f) * 0.6f);
            c.blendOver(rx + x, ry + y, mix(hexColor(0xECE6D6), hexColor(0xE2C27A), 0.35f),
                        coverage(d(x, y)));
        }
    return c;
}

} // namespace artgen
