// login_dialog.cpp - the login dialog, drawn and hit-tested once per frame, and its rules.
//
// Index
//   ---- layout and texts ----
//   ---- state ----
//   ---- drawing ----
//   ---- keys ----
//   ---- rules ----
#include "screens/login_dialog.h"

#include "gfx/font.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "platform/text.h"
#include "screens/links.h"
#include "screens/message_dialog.h"
#include "screens/skin.h"

#include <GLFW/glfw3.h>

// ---- layout and texts ----
namespace {
constexpr const char* kCodeNeeded = "Doğrulama uygulamandaki 6 haneli kodu gir.";
constexpr const char* kFieldsNeeded = "Kullanıcı adını ve şifreni gir.";
constexpr size_t kMinUsernameBytes = 3;
constexpr size_t kCodeDigits = 6;
constexpr unsigned kUsernameMax = 16, kAccountNameMax = 64;
constexpr const char* kAccountNamePlaceholder = "Kullanıcı adı veya e-posta";

constexpr Rect kTitleBox = {365, 190, 69, 25};
constexpr float kUsernameY = 221, kSecondFieldY = 275;

// The remember box: its image, the area that flips it (image and label), and the label.
constexpr Rect kRememberBox = {327, 329, 18, 18};
constexpr Rect kRememberHit = {327, 329, 145, 18};
constexpr Rect kRememberLabel = {353, 329, 0, 18};
constexpr TextStyle kRememberStyle = {{FontFamily::Body, 14}, 0xD6CDB8};

// "Hesabın yok mu? Web sitesinden kayıt ol": centred on x = 400, the second part a link.
constexpr float kSignUpCentreX = kDialogCentreX;
constexpr Rect kSignUpLine = {0, 397, 0, 21}; // its top and height
constexpr char kSignUpQuestion[] = "Hesabın yok mu? ";
constexpr char kSignUpLink[] = "Web sitesinden kayıt ol";
constexpr FontRequest kSignUpFont = {FontFamily::Body, 13};
constexpr uint32_t kLinkColor = 0xE8C77A;
} // namespace

// ---- state ----

void applyLoginConfig(LoginDialog& dialog, const Config& cfg) {
    TextField& name = dialog.username;
    const bool account = accountServiceConfigured(cfg);
    name.kind = account ? FieldKind::AccountName : FieldKind::Username;
    name.maxChars = account ? kAccountNameMax : kUsernameMax;
    name.placeholder = account ? kAccountNamePlaceholder : "Kullanıcı adı";
    dialog.rememberMe = isSwitchOn(cfg, keys::kRemember);
    if (dialog.rememberMe) name.text = configGet(cfg, keys::kUserName);
}

// ---- drawing ----

namespace {

void drawRememberBox(Ui& ui, const Skin& skin, LoginDialog& dialog) {
    const HotResult hot = hotArea(ui, "hatirla", kRememberHit);
    if (hot.clicked) dialog.rememberMe = !dialog.rememberMe;
    drawTexture(dialog.rememberMe ? skin.images.checkFull : skin.images.checkEmpty, kRememberBox);
    TextStyle label = kRememberStyle;
    if (hot.hovered) label.color = palette::kFieldText;
    drawTextInBox(ui, label, kRememberLabel, "Kullanıcı adımı hatırla");
}

bool drawSignUpLine(Ui& ui) {
    const FontAtlas& font = getFont(ui, kSignUpFont);
    const float w1 = textWidth(font, kSignUpQuestion, 0.0f);
    const float w2 = textWidth(font, kSignUpLink, 0.0f);
    const float x1 = nearest(kSignUpCentreX - (w1 + w2) * 0.5f);
    const HotResult hot = hotArea(ui, "kayit", {x1 + w1, kSignUpLine.y, w2, kSignUpLine.h});
    const float baseline = centredBaseline(font, kSignUpLine.y + kSignUpLine.h * 0.5f);
    drawText(ui, {kSignUpFont, palette::kMuted}, x1, baseline, kSignUpQuestion);
    drawText(ui, {kSignUpFont, hot.hovered ? palette::kGoldHover : kLinkColor}, x1 + w1, baseline,
             kSignUpLink);
    return hot.clicked;
}

} // namespace

