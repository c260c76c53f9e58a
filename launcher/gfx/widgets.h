// widgets.h - input events, the hot-area rule, buttons and text fields.
//
// Index
//   ---- input events ----    queueChar, queueKey, queueMouseButton, beginFrameInput,
//                             endFrameInput, dropKeys, isEnter, editFocusedField
//   ---- hot areas ----       beginLayer, HotResult, hotArea (behaviour only, draws nothing)
//   ---- buttons ----         ButtonSkin, ButtonStyle, button
//   ---- text fields ----     FieldKind, TextField, makeTextField, focusField, textField,
//                             appendCodePoint, acceptsCodePoint,
//                             typeCodePoint, backspace, pasteText
// Widget ids are fixed texts compared by content; the id pointer must stay valid until
// the end of the frame (string literals do). Widgets belong to the Ui's drawing layer and
// take the mouse only while it is the frame's input layer. Behaviour (hit rules, editing)
// needs no GL context; only button and textField draw. Which key does what is each
// screen's own business. Main thread only.
#pragma once

#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "gfx/ui.h"

#include <cstdint>
#include <string>
#include <string_view>

// ---- tunables ----
inline constexpr float kFieldWidth = 280, kFieldHeight = 50; // textField's fixed size
inline constexpr float kFieldTextInset = 36;                 // text starts at x + 36
inline constexpr float kFieldVisibleText = 208;              // scrolls beyond this width
inline constexpr FontRequest kFieldFont = {FontFamily::Body, 16};
inline constexpr double kCaretPeriod = 1.0, kCaretOn = 0.55; // seconds
// A field's text is reserved for this many code points of three bytes up front, so its
// buffer never moves and no copy of a password is left behind in freed memory.
inline constexpr unsigned kFieldReserveChars = 64;

// ---- input events ----

// What the window's callbacks do: queue the event (a mouse button other than the left one
// is not queued).
void queueChar(Ui& ui, uint32_t codepoint);
void queueKey(Ui& ui, int key, int action, int mods);
void queueMouseButton(Ui& ui, int button, int action);

// Start of a drawn frame: the queued mouse buttons set the mouse flags (down, pressed,
// released) and leave the queue, which then holds keys and characters only; how many of
// them came before the first button is noted (keysBeforeClick). The cursor requests are
// cleared (widgets raise them again).
void beginFrameInput(Ui& ui);
// End of a drawn frame: a release ends the active widget, the one-frame flags clear and
// the queue empties.
void endFrameInput(Ui& ui);
// A frame that draws nothing (the game runs): the keys and characters typed go unseen;
// mouse buttons stay queued.
void dropKeys(Ui& ui);

// Enter or the keypad's Enter.
bool isEnter(int key);

// The focused field's editing: a character is typed (typeCodePoint), Backspace (pressed or
// repeated) removes a letter, Ctrl+V pastes the window's clipboard. True when `event` was
// one of those (also with no field focused: it then does nothing).
bool editFocusedField(Ui& ui, const InputEvent& event);

// ---- hot areas ----

// The widgets drawn from now on belong to `layer`.
inline void beginLayer(Ui& ui, InputLayer layer) {
    ui.drawingLayer = layer;
}

struct HotResult {
    bool hovered = false;
    bool held = false;
    bool clicked = false;
};
// The rule every mouse widget shares: hovered while its layer is the input layer and the
// mouse is inside `r` (half-open edges), a press makes it active, a click needs press and
// release on the same widget. A hovered area asks for the hand cursor.
HotResult hotArea(Ui& ui, const char* id, const Rect& r);

// ---- buttons ----

struct ButtonSkin {
    Texture normal, hover, pressed;
};

// How a kind of button looks: its three images and its label (drawn with a drop shadow).
struct ButtonStyle {
    const ButtonSkin* skin = nullptr;
    FontRequest font;
    uint32_t labelColor = palette::kButtonLabel;
    float spacing = 0; // logical pixels after every letter
};

// Draws the skin's image for the button's state (pressed while held or disabled, hover
// while hovered) stretched over `r`, and the label centred on it, sunk 1 px while held;
// a disabled button's label is palette::kMuted. True on a click of an enabled button.
bool button(Ui& ui, const char* id, const Rect& r, std::string_view label, const ButtonStyle& style,
            bool disabled = false);

// ---- text fields ----

// What a field accepts: letters, digits and '_'; the same plus "+-.@" (a user name or an
// e-mail address, with an account service); any printable character; letters, digits and
// "-.:"; digits only.
enum class FieldKind : int32_t { Username, AccountName, FreeText, ServerAddress, Digits };

// A field's text and rules; owned by the dialog that shows it.
struct TextField {
    std::string text;
    unsigned maxChars = 0;
    bool masked = false;
    FieldKind kind = FieldKind::FreeText;
    const char* placeholder = ""; // shown, greyed, while the field is empty and not focused
};

// A field with its text's room reserved (kFieldReserveChars).
TextField makeTextField(FieldKind kind, unsigned maxChars, const char* placeholder, bool masked = false);

// The field takes the typing, and its caret restarts; null: no field does.
void focusField(Ui& ui, TextField* field);

// Draws a 280 x 50 field at (x, y) on `background` and focuses it on a click.
void textField(Ui& ui, const char* id, float x, float y, TextField& field, const Texture& background);

// Appends `c` in UTF-8; a code point from 0x10000 up is dropped (fields take the Basic
// Multilingual Plane only).
void appendCodePoint(TextField& field, uint32_t c);
bool acceptsCodePoint(const TextField& field, uint32_t c);
// Filter, limit, append: what a typed character does to a field. True when it was taken.
bool typeCodePoint(TextField& field, uint32_t c);
// Removes the last code point (all its bytes).
void backspace(TextField& field);
// Types every code point of `text` (UTF-8) into the field, as typeCodePoint does.
void pasteText(TextField& field, std::string_view text);

// Secret fields are wiped with wipeText (login/wipe.h), which zeroes their whole capacity.
