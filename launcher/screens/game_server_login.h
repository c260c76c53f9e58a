// game_server_login.h - the login over the game-server connection, used by the login
// dialog when no account service is configured. Main thread only.
#pragma once

#include <string>

// Starts a login of `user` with `password` over the game-server link. The callee copies
// what it needs; the caller wipes its password field afterwards. Any failure is shown in
// the message dialog.
void startGameServerLogin(const std::string& user, const std::string& password);
