// ui_state.cpp - process-wide UI state and the frame loop's arithmetic.
//
// Index
//   ---- state ----
//   ---- frame helpers ----
#include "app/ui_state.h"

#include <chrono>
#include <cmath>

// ---- tunables ----
namespace {
constexpr double kSpeedSampleSeconds = 1.0; // one speed sample per second at most
constexpr double kSpeedNewWeight = 0.3;     // smoothing: 0.3 new + 0.7 old
constexpr float kScaleTolerance = 0.01f;    // smaller scale changes keep the glyph atlases
} // namespace

// ---- state ----

UiState& ui() {
    static UiState state;
    return state;
}

double now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// ---- frame helpers ----

void sampleDownloadSpeed(UiState& s, int32_t state, int64_t bytesDone, double nowSeconds) {
    if (state != 2) { // anything but Downloading restarts the sample
        s.downloadSpeed = 0;
        s.speedLastBytes = bytesDone;
        s.speedLastTime = nowSeconds;
        return;
    }
    const double elapsed = nowSeconds - s.speedLastTime;
    if (elapsed < kSpeedSampleSeconds) return;
    double rate = static_cast<double>(bytesDone - s.speedLastBytes) / elapsed;
    if (s.downloadSpeed > 0) rate = kSpeedNewWeight * rate + (1.0 - kSpeedNewWeight) * s.downloadSpeed;
    s.downloadSpeed = rate;
    s.speedLastBytes = bytesDone;
    s.speedLastTime = nowSeconds;
}

int32_t computeInputLayer(bool messageVisible, int32_t activeModal) {
    if (messageVisible) return 2;
    return activeModal != 0 ? 1 : 0;
}

void scaleMouse(double cx, double cy, int windowW, int windowH, int logicalW, int logicalH, float& outX,
                float& outY) {
    outX = static_cast<float>(logicalW * cx / (windowW > 1 ? windowW : 1));
    outY = static_cast<float>(logicalH * cy / (windowH > 1 ? windowH : 1));
}

bool checkContentScale(float& inOutScale, int framebufferWidth, int logicalWidth) {
    if (logicalWidth <= 0) return false;
    const float s = static_cast<float>(framebufferWidth) / static_cast<float>(logicalWidth);
    if (!(s > 0) || std::fabs(s - inOutScale) <= kScaleTolerance) return false;
    inOutScale = s;
    return true;
}

void beginDrag(DragState& d, int winX, int winY, double cx, double cy) {
    d.dragging = true;
    d.dragWinX = winX;
    d.dragWinY = winY;
    d.dragAnchorX = winX + cx;
    d.dragAnchorY = winY + cy;
}

void dragTarget(const DragState& d, int winX, int winY, double cx, double cy, int& outX, int& outY) {
    outX = d.dragWinX + static_cast<int>(std::trunc(winX + cx - d.dragAnchorX));
    outY = d.dragWinY + static_cast<int>(std::trunc(winY + cy - d.dragAnchorY));
}
