// login_dialog.h - the login dialog: user name, password (or the two-step code), the
// remember box, "İPTAL", "GİRİŞ" / "BEKLE" and the sign-up link, on the Dialog input
// layer; its rules (opening, submitting, closing) and what it does with a login's outcome.
// Main thread only.
//
// Index
//   ---- state ----      LoginDialog, applyLoginConfig
//   ---- the dialog ---- LoginAction, drawLoginDialog, loginDialogKey
//   ---- rules ----      openLoginDialog, closeLoginDialog, submitLogin, openSignUp,
//                        actOnLoginOutcome
#pragma once

#include "config/config.h"
#include "gfx/ui.h"
#include "gfx/widgets.h"
#include "login/session.h"
#include "screens/screen_state.h"

struct MessageDialog;
struct Skin;

// ---- state ----

// The dialog's fields and its remember box; owned by the app's Launcher.
struct LoginDialog {
    TextField username = makeTextField(FieldKind::Username, 16, "Kullanıcı adı");
    TextField password = makeTextField(FieldKind::FreeText, 64, "Şifre", true);
    TextField code = makeTextField(FieldKind::Digits, 6, "Doğrulama kodu");
    bool rememberMe = true;
};

// Start-up: with an account service the user-name field takes e-mail addresses too (64
// characters, placeholder "Kullanıcı adı veya e-posta"); remember-me ("hatirla", on when
// "1") fills the user name from "kullanici".
void applyLoginConfig(LoginDialog& dialog, const Config& cfg);

// ---- the dialog ----

enum class LoginAction {
    None,
    Submit, // "GİRİŞ" or Enter
    Cancel, // "İPTAL" or Escape
    SignUp, // the sign-up link
};

// Draws and hit-tests the dialog over the main screen; the remember box and the fields'
// focus are its own, the rest it returns. `totpStep`: the code field replaces the password
// field; `busy`: a login runs ("GİRİŞ" shows "BEKLE", greyed).
LoginAction drawLoginDialog(Ui& ui, const Skin& skin, LoginDialog& dialog, bool totpStep, bool busy);

// A key or character while the dialog is on top: Enter submits, Escape cancels, Tab moves
// between the user name and the second field shown; the focused field takes characters,
// Backspace and Ctrl+V.
LoginAction loginDialogKey(Ui& ui, LoginDialog& dialog, bool totpStep, const InputEvent& event);

// ---- rules ----

// START and Enter on the bare main screen: focus on the second field shown (the password
// field, or the code field in the two-step stage) when a user name is filled, else on the
// user-name field.
void openLoginDialog(ScreenState& state, LoginDialog& dialog, Ui& ui, bool totpStep);

// Closes it with no field focused; a running login is cancelled first (cancelLogin).
void closeLoginDialog(ScreenState& state, LoginDialog& dialog, Ui& ui, Session& session);

// "GİRİŞ" and Enter. Nothing while busy. In the two-step stage it sends the code (exactly
// 6 digits, else "Doğrulama uygulamandaki 6 haneli kodu gir."). Otherwise a user name of at
// least 3 bytes and a password are needed ("Kullanıcı adını ve şifreni gir."); the
// remember choice ("hatirla", "kullanici") is saved to launcher.ini before the login
// starts (startLogin), which empties the password field.
void submitLogin(LoginDialog& dialog, Session& session, Config& cfg, MessageDialog& message);

// The sign-up link: "kayit", or "web" when it is empty.
void openSignUp(const Config& cfg, MessageDialog& message);

// Acts on a login's outcome: game started -> the dialog closes, no field is focused,
// gameState = Running (the caller hides the window); two-step code required -> the code
// field takes the focus and the notice shows; wrong code -> the code field takes the focus
// and the error shows; any other error shows. An outcome that ended the two-step stage
// (any other, a dropped one included) moves the focus from the code field, no longer
// shown, to the password field. True when the game started.
bool actOnLoginOutcome(ScreenState& state, LoginDialog& dialog, Ui& ui, MessageDialog& message,
                       const LoginOutcome& outcome, bool totpStep);
