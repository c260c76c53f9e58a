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

#include <functional>
#include <memory>
#include <utility>

// ---- state ----

AccountLogin::~AccountLogin() {
    loginCancelled.store(true); // a request still running ends at once
    if (worker.joinable()) worker.join();
}

void wipeCredentials(AccountLogin& login, std::string& codeText) {
    platform::wipeText(login.accountPassword);
    platform::wipeText(codeText);
    login.totpStep = false;
}

// ---- request ----

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

void loginWorker(AccountLogin& a, std::unique_ptr<LoginRequest> request) {
    a.loginError.clear();
    postJson(request->url, request->body, a.loginHttpStatus, a.loginResponse, a.loginError,
             &a.loginCancelled);
    platform::wipeText(request->body);
    a.loginDone.exchange(true);
    request.reset();
}

} // namespace

void startAccountLogin(AccountLogin& a, const std::string& hesapApi, const std::string& userName,
                       const std::string& code) {
    if (a.worker.joinable()) a.worker.join();
    auto request = std::make_unique<LoginRequest>();
    request->url = accountLoginUrl(hesapApi);
    request->body = accountLoginBody(userName, a.accountPassword, code);
    a.loginInFlight.exchange(true);
    a.loginDone.exchange(false);
    a.loginCancelled.store(false);
    a.worker = std::thread(loginWorker, std::ref(a), std::move(request));
}

// ---- answer ----
namespace {

LoginOutcome errorOutcome(std::string text) {
    return {LoginEvent::Error, std::move(text), {}};
}

} // namespace

LoginOutcome pollAccountLogin(AccountLogin& a, std::string& codeText) {
    if (!accountLoginAnswered(a)) return {};
    if (a.worker.joinable()) a.worker.join();
    a.loginInFlight.exchange(false);
    a.loginDone.exchange(false);

    if (a.loginCancelled.load()) {
        wipeCredentials(a, codeText);
        platform::wipeText(a.loginResponse);
        return {LoginEvent::Dropped, {}, {}};
    }

    std::string message;
    jsonGetTopLevelString(a.loginResponse, "message", message);
    const uint32_t status = a.loginHttpStatus;

    if (status == 200 || status == 201) {
        LoginOutcome outcome{LoginEvent::Ticket, {}, {}};
        const bool usable =
            jsonGetTopLevelString(a.loginResponse, "ticket", outcome.ticket) && !outcome.ticket.empty();
        wipeCredentials(a, codeText);
        platform::wipeText(a.loginResponse);
        if (usable) return outcome; // the session starts the game with it, then wipes it
        platform::wipeText(outcome.ticket);
        releaseSecret(outcome.ticket, "ticket");
        return errorOutcome(kLoginBrokenAnswer);
    }

    if (status == 0) {
        // In the two-step state the password and code stay, so the player can press again.
        if (!a.totpStep) wipeCredentials(a, codeText);
        return errorOutcome("Giriş sunucusuna ulaşılamadı (" + a.loginError + ").");
    }

    if (message == "TOTP_REQUIRED") {
        a.totpStep = true;
        platform::wipeText(codeText);
        return {LoginEvent::TotpRequired, kLoginTotpRequired, {}};
    }
    if (message == "TOTP_INVALID") {
        platform::wipeText(codeText);
        return {LoginEvent::TotpInvalid, kLoginTotpInvalid, {}};
    }

    wipeCredentials(a, codeText);
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
    return errorOutcome(std::move(text));
}

// ---- cancel and exit ----

bool cancelAccountLogin(AccountLogin& a, std::string& codeText) {
    if (a.loginInFlight.load()) {
        a.loginCancelled.store(true);
        return true;
    }
    wipeCredentials(a, codeText);
    return false;
}

void shutdownAccountLogin(AccountLogin& a) {
    a.loginCancelled.store(true);
    if (a.worker.joinable()) a.worker.join();
    a.loginInFlight.store(false);
    a.loginDone.store(false);
    platform::wipeText(a.accountPassword);
    a.totpStep = false;
    platform::wipeText(a.loginResponse);
}
