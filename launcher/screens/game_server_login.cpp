// game_server_login.cpp - the game-server login until the ENet link exists: the server
// counts as unreachable, as a Login connection that never comes up reports it.
#include "screens/game_server_login.h"

#include "screens/main_screen.h"
#include "screens/message_dialog.h"

void startGameServerLogin(const std::string&, const std::string&) {
    serverStatus() = ServerOffline;
    showError("Sunucuya bağlanılamadı. Sunucu kapalı olabilir.");
}