LoginAction drawLoginDialog(Ui& ui, const Skin& skin, LoginDialog& dialog, bool totpStep, bool busy) {
    LoginAction action = LoginAction::None;
    drawDialogFrame(ui, skin, "GİRİŞ", kTitleBox);
    const Texture& field = skin.images.fieldBackground;
    textField(ui, "ad", kDialogFieldX, kUsernameY, dialog.username, field);
    if (totpStep)
        textField(ui, "kod", kDialogFieldX, kSecondFieldY, dialog.code, field);
    else
        textField(ui, "sifre", kDialogFieldX, kSecondFieldY, dialog.password, field);
    drawRememberBox(ui, skin, dialog);
    if (button(ui, "iptal", kDialogCancel, "İPTAL", buttonStyle(skin, ButtonKind::Cancel)))
        action = LoginAction::Cancel;
    if (button(ui, "giris", kDialogConfirm, busy ? "BEKLE" : "GİRİŞ", buttonStyle(skin, ButtonKind::Confirm),
               busy))
        action = LoginAction::Submit;
    if (drawSignUpLine(ui)) action = LoginAction::SignUp;
    return action;
}

// ---- keys ----

LoginAction loginDialogKey(Ui& ui, LoginDialog& dialog, bool totpStep, const InputEvent& event) {
    if (editFocusedField(ui, event)) return LoginAction::None;
    if (event.kind != InputEvent::Kind::Key || event.action == GLFW_RELEASE) return LoginAction::None;
    if (event.key == GLFW_KEY_ESCAPE) return LoginAction::Cancel;
    if (isEnter(event.key)) return LoginAction::Submit;
    if (event.key == GLFW_KEY_TAB && ui.focus) {
        TextField* second = totpStep ? &dialog.code : &dialog.password;
        focusField(ui, ui.focus == &dialog.username ? second : &dialog.username);
    }
    return LoginAction::None;
}

// ---- rules ----

void openLoginDialog(ScreenState& state, LoginDialog& dialog, Ui& ui, bool totpStep) {
    state.activeModal = Modal::Login;
    // The second field is the code field while a cancelled two-step login still waits for
    // its answer to be dropped.
    TextField* second = totpStep ? &dialog.code : &dialog.password;
    focusField(ui, dialog.username.text.empty() ? &dialog.username : second);
}

void closeLoginDialog(ScreenState& state, LoginDialog& dialog, Ui& ui, Session& session) {
    cancelLogin(session, dialog.code.text);
    state.activeModal = Modal::None;
    focusField(ui, nullptr);
}

void submitLogin(LoginDialog& dialog, Session& session, Config& cfg, MessageDialog& message) {
    if (loginBusy(session)) return;
    const std::string& user = dialog.username.text;
    if (accountServiceConfigured(cfg) && session.account.totpStep) {
        if (platform::codePointCount(dialog.code.text) == kCodeDigits)
            sendLoginCode(session, cfg, user, dialog.code.text);
        else
            showError(message, kCodeNeeded);
        return;
    }
    if (user.size() < kMinUsernameBytes || dialog.password.text.empty()) {
        showError(message, kFieldsNeeded);
        return;
    }
    configSet(cfg, keys::kRemember, dialog.rememberMe ? "1" : "0");
    configSet(cfg, keys::kUserName, dialog.rememberMe ? user : std::string());
    saveUserConfig(cfg);
    startLogin(session, cfg, user, dialog.password.text);
}

void openSignUp(const Config& cfg, MessageDialog& message) {
    const std::string target = configGet(cfg, keys::kSignUp);
    openLink(message, target.empty() ? configGet(cfg, keys::kWeb) : target);
}

bool actOnLoginOutcome(ScreenState& state, LoginDialog& dialog, Ui& ui, MessageDialog& message,
                       const LoginOutcome& outcome, bool totpStep) {
    // Every answer but the two-step ones ends the two-step stage, and the code field goes
    // with it: the password field shown in its place takes the focus, so typing shows.
    if (!totpStep && ui.focus == &dialog.code) focusField(ui, &dialog.password);
    switch (outcome.event) {
    case LoginEvent::None:
    case LoginEvent::Dropped:
    case LoginEvent::Ticket: // never reaches the screens: the session starts the game with it
        return false;
    case LoginEvent::GameStarted:
        state.activeModal = Modal::None;
        focusField(ui, nullptr);
        state.gameState = GameState::Running;
        return true;
    case LoginEvent::TotpRequired:
        focusField(ui, &dialog.code);
        showInfo(message, outcome.text);
        return false;
    case LoginEvent::TotpInvalid:
        ui.focus = &dialog.code; // the caret goes on blinking from where it was
        showError(message, outcome.text);
        return false;
    case LoginEvent::Error:
        showError(message, outcome.text);
        return false;
    }
    return false;
}
