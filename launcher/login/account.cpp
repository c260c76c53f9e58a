// account.cpp - the login worker, and the main thread's reading of its answer.
//
// Index
//   ---- state ----
//   ---- request ----
//   ---- worker ----
//   ---- answer ----
//   ---- cancel and exit ----
#include "login/account.h"

#include "login/json.h"
#include "login/wipe.h"
#include "net/http.h"
#include "platform/text.h"

#include <memory>
#include <utility>

// ---- state ----

AccountLogin& accountLogin() {
    static AccountLogin login;
    return login;
}

void bindCodeText(std::string* text) {
    AccountLogin& a = accountLogin();
    a.totpCodeText = text ? text : &a.ownCodeText;
}

void wipeCredentials() {
    AccountLogin& a = accountLogin();
    platform::wipeText(a.accountPassword);
    platform::wipeText(*a.totpCodeText);
    a.totpStep = false;
}

// ---- request ----

bool accountApiConfigured(const std::string& hesapApi) {
    return !hesapApi.empty();
}

std::string accountLoginUrl(const std::string& hesapApi) {
    std::string url = hesapApi;
    if (url.empty() || url.back() != '/') url += '/';
    return url + "ticket";
}

std::string accountLoginBody(const std::string& userName, const std::string& password,
                             const std::string& code) {
    std::string body;
    // Worst case of every quoted value plus the member names: never reallocated.
    body.reserve(64 + 6 * (userName.size() + password.size() + code.size()));
    body += "{\"username\":";
    jsonQuoteAppend(body, userName);
    body += ",\"password\":";
    jsonQuoteAppend(body, password);
    if (!code.empty()) {
        body += ",\"totpCode\":";
        jsonQuoteAppend(body, code);
    }
    body += '}';
    return body;
}

// ---- worker ----
namespace {

// The worker's argument block; the worker owns it and frees it when it ends.
struct LoginRequest {
    std::string url;
    std::string body; // holds the password
    ~LoginRequest() { releaseSecret(body, "body"); }
};

void loginWorker(std::unique_ptr<LoginRequest> request) {
    AccountLogin& a = accountLogin();
    a.loginError.clear();
    postJson(request->url, request->body, a.loginHttpStatus, a.loginResponse, a.loginError,
             &a.loginCancelled);
    platform::wipeText(request->body);
    a.loginDone.exchange(true);
    request.reset();
}

} // namespace

void startAccountLogin(const std::string& hesapApi, const std::string& userName, const std::string& code) {
    AccountLogin& a = accountLogin();
    if (a.worker.joinable()) a.worker.join();
    auto request = std::make_unique<LoginRequest>();
    request->url = accountLoginUrl(hesapApi);
    request->body = accountLoginBody(userName, a.accountPassword, code);
    a.loginInFlight.exchange(true);
    a.loginDone.exchange(false);
    a.loginCancelled.store(false);
    a.worker = std::thread(loginWorker, std::move(request));
}

// ---- answer ----
namespace {

LoginPoll errorPoll(std::string text) {
    return {LoginEvent::Error, std::move(text)};
}

} // namespace

LoginPoll pollAccountLogin(const GameSettings& game, double nowSeconds) {
    AccountLogin& a = accountLogin();
    if (!accountLoginAnswered()) return {};
    if (a.worker.joinable()) a.worker.join();
    a.loginInFlight.exchange(false);
    a.loginDone.exchange(false);

    if (a.loginCancelled.load()) {
        wipeCredentials();
        platform::wipeText(a.loginResponse);
        return {LoginEvent::Dropped, {}};
    }

    std::string message;
    jsonGetTopLevelString(a.loginResponse, "message", message);
    const uint32_t status = a.loginHttpStatus;

    if (status == 200 || status == 201) {
        std::string ticket;
        bool usable = jsonGetTopLevelString(a.loginResponse, "ticket", ticket) && !ticket.empty();
        wipeCredentials();
        platform::wipeText(a.loginResponse);
        if (!usable) {
            platform::wipeText(ticket);
            releaseSecret(ticket, "ticket");
            return errorPoll(kLoginBrokenAnswer);
        }
        std::string launchError;
        bool started = launchGame(ticket, game, nowSeconds, launchError);
        platform::wipeText(ticket);
        releaseSecret(ticket, "ticket");
        if (!started) return errorPoll(std::move(launchError));
        return {LoginEvent::GameStarted, {}};
    }

    if (status == 0) {
        // In the two-step state the password and code stay, so the player can press again.
        if (!a.totpStep) wipeCredentials();
        return errorPoll("Giriş sunucusuna ulaşılamadı (" + a.loginError + ").");
    }

    if (message == "TOTP_REQUIRED") {
        a.totpStep = true;
        platform::wipeText(*a.totpCodeText);
        return {LoginEvent::TotpRequired, kLoginTotpRequired};
    }
    if (message == "TOTP_INVALID") {
        platform::wipeText(*a.totpCodeText);
        return {LoginEvent::TotpInvalid, kLoginTotpInvalid};
    }

    wipeCredentials();
    std::string text;
    if (message == "INVALID_CREDENTIALS") {
        text = kLoginBadCredentials;
    } else if (message == "EMAIL_NOT_VERIFIED") {
        std::string masked;
        text = "E-posta adresin henüz doğrulanmadı";
        if (jsonGetTopLevelString(a.loginResponse, "maskedEmail", masked) && !masked.empty())
            text += " (" + masked + ")";
        text += ". Gelen kutundaki bağlantıya tıkla, sonra tekrar dene.";
    } else if (!message.empty()) {
        text = message;
    } else {
        text = "Giriş yapılamadı (HTTP " + std::to_string(status) + ").";
    }
    platform::wipeText(a.loginResponse);
    return errorPoll(std::move(text));
}

// ---- cancel and exit ----

bool cancelAccountLogin() {
    AccountLogin& a = accountLogin();
    if (a.loginInFlight.load()) {
        a.loginCancelled.store(true);
        return true;
    }
    wipeCredentials();
    return false;
}

void shutdownAccountLogin() {
    AccountLogin& a = accountLogin();
    a.loginCancelled.store(true);
    if (a.worker.joinable()) a.worker.join();
    a.loginInFlight.store(false);
    a.loginDone.store(false);
    wipeCredentials();
    platform::wipeText(a.loginResponse);
}
