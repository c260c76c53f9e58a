// widgets.cpp - input events, the hot-area rule, buttons and text fields.
//
// Index
//   ---- input events ----
//   ---- hot areas ----
//   ---- buttons ----
//   ---- text fields: editing ----
//   ---- text fields: drawing ----
#include "gfx/widgets.h"

#include "platform/clock.h"
#include "platform/text.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>

// ---- input events ----

void queueChar(Ui& ui, uint32_t codepoint) {
    InputEvent e;
    e.kind = InputEvent::Kind::Char;
    e.codepoint = codepoint;
    ui.events.push_back(e);
}

void queueKey(Ui& ui, int key, int action, int mods) {
    InputEvent e;
    e.kind = InputEvent::Kind::Key;
    e.key = key;
    e.action = action;
    e.mods = mods;
    ui.events.push_back(e);
}

void queueMouseButton(Ui& ui, int button, int action) {
    if (button != GLFW_MOUSE_BUTTON_LEFT) return;
    InputEvent e;
    e.kind = InputEvent::Kind::MouseButton;
    e.key = button;
    e.action = action;
    ui.events.push_back(e);
}

void beginFrameInput(Ui& ui) {
    InputState& in = ui.input;
    in.wantHandCursor = false;
    in.wantTextCursor = false;
    size_t keys = 0;
    bool clicked = false;
    ui.keysBeforeClick = 0;
    for (const InputEvent& e : ui.events) {
        if (e.kind != InputEvent::Kind::MouseButton) {
            ui.events[keys++] = e; // keys keep their order
            if (!clicked) ui.keysBeforeClick = keys;
            continue;
        }
        clicked = true;
        if (e.action == GLFW_PRESS) {
            in.mouseDown = true;
            in.mousePressed = true;
        } else if (e.action == GLFW_RELEASE) {
            in.mouseReleased = true;
            in.mouseDown = false;
        }
    }
    ui.events.resize(keys);
}

void endFrameInput(Ui& ui) {
    InputState& in = ui.input;
    if (in.mouseReleased) in.activeId = nullptr;
    in.mousePressed = false;
    in.mouseReleased = false;
    ui.events.clear();
    ui.keysBeforeClick = 0;
}

void dropKeys(Ui& ui) {
    std::erase_if(ui.events, [](const InputEvent& e) { return e.kind != InputEvent::Kind::MouseButton; });
}

bool isEnter(int key) {
    return key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER;
}

bool editFocusedField(Ui& ui, const InputEvent& event) {
    TextField* field = ui.focus;
    bool typed = false;
    if (event.kind == InputEvent::Kind::Char) {
        typed = field && typeCodePoint(*field, event.codepoint);
    } else if (event.kind != InputEvent::Kind::Key || event.action == GLFW_RELEASE) {
        return false;
    } else if (event.key == GLFW_KEY_BACKSPACE) {
        if (field) backspace(*field);
        typed = field != nullptr;
    } else if (event.key == GLFW_KEY_V && (event.mods & GLFW_MOD_CONTROL)) {
        const char* clip = field && ui.window ? glfwGetClipboardString(ui.window) : nullptr;
        if (clip) {
            const size_t length = field->text.size();
            pasteText(*field, clip);
            typed = field->text.size() != length;
        }
    } else {
        return false;
    }
    if (typed) ui.caretStart = platform::now();
    return true;
}

// ---- hot areas ----

namespace {
bool sameId(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}
} // namespace

HotResult hotArea(Ui& ui, const char* id, const Rect& r) {
    InputState& in = ui.input;
    HotResult result;
    result.hovered = ui.drawingLayer == ui.frame.inputLayer && r.x <= in.mouseX && in.mouseX < r.x + r.w &&
                     r.y <= in.mouseY && in.mouseY < r.y + r.h;
    if (result.hovered) {
        in.wantHandCursor = true;
        if (in.mousePressed) in.activeId = id;
    }
    result.held = result.hovered && sameId(in.activeId, id) && in.mouseDown;
    result.clicked = result.hovered && in.mouseReleased && sameId(in.activeId, id);
    return result;
}

// ---- buttons ----

bool button(Ui& ui, const char* id, const Rect& r, std::string_view label, const ButtonStyle& style,
            bool disabled) {
    const HotResult hot = hotArea(ui, id, r);
    if (style.skin) {
        const ButtonSkin& skin = *style.skin;
        drawTexture((disabled || hot.held) ? skin.pressed : hot.hovered ? skin.hover : skin.normal, r);
    }
    const FontAtlas& font = getFont(ui, style.font);
    const TextStyle text{style.font, disabled ? palette::kMuted : style.labelColor, style.spacing,
                         Shadow::Drop};
    const float width = textWidth(font, label, style.spacing);
    const float left = nearest(r.x + (r.w - width) * 0.5f);
    float baseline = r.y + r.h * 0.5f + (font.ascent + font.descent) * 0.5f;
    if (hot.held) baseline += 1; // the label sinks while held
    drawText(ui, text, left, baseline, label);
    return hot.clicked && !disabled;
}

