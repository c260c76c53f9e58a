// closing_screen.cpp - the closing screen.
#include "screens/closing_screen.h"

#include "gfx/texture.h"
#include "screens/skin.h"

#include <algorithm>

namespace {
constexpr Rect kPicture = {0, 0, kClosingWidth, kClosingHeight};
constexpr Rect kLogo = {850, 401, 360, 189};
} // namespace

void enterClosingScreen(ScreenState& state, Skin& skin, Ui& ui, double nowSeconds) {
    state.gameState = GameState::Closing;
    state.closingStart = nowSeconds;
    loadClosingImage(skin);
    ui.frame.windowWidth = kClosingWidth;
    ui.frame.windowHeight = kClosingHeight;
    ui.input.mousePressed = false;
    ui.input.mouseReleased = false;
    std::erase_if(ui.events, [](const InputEvent& e) { return e.kind == InputEvent::Kind::MouseButton; });
}

void drawClosingScreen(const Ui& ui, const Skin& skin, ScreenState& state, double nowSeconds) {
    drawTexture(skin.images.closingImage, kPicture);
    drawTexture(skin.images.logo, kLogo);
    if (ui.input.mouseReleased || nowSeconds - state.closingStart > kClosingSeconds)
        state.closeRequested = true;
}
