// frame_steps.cpp - the frame loop's arithmetic.
//
// Index
//   ---- per-frame values ----
//   ---- window dragging ----
#include "app/frame_steps.h"

#include <cmath>

// ---- tunables ----
namespace {
constexpr float kScaleTolerance = 0.01f;    // smaller scale changes keep the glyph atlases
} // namespace

// ---- per-frame values ----

InputLayer computeInputLayer(bool messageVisible, Modal activeModal) {
    if (messageVisible) return InputLayer::Message;
    return activeModal != Modal::None ? InputLayer::Dialog : InputLayer::MainScreen;
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

// ---- window dragging ----

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
