// widgets.cpp - input state, the hot-area rule, buttons and text fields.
//
// Index
//   ---- input state ----
//   ---- hot areas ----
//   ---- buttons ----
//   ---- text fields: data ----
//   ---- text fields: editing ----
//   ---- text fields: drawing ----
//   ---- callbacks ----
#include "gfx/widgets.h"

#include "platform/text.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <cmath>
#include <cstring>

// ---- input state ----

InputState& input() {
    static InputState state;
    return state;
}

void beginFrameInput(InputState& in) {
    in.wantHandCursor = false;
    in.wantTextCursor = false;
}

void endFrameInput(InputState& in) {
    if (in.mouseReleased) in.activeId = nullptr;
    in.mousePressed = false;
    in.mouseReleased = false;
}

// ---- hot areas ----

namespace {
bool sameId(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}
} // namespace

HotResult hotAreaBehavior(const char* id, InputLayer layer, float x, float y, float w, float h) {
    InputState& in = input();
    HotResult r;
    r.hovered = layer == frameContext().inputLayer && x <= in.mouseX && in.mouseX < x + w && y <= in.mouseY &&
                in.mouseY < y + h;
    if (r.hovered) {
        in.wantHandCursor = true;
        if (in.mousePressed) in.activeId = id;
    }
    r.held = r.hovered && sameId(in.activeId, id) && in.mouseDown;
    r.clicked = r.hovered && in.mouseReleased && sameId(in.activeId, id);
    return r;
}

bool hotArea(const char* id, InputLayer layer, float x, float y, float w, float h, bool* outHovered,
             bool* outHeld) {
    const HotResult r = hotAreaBehavior(id, layer, x, y, w, h);
    if (outHovered) *outHovered = r.hovered;
    if (outHeld) *outHeld = r.held;
    return r.clicked;
}

// ---- buttons ----

ButtonSkin& mainButtonSkin() {
    static ButtonSkin skin;
    return skin;
}

ButtonSkin& ordinaryButtonSkin() {
    static ButtonSkin skin;
    return skin;
}

bool button(const char* id, InputLayer layer, float x, float y, float w, float h, std::string_view label,
            const ButtonStyle& style, bool disabled) {
    const HotResult r = hotAreaBehavior(id, layer, x, y, w, h);
    const ButtonSkin& skin = style.skin();
    const FontAtlas& font = getFont(style.family, style.fontSize);
    const float spacing = style.spacing;
    const Texture& image = (disabled || r.held) ? skin.pressed : r.hovered ? skin.hover : skin.normal;
    drawTexture(image, x, y, w, h, 1.0f);
    const float width = textWidth(font, label, spacing);
    const float left = nearest(x + (w - width) * 0.5f);
    float baseline = y + h * 0.5f + (font.ascent + font.descent) * 0.5f;
    if (r.held) baseline += 1; // the label sinks while held
    drawText(font, left, baseline, label, disabled ? palette::kMuted : style.labelColor, spacing,
             Shadow::Drop, 1.0f);
    return r.clicked && !disabled;
}

// ---- text fields: data ----

namespace {
constexpr const char* kUsernamePlaceholder = "Kullanıcı adı";
constexpr const char* kUsernameAccountPlaceholder = "Kullanıcı adı veya e-posta";

bool gAccountMode = false;

TextField makeField(unsigned maxChars, bool masked, FieldKind kind, const char* placeholder) {
    TextField f;
    f.maxChars = maxChars;
    f.masked = masked;
    f.kind = kind;
    f.placeholder = placeholder;
    // Room for the longest accepted text (three bytes per code point at most) up front:
    // the buffer never moves, so no copy of a password is left behind in freed memory.
    f.text.reserve(static_cast<size_t>(kUsernameAccountMax > maxChars ? kUsernameAccountMax : maxChars) * 3);
    return f;
}
} // namespace

TextField& usernameField() {
    static TextField f = makeField(kUsernameMax, false, FieldKind::Username, kUsernamePlaceholder);
    return f;
}
TextField& passwordField() {
    static TextField f = makeField(64, true, FieldKind::FreeText, "Şifre");
    return f;
}
TextField& serverAddressField() {
    static TextField f = makeField(64, false, FieldKind::ServerAddress, "127.0.0.1");
    return f;
}
TextField& codeField() {
    static TextField f = makeField(6, false, FieldKind::Digits, "Doğrulama kodu");
    return f;
}
TextField*& focusedField() {
    static TextField* f = nullptr;
    return f;
}
double& caretStart() {
    static double t = 0;
    return t;
}

