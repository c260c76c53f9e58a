// login_dialog.cpp - the login dialog, drawn and hit-tested once per frame.
//
// Index
//   ---- tunables ----
//   ---- submitting and cancelling ----
//   ---- login answers ----
//   ---- drawing ----
#include "screens/login_dialog.h"

#include "config/config.h"
#include "gfx/font.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/gameserver.h"
#include "platform/text.h"
#include "screens/dialogs.h"
#include "screens/links.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"

// ---- tunables ----
namespace {
constexpr InputLayer kLayer = InputLayer::Dialog;

constexpr const char* kCodeNeeded = "Doğrulama uygulamandaki 6 haneli kodu gir.";
constexpr const char* kFieldsNeeded = "Kullanıcı adını ve şifreni gir.";
constexpr size_t kMinUsernameBytes = 3;
constexpr size_t kCodeDigits = 6;

constexpr float kDimOpacity = 0.6f;
constexpr float kPanelX = 160, kPanelY = 130, kPanelW = 480, kPanelH = 330;
constexpr float kFieldX = 260, kUsernameY = 221, kSecondFieldY = 275;

constexpr FontRequest kTitleFont = {FontFamily::Display, 18};
constexpr float kTitleSpacing = 3.0f, kTitleCentreY = 202.5f;
constexpr FontRequest kRememberFont = {FontFamily::Body, 14};
constexpr float kBoxX = 327, kBoxY = 329, kBoxSize = 18, kRememberW = 145;
constexpr float kRememberTextX = 353, kRememberCentreY = 338;
constexpr uint32_t kRememberColor = 0xD6CDB8;
constexpr FontRequest kSignUpFont = {FontFamily::Body, 13};
constexpr float kSignUpCentreX = 400, kSignUpCentreY = 407.5f, kSignUpTop = 397, kSignUpH = 21;
constexpr uint32_t kLinkColor = 0xE8C77A;

constexpr ButtonStyle kCancelStyle = {ordinaryButtonSkin, FontFamily::Display, 12, palette::kButtonLabel,
                                      0.0f};
constexpr ButtonStyle kLoginStyle = {mainButtonSkin, FontFamily::Display, 14, 0xFBE3C2, 1.0f};
} // namespace

// ---- submitting and cancelling ----

bool loginBusy() {
    return accountLogin().loginInFlight.load() || serverLink().linkMode == LinkMode::Login;
}

void submitLogin() {
    if (loginBusy()) return;
    const std::string hesapApi = configGet("hesap_api");
    const std::string& user = usernameField().text;
    if (accountApiConfigured(hesapApi) && accountLogin().totpStep) {
        if (platform::codePointCount(codeField().text) == kCodeDigits)
            startAccountLogin(hesapApi, user, codeField().text);
        else
            showError(kCodeNeeded);
        return;
    }
    TextField& password = passwordField();
    if (user.size() < kMinUsernameBytes || password.text.empty()) {
        showError(kFieldsNeeded);
        return;
    }
    configSet("hatirla", ui().rememberMe ? "1" : "0");
    configSet("kullanici", ui().rememberMe ? user : std::string());
    saveUserConfig();
    if (!accountApiConfigured(hesapApi)) {
        startGameServerLogin(user, password.text);
        platform::wipeText(password.text);
        return;
    }
    std::string& stored = accountLogin().accountPassword;
    platform::wipeText(stored);
    stored.append(password.text); // into the wiped buffer: no copy is left in freed memory
    platform::wipeText(password.text);
    startAccountLogin(hesapApi, user, std::string());
}

void cancelLogin() {
    // A login over the game server is dropped with its connection (the password is wiped).
    if (serverLink().linkMode == LinkMode::Login) resetServerLink();
    cancelAccountLogin();
}

void installLoginDialog() {
    bindCodeText(&codeField().text);
    KeyRoutingHooks& hooks = keyHooks();
    hooks.submitLogin = submitLogin;
    hooks.cancelLogin = cancelLogin;
    hooks.totpStep = [] { return accountLogin().totpStep; };
}

// ---- login answers ----

GameSettings gameSettingsFromConfig() {
    GameSettings s;
    s.oyun = configGet("oyun");
    s.oyunKlasoru = configGet("oyun_klasoru");
    s.sunucu = configGet("sunucu", "127.0.0.1");
    s.konsol = configGet("konsol");
    return s;
}

