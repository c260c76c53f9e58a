// session.cpp - both ways of logging in, and their one outcome (see session.h).
#include "login/session.h"

#include "login/wipe.h"
#include "platform/text.h"

bool accountServiceConfigured(const Config& cfg) {
    return !configGet(cfg, keys::kAccountApi).empty();
}

bool loginBusy(const Session& session) {
    return session.account.loginInFlight.load() || session.link.linkMode == LinkMode::Login;
}

void startLogin(Session& session, const Config& cfg, const std::string& user, std::string& password) {
    if (!accountServiceConfigured(cfg)) {
        startGameServerLogin(session.link, configGet(cfg, keys::kServer), user, password);
        platform::wipeText(password);
        return;
    }
    std::string& stored = session.account.accountPassword;
    platform::wipeText(stored);
    stored.append(password); // into the wiped buffer: no copy is left in freed memory
    platform::wipeText(password);
    startAccountLogin(session.account, configGet(cfg, keys::kAccountApi), user, std::string());
}

void sendLoginCode(Session& session, const Config& cfg, const std::string& user, const std::string& code) {
    startAccountLogin(session.account, configGet(cfg, keys::kAccountApi), user, code);
}

void cancelLogin(Session& session, std::string& codeText) {
    if (session.link.linkMode == LinkMode::Login) resetServerLink(session.link);
    cancelAccountLogin(session.account, codeText);
}

LoginOutcome takeLoginOutcome(Session& session, const Config& cfg, std::string& codeText, double nowSeconds) {
    LoginOutcome outcome = takeLinkLogin(session.link);
    if (outcome.event == LoginEvent::None && accountLoginAnswered(session.account))
        outcome = pollAccountLogin(session.account, codeText);
    if (outcome.event != LoginEvent::Ticket) return outcome;
    std::string error;
    const bool started = launchGame(session.game, outcome.ticket, gameSettings(cfg), nowSeconds, error);
    platform::wipeText(outcome.ticket);
    releaseSecret(outcome.ticket, "ticket");
    outcome.event = started ? LoginEvent::GameStarted : LoginEvent::Error;
    outcome.text = std::move(error);
    return outcome;
}
