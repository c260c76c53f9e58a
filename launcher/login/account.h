// account.h - logging in through the HTTP(S) account service.
//
// Index
//   ---- texts ----      the messages the player sees
//   ---- state ----      AccountLogin
//   ---- operations ---- accountLoginUrl, accountLoginBody, startAccountLogin,
//                        accountLoginAnswered, pollAccountLogin, cancelAccountLogin,
//                        wipeCredentials, shutdownAccountLogin
//
// The login dialog posts the user name, the password and, once the service asked for it,
// a six-digit TOTP code as one JSON object to `hesap_api` + "ticket"; one background
// thread, the login worker, runs the request; the main thread polls once a frame and gets
// back what happened (LoginOutcome). Configuration values come in as arguments: this layer
// reads no configuration and touches no window. The two-step code lives in the dialog's
// code field; the functions that must wipe it are handed that text.
#pragma once

#include "login/outcome.h"

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

// One account login; owned by the app's Launcher (through the session), lives for the
// whole run. "main" = main thread only.
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
    std::thread worker;

    AccountLogin() = default;
    AccountLogin(const AccountLogin&) = delete;
    AccountLogin& operator=(const AccountLogin&) = delete;
    ~AccountLogin(); // a worker still running is cancelled and joined
};

// ---- operations ----

// `hesap_api` with a slash appended unless it ends in one, then "ticket".
std::string accountLoginUrl(const std::string& hesapApi);

// {"username":U,"password":P} or, with a non-empty code, {"username":U,"password":P,
// "totpCode":C}; no white space, every value jsonQuote'd. Built in one reserved buffer so
// the password leaves no copy in freed memory.
std::string accountLoginBody(const std::string& userName, const std::string& password,
                             const std::string& code);

// Joins a previous worker, then starts one that posts accountLoginBody(userName,
// accountPassword, code) to accountLoginUrl(hesapApi). `code` is empty in the first step
// and the typed code in the TOTP step. Sets loginInFlight, clears loginDone and
// loginCancelled. Main thread. The caller does not start while in flight.
void startAccountLogin(AccountLogin& login, const std::string& hesapApi, const std::string& userName,
                       const std::string& code);

// True when an answer waits for pollAccountLogin: an idle frame tests two flags only.
inline bool accountLoginAnswered(const AccountLogin& login) {
    return login.loginInFlight.load() && login.loginDone.load();
}

// Once a frame, main thread. When an answer is stored: joins the worker, clears the two
// flags and interprets it: cancelled -> Dropped (credentials and answer wiped); 200/201
// with a non-empty string "ticket" -> Ticket (the caller starts the game and wipes it);
// 200/201 without one -> Error kLoginBrokenAnswer; no HTTP answer, or one cut off before
// its end (status 0) -> Error "Giriş sunucusuna ulaşılamadı (...)." (credentials kept in
// the TOTP step, wiped outside it); otherwise, a redirect (never followed) included, by
// the top-level "message": TOTP_REQUIRED, TOTP_INVALID (password and step kept, the code
// wiped, the answer left), INVALID_CREDENTIALS, EMAIL_NOT_VERIFIED (with "maskedEmail"),
// any other text shown unchanged, none -> "Giriş yapılamadı (HTTP N).". Every row but the
// two TOTP ones wipes the credentials (the password, `codeText`, the step) and the answer.
LoginOutcome pollAccountLogin(AccountLogin& login, std::string& codeText);

// The login dialog's close action. In flight: only marks the answer to be dropped (true;
// nothing is wiped now, the poll wipes when the answer arrives). Otherwise wipeCredentials
// (false).
bool cancelAccountLogin(AccountLogin& login, std::string& codeText);

// Wipes accountPassword and `codeText`, and clears totpStep. The user name is not touched.
void wipeCredentials(AccountLogin& login, std::string& codeText);

// Program exit: sets loginCancelled, joins the worker, wipes the password and any answer
// left unread, and ends the two-step stage. Main thread, before the network library goes
// down. (The code is the dialog's, wiped with its field.)
void shutdownAccountLogin(AccountLogin& login);