void setAccountServiceMode(bool on) {
    gAccountMode = on;
    usernameField().maxChars = on ? kUsernameAccountMax : kUsernameMax;
    usernameField().placeholder = on ? kUsernameAccountPlaceholder : kUsernamePlaceholder;
}
bool accountServiceMode() {
    return gAccountMode;
}

// ---- text fields: editing ----

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
        if (letterOrDigit || c == '_') return true;
        return gAccountMode && (c == '+' || c == '-' || c == '.' || c == '@');
    case FieldKind::ServerAddress:
        return letterOrDigit || c == '-' || c == '.' || c == ':';
    }
    return false;
}

void typeCodePoint(TextField& field, uint32_t c) {
    if (!acceptsCodePoint(field, c) || platform::codePointCount(field.text) >= field.maxChars) return;
    appendCodePoint(field, c);
    caretStart() = now();
}

void backspace(TextField& field) {
    std::string& t = field.text;
    while (!t.empty()) {
        const unsigned char removed = static_cast<unsigned char>(t.back());
        t.pop_back();
        if ((removed & 0xC0) != 0x80) break; // the lead byte (or a plain byte) ends the letter
    }
    caretStart() = now();
}

void pasteText(TextField& field, std::string_view text) {
    size_t pos = 0;
    while (pos < text.size())
        typeCodePoint(field, platform::nextCodePoint(text, pos));
}

// ---- text fields: drawing ----

void textField(const char* id, InputLayer layer, float x, float y, TextField& field) {
    InputState& in = input();
    drawTexture(images().fieldBackground, x, y, kFieldWidth, kFieldHeight, 1.0f);
    const HotResult r = hotAreaBehavior(id, layer, x + 28, y + 9, 228, 34);
    if (r.clicked) {
        focusedField() = &field;
        caretStart() = now();
    }
    if (r.hovered) {
        in.wantTextCursor = true;
        in.wantHandCursor = false;
    }

    const FontAtlas& font = getFont(FontFamily::Body, kFieldFontSize);
    const float baseline = y + 26 + (font.ascent + font.descent) * 0.5f;
    const bool focused = focusedField() == &field;

    // Masked fields show one bullet per code point; the bullets are built in a buffer that
    // keeps its capacity, so an idle frame allocates nothing.
    static std::string bullets;
    std::string_view display = field.text;
    if (field.masked) {
        bullets.clear();
        for (size_t i = platform::codePointCount(field.text); i > 0; --i)
            bullets += "\xE2\x80\xA2";
        display = bullets;
    }

    if (display.empty() && !focused) {
        bindFontAtlas(font);
        drawGlyphRun(font, nearest(x + kFieldTextInset), baseline, field.placeholder,
                     palette::kFieldPlaceholder, 1.0f, 0);
        return;
    }

    const float w = textWidth(font, display, 0);
    const float scroll = std::fmax(0.0f, w - kFieldVisibleText);
    setClip(x + kFieldTextInset, y + 13, 212, 26);
    bindFontAtlas(font);
    drawGlyphRun(font, nearest(x + kFieldTextInset - scroll), baseline, display, palette::kFieldText, 1.0f,
                 0);
    endClip();

    if (focused && layer == frameContext().inputLayer &&
        std::fmod(now() - caretStart(), kCaretPeriod) < kCaretOn)
        fillRect(x + kFieldTextInset - scroll + w + 1, y + 17, 1.2f, 18, palette::kGold, 1.0f, 1.0f);
}

// ---- callbacks ----

void onMouseButton(GLFWwindow*, int button, int action, int) {
    if (button != GLFW_MOUSE_BUTTON_LEFT) return;
    InputState& in = input();
    if (action == GLFW_PRESS) {
        in.mouseDown = true;
        in.mousePressed = true;
    } else if (action == GLFW_RELEASE) {
        in.mouseReleased = true;
        in.mouseDown = false;
    }
}

void resetWidgetStateForTests() {
    input() = InputState{};
    setAccountServiceMode(false);
    for (TextField* f : {&usernameField(), &passwordField(), &serverAddressField(), &codeField()})
        f->text.clear();
    focusedField() = nullptr;
    caretStart() = 0;
}
