// reference_frame.h - a drawn frame held against the picture it must show: an area of the
// frame is compared with tests/data/frames/<name>.png pixel by pixel. With
// MORLAKEN_WRITE_FRAMES=1 the area is written as that reference instead (after a deliberate
// change of the look; open the new pictures and judge them before committing them).
//   ---- tunables ----   kChannelTolerance, kPixelsAllowed
//   ---- comparing ----  matchesReference
#pragma once

#include "gfx/texture.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace frametest {

// ---- tunables ----

// Another CPU under the same Mesa rounds a level or two differently on a few edge pixels;
// a wrong colour, a missing caret or a bar filled to another fraction changes far more.
inline constexpr int kChannelTolerance = 3, kPixelsAllowed = 4;

// ---- comparing ----

struct Area {
    int x = 0, y = 0, w = 0, h = 0; // framebuffer pixels, top left origin
};

// `rgba`: a frame `width` pixels wide, top row first. On a mismatch the area is saved as
// <build>/screenshots/<name>_diff.png: the frame's pixels darkened, those that differ magenta.
inline ::testing::AssertionResult matchesReference(const std::string& name, const std::vector<uint8_t>& rgba,
                                                   int width, Area a) {
    namespace fs = std::filesystem;
    const int height = width > 0 ? static_cast<int>(rgba.size() / 4 / width) : 0;
    if (a.x < 0 || a.y < 0 || a.w < 1 || a.h < 1 || a.x + a.w > width || a.y + a.h > height)
        return ::testing::AssertionFailure() << name << ": area outside the " << width << " x " << height;
    std::vector<uint8_t> shown;
    for (int y = a.y; y < a.y + a.h; ++y) {
        const auto row = rgba.begin() + (static_cast<ptrdiff_t>(y) * width + a.x) * 4;
        shown.insert(shown.end(), row, row + a.w * 4);
    }
    const fs::path reference = fs::path(MORLAKEN_TEST_DATA) / "frames" / (name + ".png");
    const char* write = std::getenv("MORLAKEN_WRITE_FRAMES");
    if (write && std::string(write) == "1") {
        fs::create_directories(reference.parent_path());
        if (writePng(reference.string(), shown.data(), a.w, a.h)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << reference << " could not be written";
    }
    int w = 0, h = 0, channels = 0;
    stbi_uc* want = stbi_load(reference.string().c_str(), &w, &h, &channels, 4);
    if (!want || w != a.w || h != a.h) {
        stbi_image_free(want);
        return ::testing::AssertionFailure() << reference << " missing or not " << a.w << " x " << a.h
                                             << " (MORLAKEN_WRITE_FRAMES=1 writes it)";
    }
    int differing = 0;
    std::vector<uint8_t> diff = shown;
    for (size_t i = 0; i < shown.size(); i += 4) {
        bool off = false;
        for (size_t c = 0; c < 3; ++c) {
            off |= std::abs(shown[i + c] - want[i + c]) > kChannelTolerance;
            diff[i + c] /= 3;
        }
        if (off) diff[i] = diff[i + 2] = 255, diff[i + 1] = 0, ++differing;
    }
    stbi_image_free(want);
    if (differing <= kPixelsAllowed) return ::testing::AssertionSuccess();
    const fs::path diffPath = fs::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots" / (name + "_diff.png");
    writePng(diffPath.string(), diff.data(), a.w, a.h);
    return ::testing::AssertionFailure() << name << ": " << differing << " pixels differ from " << reference
                                         << " (marked in " << diffPath << ")";
}

} // namespace frametest
