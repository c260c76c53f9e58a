// dialogs.cpp - the modal dialogs' opening and closing rules, and key routing.
//
// Index
//   ---- modal dialogs ----
//   ---- key routing ----
#include "screens/dialogs.h"

#include "config/config.h"
#include "gfx/widgets.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"

#include <GLFW/glfw3.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// ---- modal dialogs ----

namespace {
void focusField(TextField* field) {
    focusedField() = field;
    caretStart() = now();
}
} // namespace

void openLoginDialog() {
    ui().activeModal = Modal::Login;
    // The second field is the code field while a cancelled two-step login still waits for
    // its answer to be dropped.
    const bool totp = keyHooks().totpStep && keyHooks().totpStep();
    focusField(usernameField().text.empty() ? &usernameField() : totp ? &codeField() : &passwordField());
}

void closeLoginDialog() {
    if (keyHooks().cancelLogin) keyHooks().cancelLogin();
    ui().activeModal = Modal::None;
    focusedField() = nullptr;
}

void openSettingsDialog() {
    ui().activeModal = Modal::Settings;
    serverAddressField().text = configGet("sunucu", "127.0.0.1");
    focusField(&serverAddressField());
}

void closeSettingsDialog() {
    ui().activeModal = Modal::None;
    focusedField() = nullptr;
}

// ---- key routing ----

KeyRoutingHooks& keyHooks() {
    static KeyRoutingHooks hooks;
    return hooks;
}

namespace {
bool isEnter(int key) {
    return key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER;
}

void paste(TextField& field) {
    const char* clip = keyHooks().clipboardText ? keyHooks().clipboardText() : nullptr;
    if (clip) pasteText(field, clip);
}
} // namespace

void routeChar(uint32_t c) {
    if (!focusedField() || messageVisible() || ui().gameState != GameState::NotRunning) return;
    typeCodePoint(*focusedField(), c);
}

void routeKey(int key, int action, int mods) {
    if (action == GLFW_RELEASE || ui().gameState != GameState::NotRunning) return;
    const KeyRoutingHooks& hooks = keyHooks();
    const Modal modal = ui().activeModal;

    if (messageVisible()) {
        if (key == GLFW_KEY_ESCAPE || isEnter(key)) hideMessage();
        return;
    }
    if (key == GLFW_KEY_ESCAPE) {
        if (modal == Modal::Login) closeLoginDialog();
        if (modal == Modal::Settings) closeSettingsDialog();
        return;
    }
    if (isEnter(key)) {
        if (modal == Modal::None) openLoginDialog();
        if (modal == Modal::Login && hooks.submitLogin) hooks.submitLogin();
        if (modal == Modal::Settings && hooks.saveSettings) hooks.saveSettings();
        return;
    }
    if (modal == Modal::None) return;

    TextField* field = focusedField();
    if (!field) return;
    if (key == GLFW_KEY_BACKSPACE) {
        backspace(*field);
    } else if (key == GLFW_KEY_TAB) {
        if (modal != Modal::Login) return; // the settings dialog has one field
        if (field == &usernameField())
            focusField((hooks.totpStep && hooks.totpStep()) ? &codeField() : &passwordField());
        else
            focusField(&usernameField());
    } else if (key == GLFW_KEY_V && (mods & GLFW_MOD_CONTROL)) {
        paste(*field);
    }
}

// Keys that arrive after a click the frame has not handled yet wait for that frame: a
// name typed right after START belongs to the dialog the click opens, not to the screen
// under it. Clicks are handled by the widgets during the frame, keys here as they come.
namespace {
struct HeldKey {
    bool isChar;
    uint32_t codepoint;
    int key, action, mods;
};
std::array<HeldKey, 64> gHeld;
size_t gHeldCount = 0;

void route(const HeldKey& k) {
    if (k.isChar)
        routeChar(k.codepoint);
    else
        routeKey(k.key, k.action, k.mods);
}

void holdOrRoute(const HeldKey& k) {
    const InputState& in = input();
    if (!in.mousePressed && !in.mouseReleased && gHeldCount == 0) {
        route(k);
        return;
    }
    if (gHeldCount == gHeld.size()) routeHeldKeys(); // a frame this late: keep the order
    gHeld[gHeldCount++] = k;
}
} // namespace

void routeHeldKeys() {
    const size_t count = gHeldCount;
    gHeldCount = 0;
    for (size_t i = 0; i < count; ++i)
        route(gHeld[i]);
}

void onChar(GLFWwindow*, unsigned int codepoint) {
    holdOrRoute({true, codepoint, 0, 0, 0});
}

void onKey(GLFWwindow*, int key, int, int action, int mods) {
    holdOrRoute({false, 0, key, action, mods});
}
