// login_dialog.h - the login dialog: user name, password (or the two-step code), the
// remember box, "İPTAL", "GİRİŞ" / "BEKLE" and the sign-up link, on the Dialog input
// layer; and what the frame loop does with an account-login answer. Main thread only.
//
// Index
//   ---- the dialog ----       drawLoginDialog, loginBusy, submitLogin, cancelLogin,
//                              installLoginDialog
//   ---- login answers ----    gameSettingsFromConfig, actOnLoginPoll
//
// The dialog opens with openLoginDialog and closes with closeLoginDialog (dialogs.h):
// START or Enter on the bare main screen, "İPTAL" or Escape. Closing cancels a running
// login through cancelLogin, which installLoginDialog hands to the key routing.
#pragma once

#include "login/account.h"
#include "login/game.h"

// ---- the dialog ----

// Draws and hit-tests the dialog; called by the frame loop every frame while the login
// dialog is the open modal, after the main screen and before the message dialog.
void drawLoginDialog();

// A login is running (an account request in flight); "GİRİŞ" shows "BEKLE" and START is
// greyed.
bool loginBusy();

// "GİRİŞ" and Enter in the dialog. Nothing while busy. In the two-step stage it sends the
// code (exactly 6 digits, else "Doğrulama uygulamandaki 6 haneli kodu gir."). Otherwise a
// user name of at least 3 bytes and a password are needed ("Kullanıcı adını ve şifreni
// gir."); the remember choice ("hatirla", "kullanici") is saved to launcher.ini before the
// request; the password leaves the field (which is wiped) for the account login, or goes
// to startGameServerLogin when "hesap_api" is empty.
void submitLogin();

// The login half of closing the dialog: a request in flight is only marked to be dropped;
// with none, the stored password and code are wiped and the two-step stage ends.
void cancelLogin();

// Start-up: the code field becomes the account login's stored code, and the key routing
// gets submitLogin, cancelLogin and the two-step stage.
void installLoginDialog();

// ---- login answers ----

// "oyun", "oyun_klasoru", "sunucu" (default "127.0.0.1") and "konsol" from the
// configuration; the game is found against the working folder (the launcher's).
GameSettings gameSettingsFromConfig();

// Acts on one pollAccountLogin result: game started -> the dialog closes, no field is
// focused, gameState = Running (the frame loop hides the window); two-step code required
// -> the code field takes the focus and the notice shows; wrong code -> the code field
// takes the focus and the error shows; any other error shows. An answer that ended the
// two-step stage (any other, a dropped one included) moves the focus from the code field,
// no longer shown, to the password field. Returns true when the game started.
bool actOnLoginPoll(const LoginPoll& poll);
