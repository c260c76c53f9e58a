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

void scaleMouse(const WindowMetrics& window, const FrameContext& frame, float& outX, float& outY) {
    outX = static_cast<float>(frame.windowWidth * window.cursorX / (window.width > 1 ? window.width : 1));
    outY = static_cast<float>(frame.windowHeight * window.cursorY / (window.height > 1 ? window.height : 1));
}

bool checkContentScale(float& inOutScale, int framebufferWidth, int logicalWidth) {
    if (logicalWidth <= 0) return false;
    const float s = static_cast<float>(framebufferWidth) / static_cast<float>(logicalWidth);
    if (!(s > 0) || std::fabs(s - inOutScale) <= kScaleTolerance) return false;
    inOutScale = s;
    return true;
}

// ---- window dragging ----

void beginDrag(DragState& d, WindowPosition window, double cx, double cy) {
    d.dragging = true;
    d.dragWinX = window.x;
    d.dragWinY = window.y;
    d.dragAnchorX = window.x + cx;
    d.dragAnchorY = window.y + cy;
}

WindowPosition dragTarget(const DragState& d, WindowPosition window, double cx, double cy) {
    return {d.dragWinX + static_cast<int>(std::trunc(window.x + cx - d.dragAnchorX)),
            d.dragWinY + static_cast<int>(std::trunc(window.y + cy - d.dragAnchorY))};
}
