// A frame of widgets drawn for real under Xvfb in the launcher's own art, saved as
// <build>/screenshots/widgets.png and held against its reference: a button in each state, a
// focused text field with its caret, a masked field, a scrolled one, and text in both fonts
// with each shadow mode and clipped.
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "gl_window.h"

using WidgetScreenshot = GlWindowTest;

TEST_F(WidgetScreenshot, WidgetsInEveryStateDrawWhereAndHowTheyShould) {
    useSourceFonts();
    beginFrame();
    // ---- buttons: normal, hover, pressed (held), disabled ----
    const ButtonSkin skin = {loadTexture("buton_normal.png"), loadTexture("buton_hover.png"),
                             loadTexture("buton_basili.png")};
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
    const Texture field = loadTexture("alan_yazi.png");
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

    expectFrame("widgets", {0, 0, 800, 610});
}
