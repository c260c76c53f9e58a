// account.h - logging in through the HTTP(S) account service.
//
// Index
//   ---- texts ----      the messages the player sees
//   ---- state ----      AccountLogin, accountLogin
//   ---- operations ---- accountApiConfigured, accountLoginUrl, accountLoginBody,
//                        startAccountLogin, pollAccountLogin, cancelAccountLogin,
//                        wipeCredentials, shutdownAccountLogin
//
// The login dialog posts the user name, the password and, once the service asked for it,
// a six-digit TOTP code as one JSON object to `hesap_api` + "ticket"; one background
// thread, the login worker, runs the request; the main thread polls once a frame and gets
// back what to do (LoginPoll). On success the poll starts the game itself (game.h), so the
// ticket never leaves this module. Configuration values come in as arguments: this layer
// reads no configuration and touches no window; the screen acts on the returned event.
#pragma once

#include "login/game.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// ---- texts ----
inline constexpr const char* kLoginBrokenAnswer = "Giriş sunucusundan bozuk cevap geldi.";
inline constexpr const char* kLoginTotpRequired =
    "Hesabında iki adımlı doğrulama açık. Doğrulama uygulamandaki 6 haneli kodu gir.";
inline constexpr const char* kLoginTotpInvalid = "Doğrulama kodu yanlış. Uygulamadaki güncel kodu gir.";
inline constexpr const char* kLoginBadCredentials = "Kullanıcı adı veya şifre hatalı.";
// "Giriş sunucusuna ulaşılamadı (" + worker's error word + ")."
// "E-posta adresin henüz doğrulanmadı" + [" (" + masked address + ")"] + ". Gelen kutundaki
//   bağlantıya tıkla, sonra tekrar dene."
// "Giriş yapılamadı (HTTP " + decimal status + ")."

// ---- state ----

// Process-wide; lives for the whole run. "main" = main thread only.
struct AccountLogin {
    std::atomic<bool> loginInFlight{false}; // main: a request started, its result not consumed
    std::atomic<bool> loginDone{false};     // worker sets, main clears: the result is stored
    // main writes, worker reads: the answer in flight is to be thrown away; also ends the
    // request early (postJson's stop flag), so closing or exiting never waits on the network.
    std::atomic<bool> loginCancelled{false};
    bool totpStep = false; // main: the service asked for a code; the dialog shows the code field
    // Written by the worker before loginDone; read by main only after it saw loginDone.
    uint32_t loginHttpStatus = 0; // 0 when no HTTP answer came
    std::string loginResponse;    // the answer body (holds the ticket on success)
    std::string loginError;       // transport error word of a failed request
    // main: the password to send. The dialog moves its password field here (then wipes the
    // field) before the first step; the TOTP step sends it again.
    std::string accountPassword;
    // main: the code typed into the code field. The login dialog binds its code field's text
    // here with bindCodeText, so wiping the code wipes the field.
    std::string* totpCodeText = &ownCodeText;
    std::string ownCodeText;
    std::thread worker;
};

AccountLogin& accountLogin();

// Makes `text` (the code field's text; nullptr = an internal string) the stored code.
// Main thread, at start-up.
void bindCodeText(std::string* text);

// ---- operations ----

// True when the `hesap_api` value (configGet, a missing key counting as empty) is non-empty.
bool accountApiConfigured(const std::string& hesapApi);

// `hesap_api` with a slash appended unless it ends in one, then "ticket".
std::string accountLoginUrl(const std::string& hesapApi);

// {"username":U,"password":P} or, with a non-empty code, {"username":U,"password":P,
// "totpCode":C}; no white space, every value jsonQuote'd. Built in one reserved buffer so
// the password leaves no copy in freed memory.
std::string accountLoginBody(const std::string& userName, const std::string& password,
                             const std::string& code);

// Joins a previous worker, then starts one that posts accountLoginBody(userName,
// accountPassword, code) to accountLoginUrl(hesapApi). `code` is empty in the first step
// and the stored code (*totpCodeText) in the TOTP step. Sets loginInFlight, clears
// loginDone and loginCancelled. Main thread. The caller does not start while in flight.
void startAccountLogin(const std::string& hesapApi, const std::string& userName, const std::string& code);

// What the screen does after pollAccountLogin.
enum class LoginEvent {
    None,         // nothing arrived this frame
    Dropped,      // a cancelled request's answer was thrown away; nothing is shown
    GameStarted,  // the game runs (launchGame succeeded): close the login dialog (activeModal
                  // 0), clear focusedField, gameState = Running, hide the window
    TotpRequired, // totpStep is now set: focusedField = the code field, caretStart = now,
                  // showInfo(text)
    TotpInvalid,  // focusedField = the code field (caret unchanged), showError(text)
    Error,        // showError(text)
};
struct LoginPoll {
    LoginEvent event = LoginEvent::None;
    std::string text; // the message for TotpRequired, TotpInvalid and Error
};

// True when an answer waits for pollAccountLogin. An idle frame can test this first and
// read the game's configuration only when it holds (no allocation while nothing happens).
inline bool accountLoginAnswered() {
    return accountLogin().loginInFlight.load() && accountLogin().loginDone.load();
}

// Once a frame, main thread. When an answer is stored: joins the worker, clears the two
// flags and interprets it: cancelled -> Dropped (credentials and answer wiped); 200/201
// with a non-empty string "ticket" -> launchGame(ticket, game, nowSeconds) -> GameStarted,
// or Error with the launch error; 200/201 without one -> Error kLoginBrokenAnswer; no HTTP
// answer, or one cut off before its end (status 0) -> Error "Giriş sunucusuna ulaşılamadı
// (...)." (credentials kept in the TOTP step, wiped outside it); otherwise, a redirect
// (never followed) included, by the top-level "message": TOTP_REQUIRED, TOTP_INVALID
// (password and step kept, the code wiped, the answer left), INVALID_CREDENTIALS,
// EMAIL_NOT_VERIFIED (with "maskedEmail"), any other text shown unchanged, none ->
// "Giriş yapılamadı (HTTP N).". Every row but the two TOTP ones wipes the credentials and
// the answer.
LoginPoll pollAccountLogin(const GameSettings& game, double nowSeconds);

// The login dialog's close action. In flight: only marks the answer to be dropped (true;
// nothing is wiped now, the poll wipes when the answer arrives). Otherwise wipeCredentials
// (false). The dialog then clears focusedField and closes itself either way.
bool cancelAccountLogin();

// Wipes accountPassword and the code, and clears totpStep. The user name is not touched.
void wipeCredentials();

// Program exit: sets loginCancelled, joins the worker, wipes the credentials and any
// answer left unread. Main thread, before the network library goes down.
void shutdownAccountLogin();
