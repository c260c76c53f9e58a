// A frame of widgets drawn for real under Xvfb, saved as <build>/screenshots/widgets.png and
// held against its reference: a button in each state, a focused text field with its caret,
// a masked field, a scrolled one, and text in both fonts with each shadow mode and clipped.
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "gl_window.h"
#include "reference_frame.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A w x h image with each pixel's 0xAARRGGBB from `argb(x, y)`.
template <typename Argb> Texture makeImage(int w, int h, Argb argb) {
    std::vector<uint8_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = argb(x, y);
            px.insert(px.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), uint8_t(c >> 24)});
        }
    return createTexture(px.data(), w, h);
}

// A vertical-gradient button face with a one-pixel frame, so each state has its own
// known colour in the middle.
Texture makeButtonFace(uint32_t top, uint32_t bottom, uint32_t frame) {
    return makeImage(64, 24, [&](int x, int y) {
        if (x == 0 || y == 0 || x == 63 || y == 23) return 0xFF000000 | frame;
        uint32_t c = 0xFF000000;
        for (int shift : {16, 8, 0}) {
            const int a = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
            c |= uint32_t(static_cast<uint8_t>(a + (b - a) * (static_cast<float>(y) / 23))) << shift;
        }
        return c;
    });
}

} // namespace

using WidgetScreenshot = GlWindowTest;

TEST_F(WidgetScreenshot, WidgetsInEveryStateDrawWhereAndHowTheyShould) {
    useSourceFonts();
    // The real background when the art is there, outside the compared panel.
    const Texture background = loadTexture("arkaplan.jpg");
    beginFrame();
    drawTexture(background, {0, 0, 800, 610});
    // An opaque panel behind everything we check, so known pixels have a known background;
    // the art shows in the margin.
    fillRect({20, 20, 760, 570}, 0x0A0D16, 1.0f);

    // ---- buttons: normal, hover, pressed (held), disabled ----
    ButtonSkin skin;
    skin.normal = makeButtonFace(0x2A3550, 0x141A2A, 0xE2C27A);
    skin.hover = makeButtonFace(0x3D4D75, 0x222B45, 0xFFE2A0);
    skin.pressed = makeButtonFace(0x10141F, 0x1A2030, 0x8C7A4A);
    const ButtonStyle style = {&skin, {FontFamily::Display, 16.0f}, 0xFBE3C2, 2.0f};
    InputState& in = ui_.input;
    beginLayer(ui_, InputLayer::MainScreen);
    in.mouseX = 5, in.mouseY = 5;
    EXPECT_FALSE(button(ui_, "normal", {40, 40, 136, 45}, "START", style));
    in.mouseX = 230, in.mouseY = 60;
    EXPECT_FALSE(button(ui_, "hover", {190, 40, 136, 45}, "START", style));
    in.mouseX = 400, in.mouseY = 60;
    in.mouseDown = true;
    in.activeId = "held";
    EXPECT_FALSE(button(ui_, "held", {340, 40, 136, 45}, "START", style));
    in.mouseX = 550, in.mouseY = 60;
    in.mouseDown = false;
    in.mouseReleased = true;
    in.activeId = "off";
    // Hovered and released with its id active, yet disabled: no click.
    EXPECT_FALSE(button(ui_, "off", {490, 40, 136, 45}, "START", style, true));
    EXPECT_TRUE(in.wantHandCursor);
    in.mouseReleased = false;
    in.activeId = nullptr;

    // ---- text fields ----
    // The field background the art would give: near-black with a gold hairline.
    const Texture field = makeImage(280, 50, [](int x, int y) {
        if (x < 26 || x >= 254 || y < 8 || y >= 42) return 0u;
        return x == 26 || x == 253 || y == 8 || y == 41 ? 0xFFE2C27Au : 0xEB0B0D14u;
    });
    in.mouseX = 700, in.mouseY = 5;
    TextField name = makeTextField(FieldKind::Username, 16, "Kullanıcı adı");
    TextField password = makeTextField(FieldKind::FreeText, 64, "Şifre", true);
    TextField code = makeTextField(FieldKind::Digits, 6, "Doğrulama kodu");
    TextField server = makeTextField(FieldKind::ServerAddress, 64, "127.0.0.1");
    name.text = "Morlaken_oyuncu";
    getFont(ui_, kFieldFont); // built before the caret's 0.55 s on begin
    focusField(ui_, &name);
    textField(ui_, "kullanici", 40, 110, name, field);
    password.text = "şifre";
    textField(ui_, "sifre", 340, 110, password, field);
    textField(ui_, "kod", 40, 170, code, field);                    // empty, unfocused: placeholder
    server.text = "cok-uzun-bir-sunucu-adi.ornek.example.net:7777"; // scrolls
    textField(ui_, "sunucu", 340, 170, server, field);

    // ---- text: both families, every shadow mode, over a light strip and a dark one ----
    fillRect({40, 240, 720, 110}, 0x6A7388, 1.0f);
    const FontRequest display = {FontFamily::Display, 20.0f}, body = {FontFamily::Body, 18.0f};
    const char* modes[3] = {"GÖLGESİZ", "GÖLGELİ", "HALE"};
    const Shadow shadows[3] = {Shadow::None, Shadow::Drop, Shadow::Halo};
    for (int i = 0; i < 3; ++i) {
        drawText(ui_, {display, 0xF2E6C4, 1.0f, shadows[i]}, 50.0f + 240 * i, 275, modes[i]);
        drawText(ui_, {body, 0xECE6D6, 0, shadows[i]}, 50.0f + 240 * i, 320, "Oyun güncel · şğİı");
    }
    // Clipped box: the text is wider than the clip and must stop at its edge.
    fillRect({40, 370, 300, 36}, 0x000000, 0.0f, 0.85f);
    setClip(ui_.frame, {40, 370, 300, 36});
    drawTextInBox(ui_, {display, 0xF2E6C4, 0, Shadow::Drop}, {52, 370, 288, 36},
                  "Morlaken Online · Yeni sezon başladı");
    endClip();
    // Paragraph with a forced break and an empty line.
    drawParagraph(ui_, {body, 0xECE6D6}, {380, 370, 360, 26},
                  "Sunucuya ulaşılamadı, haberler yüklenemedi. Tekrar deneniyor.\n\nİyi oyunlar!");

    // ---- save, compare ----
    std::vector<uint8_t> px = readFramebuffer(fbWidth_, fbHeight_);
    for (size_t i = 3; i < px.size(); i += 4)
        px[i] = 255; // the window is opaque
    const fs::path dir = fs::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
    fs::create_directories(dir);
    ASSERT_TRUE(writePng((dir / "widgets.png").string(), px.data(), fbWidth_, fbHeight_));
    EXPECT_TRUE(frametest::matchesReference("widgets", px, fbWidth_, {20, 20, 760, 570}));
}
