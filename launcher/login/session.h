// session.h - logging in, whichever way: through the account service when "hesap_api" is
// set, else through the game server. Both ways end in one LoginOutcome, and a ticket from
// either starts the game here, with the game settings read from the configuration at that
// moment.
//
// Index
//   ---- state ----      Session
//   ---- operations ---- accountServiceConfigured, loginBusy, startLogin, sendLoginCode,
//                        cancelLogin, takeLoginOutcome
#pragma once

#include "config/config.h"
#include "login/account.h"
#include "login/game.h"
#include "login/gameserver.h"
#include "login/outcome.h"

#include <string>

// ---- state ----

// The login's state and the game it started; owned by the app's Launcher (a test makes its
// own). Main thread only, but for the account login's worker (account.h).
struct Session {
    AccountLogin account;
    ServerLink link;
    GameWatch game;
};

// ---- operations ----

// "hesap_api" is not empty: the account service logs in (and the user-name field takes
// e-mail addresses).
bool accountServiceConfigured(const Config& cfg);

// A login runs: an account request in flight, or a login connection to the game server.
bool loginBusy(const Session& session);

// The first step. With an account service the password moves into the account login and
// the request starts; without one a Login connection to "sunucu" takes its own copy. The
// caller's `password` is wiped either way.
void startLogin(Session& session, const Config& cfg, const std::string& user, std::string& password);

// The two-step stage: the typed code goes to the service with the stored password.
void sendLoginCode(Session& session, const Config& cfg, const std::string& user, const std::string& code);

// The login dialog closes: a login over the game server is dropped with its connection
// (its password wiped); an account request in flight is marked to be dropped; with none,
// the stored password and `codeText` are wiped and the two-step stage ends.
void cancelLogin(Session& session, std::string& codeText);

// Once a frame (an idle frame tests two flags and allocates nothing): what a login ended
// with since the last call, the game-server link's first, then the account service's. A
// ticket starts the game (gameSettings(cfg), nowSeconds) and is wiped at once: the result
// is GameStarted, or Error with the launch's message. `codeText` is the dialog's code,
// wiped by the answers that end with it (pollAccountLogin).
LoginOutcome takeLoginOutcome(Session& session, const Config& cfg, std::string& codeText, double nowSeconds);
