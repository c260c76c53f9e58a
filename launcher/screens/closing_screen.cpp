// closing_screen.cpp - the closing screen.
#include "screens/closing_screen.h"

#include "gfx/frame.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "screens/ui_state.h"

void enterClosingScreen() {
    UiState& s = ui();
    s.gameState = GameState::Closing;
    s.closingStart = now();
    if (images().closingImage.id == 0) images().closingImage = loadTexture(kClosingImage);
    frameContext().windowWidth = kClosingWidth;
    frameContext().windowHeight = kClosingHeight;
    input().mousePressed = false;
    input().mouseReleased = false;
}

void drawClosingScreen() {
    const LauncherImages& im = images();
    drawTexture(im.closingImage, 0, 0, kClosingWidth, kClosingHeight, 1.0f);
    drawTexture(im.logo, 850, 401, 360, 189, 1.0f);
    if (input().mouseReleased || now() - ui().closingStart > kClosingSeconds) ui().closeRequested = true;
}
