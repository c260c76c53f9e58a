// widgets.h - input state, the hot-area rule, buttons, text fields and key routing.
//
// Index
//   ---- input state ----     InputState, input()
//   ---- hot areas ----       hotArea (behaviour only, draws nothing)
//   ---- buttons ----         ButtonSkin, button
//   ---- text fields ----     TextField, the four fields, textField, appendCodePoint,
//                             codePointCount, acceptsCodePoint, typeCodePoint, backspace
//   ---- callbacks ----       onMouseButton, onChar, onKey (GLFW callbacks), routeChar,
//                             routeKey, keyHooks
// Widget ids are fixed texts compared by content; the id pointer must stay valid until
// the end of the frame (string literals do). Main thread only: the GLFW callbacks run
// inside the frame loop's event wait. Behaviour (hit rules, editing, key routing) needs
// no GL context; only button and textField draw.
#pragma once

#include "gfx/font.h"
#include "gfx/texture.h"

#include <cstdint>
#include <string>
#include <string_view>

struct GLFWwindow;

// ---- tunables ----
inline constexpr float kFieldWidth = 280, kFieldHeight = 50; // textField's fixed size
inline constexpr float kFieldTextInset = 36;                 // text starts at x + 36
inline constexpr float kFieldVisibleText = 208;              // scrolls beyond this width
inline constexpr float kFieldFontSize = 16;                  // body font
inline constexpr double kCaretPeriod = 1.0, kCaretOn = 0.55; // seconds
inline constexpr uint32_t kCaretColor = 0xE2C27A;
inline constexpr uint32_t kDisabledLabelColor = 0xB8AE96;
inline constexpr unsigned kUsernameMax = 16, kUsernameAccountMax = 64;

// ---- input state ----

struct InputState {
    float mouseX = 0, mouseY = 0; // logical pixels, set every frame
    bool mouseDown = false;
    bool mousePressed = false;      // this frame
    bool mouseReleased = false;     // this frame
    const char* activeId = nullptr; // widget that took the press; null = none
    bool wantHandCursor = false;
    bool wantTextCursor = false;
};
InputState& input();

// Start of a drawn frame: the cursor requests are cleared (widgets raise them again).
void beginFrameInput(InputState& in);
// End of a drawn frame: a release ends the active widget; the one-frame flags clear.
void endFrameInput(InputState& in);

// ---- hot areas ----

struct HotResult {
    bool hovered = false;
    bool held = false;
    bool clicked = false;
};
// The rule every mouse widget shares: hovered on the current input layer, a press makes
// it active, a click needs press and release on the same widget.
HotResult hotAreaBehavior(const char* id, int layer, float x, float y, float w, float h);
bool hotArea(const char* id, int layer, float x, float y, float w, float h, bool* outHovered = nullptr,
             bool* outHeld = nullptr);

// ---- buttons ----

struct ButtonSkin {
    Texture normal, hover, pressed;
};
ButtonSkin& mainButtonSkin();     // buton_ana_*.png
ButtonSkin& ordinaryButtonSkin(); // buton_*.png

bool button(const char* id, int layer, float x, float y, float w, float h, const ButtonSkin& skin,
            std::string_view label, const FontAtlas& font, uint32_t labelColor, float spacing, bool disabled);

// ---- text fields ----

enum FieldKind : int { UsernameField = 0, FreeTextField = 1, ServerAddressField = 2, DigitsField = 3 };

struct TextField {
    std::string text;
    unsigned maxChars = 0;
    bool masked = false;
    int kind = FreeTextField;
    std::string placeholder;
};

TextField& usernameField();
TextField& passwordField();
TextField& serverAddressField();
TextField& codeField();
TextField*& focusedField();
double& caretStart();

// Account-service variant of the username field (64 characters, e-mail placeholder, and
// + - . @ accepted). Set once at start-up.
void setAccountServiceMode(bool on);
bool accountServiceMode();

// Draws a 280 x 50 field and focuses it on a click.
void textField(const char* id, int layer, float x, float y, TextField& field);

void appendCodePoint(TextField& field, uint32_t c);
size_t codePointCount(std::string_view text);
bool acceptsCodePoint(const TextField& field, uint32_t c);
// Filter, limit, append and restart the caret: what a typed character does to a field.
void typeCodePoint(TextField& field, uint32_t c);
// Removes the last code point (all its bytes).
void backspace(TextField& field);

// Overwrites every byte with zero, then empties the text (secrets).
void wipeText(std::string& text);

// ---- callbacks ----

// Hooks the key routing calls; the application installs them at start-up.
// A null hook means: messageVisible -> false; openLoginDialog -> the standard opening
// (activeModal 1, focus on the password field when a username is filled, else on the
// username field, caret restarted); the close hooks -> nothing beyond activeModal = 0 and
// focus cleared (routeKey always does that after calling them); the others -> nothing;
// clipboardText -> empty.
struct KeyRoutingHooks {
    bool (*messageVisible)() = nullptr;
    void (*hideMessage)() = nullptr;
    void (*openLoginDialog)() = nullptr;
    void (*closeLoginDialog)() = nullptr; // cancels a login in progress first
    void (*closeSettingsDialog)() = nullptr;
    void (*submitLogin)() = nullptr;
    void (*saveSettings)() = nullptr;
    bool (*totpStep)() = nullptr;
    const char* (*clipboardText)() = nullptr; // null result counts as empty
};
KeyRoutingHooks& keyHooks();

// What a typed character does: ignored unless a field is focused, the message dialog is
// hidden and the game is not running; then filtered by the field's kind and limit.
void routeChar(uint32_t c);
// Key routing with GLFW key, action and modifier codes, first match wins: message dialog,
// Escape, Enter on the bare screen, Enter in a dialog, then Backspace, Tab and Ctrl+V on
// the focused field. Releases and every key while the game runs are ignored.
void routeKey(int key, int action, int mods);

// The GLFW callbacks (window unused): left button only; routeChar; routeKey.
void onMouseButton(GLFWwindow* window, int button, int action, int mods);
void onChar(GLFWwindow* window, unsigned int codepoint);
void onKey(GLFWwindow* window, int key, int scancode, int action, int mods);

// Tests: every field, the focus, the input state and the hooks back to start-up values.
void resetWidgetStateForTests();