bool actOnLoginPoll(const LoginPoll& poll) {
    // Every answer but the two-step ones ends the two-step stage, and the code field goes
    // with it: the password field shown in its place takes the focus, so typing shows.
    if (!accountLogin().totpStep && focusedField() == &codeField()) {
        focusedField() = &passwordField();
        caretStart() = now();
    }
    switch (poll.event) {
    case LoginEvent::None:
    case LoginEvent::Dropped:
        return false;
    case LoginEvent::GameStarted:
        ui().activeModal = Modal::None;
        focusedField() = nullptr;
        ui().gameState = GameState::Running;
        return true;
    case LoginEvent::TotpRequired:
        focusedField() = &codeField();
        caretStart() = now();
        showInfo(poll.text);
        return false;
    case LoginEvent::TotpInvalid:
        focusedField() = &codeField();
        showError(poll.text);
        return false;
    case LoginEvent::Error:
        showError(poll.text);
        return false;
    }
    return false;
}

// ---- drawing ----

namespace {
float centredBaseline(const FontAtlas& font, float centre) {
    return centre + (font.ascent + font.descent) * 0.5f;
}

void drawTitle() {
    const FontAtlas& font = getFont(kTitleFont);
    const float w = textWidth(font, "GİRİŞ", kTitleSpacing);
    drawText(font, nearest((69 - w) * 0.5f + 365), centredBaseline(font, kTitleCentreY), "GİRİŞ",
             palette::kGold, kTitleSpacing, Shadow::None, 1.0f);
}

void drawRememberBox() {
    bool hovered = false;
    if (hotArea("hatirla", kLayer, kBoxX, kBoxY, kRememberW, kBoxSize, &hovered))
        ui().rememberMe = !ui().rememberMe;
    const LauncherImages& im = images();
    drawTexture(ui().rememberMe ? im.checkFull : im.checkEmpty, kBoxX, kBoxY, kBoxSize, kBoxSize, 1.0f);
    const FontAtlas& font = getFont(kRememberFont);
    drawText(font, kRememberTextX, centredBaseline(font, kRememberCentreY), "Kullanıcı adımı hatırla",
             hovered ? palette::kFieldText : kRememberColor, 0.0f, Shadow::None, 1.0f);
}

void drawSignUpLine() {
    constexpr std::string_view kQuestion = "Hesabın yok mu? ";
    constexpr std::string_view kLink = "Web sitesinden kayıt ol";
    const FontAtlas& font = getFont(kSignUpFont);
    const float w1 = textWidth(font, kQuestion, 0.0f);
    const float w2 = textWidth(font, kLink, 0.0f);
    const float x1 = nearest(kSignUpCentreX - (w1 + w2) * 0.5f);
    bool hovered = false;
    if (hotArea("kayit", kLayer, x1 + w1, kSignUpTop, w2, kSignUpH, &hovered)) {
        const std::string target = configGet("kayit");
        openLink(target.empty() ? configGet("web") : target);
    }
    const float baseline = centredBaseline(font, kSignUpCentreY);
    drawText(font, x1, baseline, kQuestion, palette::kMuted, 0.0f, Shadow::None, 1.0f);
    drawText(font, x1 + w1, baseline, kLink, hovered ? palette::kGoldHover : kLinkColor, 0.0f, Shadow::None,
             1.0f);
}
} // namespace

void drawLoginDialog() {
    fillRect(0, 0, 800, 610, palette::kNight, kDimOpacity, kDimOpacity);
    drawTexture(images().box, kPanelX, kPanelY, kPanelW, kPanelH, 1.0f);
    drawTitle();
    textField("ad", kLayer, kFieldX, kUsernameY, usernameField());
    if (accountLogin().totpStep)
        textField("kod", kLayer, kFieldX, kSecondFieldY, codeField());
    else
        textField("sifre", kLayer, kFieldX, kSecondFieldY, passwordField());
    drawRememberBox();
    if (button("iptal", kLayer, 272, 361, 120, 28, "İPTAL", kCancelStyle)) closeLoginDialog();
    const bool busy = loginBusy();
    if (button("giris", kLayer, 408, 355, 120, 40, busy ? "BEKLE" : "GİRİŞ", kLoginStyle, busy))
        submitLogin();
    drawSignUpLine();
}
