// outcome.h - what a login ends with, whichever way it went (the account service over
// HTTP or the game server over ENet). The session (session.h) turns a ticket into a
// started game, so the screens see one kind of answer from both paths.
#pragma once

#include <string>

enum class LoginEvent {
    None,         // nothing arrived this frame
    Dropped,      // a cancelled request's answer was thrown away; nothing is shown
    Ticket,       // a ticket arrived (internal to login/: the session starts the game with it)
    GameStarted,  // the game runs: the dialog closes, no field is focused, the window hides
    TotpRequired, // the service asks for the six-digit code: the code field, showInfo(text)
    TotpInvalid,  // the code was wrong: the code field again, showError(text)
    Error,        // showError(text)
};

struct LoginOutcome {
    LoginEvent event = LoginEvent::None;
    std::string text;   // the message of TotpRequired, TotpInvalid and Error
    std::string ticket; // Ticket only; a secret, wiped by whoever uses it
};