// ---- text fields: editing ----

TextField makeTextField(FieldKind kind, unsigned maxChars, const char* placeholder, bool masked) {
    TextField f;
    f.maxChars = maxChars;
    f.masked = masked;
    f.kind = kind;
    f.placeholder = placeholder;
    f.text.reserve(static_cast<size_t>(std::max(kFieldReserveChars, maxChars)) * 3);
    return f;
}

void focusField(Ui& ui, TextField* field) {
    ui.focus = field;
    if (field) ui.caretStart = platform::now();
}

void appendCodePoint(TextField& field, uint32_t c) {
    if (c < 0x10000) platform::appendUtf8(field.text, c); // from 0x10000 up: dropped
}

bool acceptsCodePoint(const TextField& field, uint32_t c) {
    const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    switch (field.kind) {
    case FieldKind::FreeText:
        return c >= 32 && c != 127;
    case FieldKind::Digits:
        return c >= '0' && c <= '9';
    case FieldKind::Username:
        return letterOrDigit || c == '_';
    case FieldKind::AccountName:
        return letterOrDigit || c == '_' || c == '+' || c == '-' || c == '.' || c == '@';
    case FieldKind::ServerAddress:
        return letterOrDigit || c == '-' || c == '.' || c == ':';
    }
    return false;
}

bool typeCodePoint(TextField& field, uint32_t c) {
    if (!acceptsCodePoint(field, c) || platform::codePointCount(field.text) >= field.maxChars) return false;
    appendCodePoint(field, c);
    return true;
}

void backspace(TextField& field) {
    std::string& t = field.text;
    while (!t.empty()) {
        const unsigned char removed = static_cast<unsigned char>(t.back());
        t.pop_back();
        if ((removed & 0xC0) != 0x80) break; // the lead byte (or a plain byte) ends the letter
    }
}

void pasteText(TextField& field, std::string_view text) {
    size_t pos = 0;
    while (pos < text.size())
        typeCodePoint(field, platform::nextCodePoint(text, pos));
}

// ---- text fields: drawing ----

namespace {
// Where a field is clicked, its text drawn and its caret blinks, relative to its corner.
constexpr Rect kFieldHit = {28, 9, 228, 34};
constexpr Rect kFieldClip = {kFieldTextInset, 13, 212, 26};
constexpr float kFieldCentreY = 26;             // the text's vertical centre
constexpr Rect kCaret = {1, 17, 1.2f, 18};      // x after the text's end
constexpr const char* kBullet = "\xE2\x80\xA2"; // a masked field shows one per letter
} // namespace

void textField(Ui& ui, const char* id, float x, float y, TextField& field, const Texture& background) {
    InputState& in = ui.input;
    drawTexture(background, {x, y, kFieldWidth, kFieldHeight});
    const HotResult r = hotArea(ui, id, {x + kFieldHit.x, y + kFieldHit.y, kFieldHit.w, kFieldHit.h});
    if (r.clicked) focusField(ui, &field);
    if (r.hovered) {
        in.wantTextCursor = true;
        in.wantHandCursor = false;
    }

    const FontAtlas& font = getFont(ui, kFieldFont);
    const float baseline = centredBaseline(font, y + kFieldCentreY);
    const bool focused = ui.focus == &field;

    // Masked fields show one bullet per code point, built in a buffer that keeps its
    // capacity, so an idle frame allocates nothing.
    std::string_view display = field.text;
    if (field.masked) {
        ui.bullets.clear();
        for (size_t i = platform::codePointCount(field.text); i > 0; --i)
            ui.bullets += kBullet;
        display = ui.bullets;
    }

    if (display.empty() && !focused) {
        drawText(ui, {kFieldFont, palette::kFieldPlaceholder}, nearest(x + kFieldTextInset), baseline,
                 field.placeholder);
        return;
    }

    const float w = textWidth(font, display, 0);
    const float scroll = std::fmax(0.0f, w - kFieldVisibleText);
    setClip(ui.frame, {x + kFieldClip.x, y + kFieldClip.y, kFieldClip.w, kFieldClip.h});
    drawText(ui, {kFieldFont, palette::kFieldText}, nearest(x + kFieldTextInset - scroll), baseline, display);
    endClip();

    if (focused && ui.drawingLayer == ui.frame.inputLayer &&
        std::fmod(platform::now() - ui.caretStart, kCaretPeriod) < kCaretOn)
        fillRect({x + kFieldTextInset - scroll + w + kCaret.x, y + kCaret.y, kCaret.w, kCaret.h},
                 palette::kGold, 1.0f);
}
