// widgets.h - input state, the hot-area rule, buttons and text fields.
//
// Index
//   ---- input state ----     InputState, input(), onMouseButton (GLFW callback)
//   ---- hot areas ----       hotArea (behaviour only, draws nothing)
//   ---- buttons ----         ButtonSkin, ButtonStyle, button
//   ---- text fields ----     TextField, the four fields, textField, appendCodePoint,
//                             acceptsCodePoint, typeCodePoint, backspace, pasteText
// Widget ids are fixed texts compared by content; the id pointer must stay valid until
// the end of the frame (string literals do). Widgets take the mouse only on the frame
// context's input layer. Main thread only: the GLFW callbacks run inside the frame loop's
// event wait. Behaviour (hit rules, editing) needs no GL context; only button and
// textField draw. Which key does what is the screens' business (screens/dialogs.h).
#pragma once

#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/palette.h"
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
HotResult hotAreaBehavior(const char* id, InputLayer layer, float x, float y, float w, float h);
bool hotArea(const char* id, InputLayer layer, float x, float y, float w, float h, bool* outHovered = nullptr,
             bool* outHeld = nullptr);

// ---- buttons ----

struct ButtonSkin {
    Texture normal, hover, pressed;
};
ButtonSkin& mainButtonSkin();     // buton_ana_*.png
ButtonSkin& ordinaryButtonSkin(); // buton_*.png

// How a kind of button looks: its three images and its label's font and colour.
struct ButtonStyle {
    ButtonSkin& (*skin)();
    FontFamily family;
    float fontSize;
    uint32_t labelColor;
    float spacing; // logical pixels after every letter
};

// Draws the skin's image for the button's state (pressed while held or disabled, hover
// while hovered) stretched to w x h, and the label centred on it, sunk 1 px while held;
// a disabled button's label is palette::kMuted. True on a click of an enabled button.
bool button(const char* id, InputLayer layer, float x, float y, float w, float h, std::string_view label,
            const ButtonStyle& style, bool disabled = false);

// ---- text fields ----

// What a field accepts: letters, digits and '_' (plus "+-.@" in account-service mode);
// any printable character; letters, digits and "-.:"; digits only.
enum class FieldKind : int32_t { Username, FreeText, ServerAddress, Digits };

struct TextField {
    std::string text;
    unsigned maxChars = 0;
    bool masked = false;
    FieldKind kind = FieldKind::FreeText;
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
void textField(const char* id, InputLayer layer, float x, float y, TextField& field);

// Appends `c` in UTF-8; a code point from 0x10000 up is dropped (fields take the Basic
// Multilingual Plane only).
void appendCodePoint(TextField& field, uint32_t c);
bool acceptsCodePoint(const TextField& field, uint32_t c);
// Filter, limit, append and restart the caret: what a typed character does to a field.
void typeCodePoint(TextField& field, uint32_t c);
// Removes the last code point (all its bytes).
void backspace(TextField& field);
// Types every code point of `text` (UTF-8) into the field, as typeCodePoint does.
void pasteText(TextField& field, std::string_view text);

// Secret fields are wiped with platform::wipeText (platform/text.h), which zeroes their whole
// capacity.

// ---- callbacks ----

// The GLFW mouse-button callback (window unused): the left button only.
void onMouseButton(GLFWwindow* window, int button, int action, int mods);

// Tests: every field, the focus and the input state back to start-up values.
void resetWidgetStateForTests();
