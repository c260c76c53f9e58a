// local_server.cpp - the local game server (see local_server.h).
#include "login/local_server.h"

#include "config/config.h"
#include "login/gameserver.h"
#include "platform/text.h"

namespace {

platform::ProcessId gLocalServer = 0;

} // namespace

platform::ProcessId localServerProcess() {
    return gLocalServer;
}

bool startLocalServer() {
    std::string host;
    uint16_t port = 0;
    if (!parseServerAddress(configGet("sunucu", kDefaultServerAddress), host, port)) return false;
    if (host != "127.0.0.1" && host != "localhost") return false;
    const std::string configured = platform::forwardSlashes(configGet("yerel_sunucu", kDefaultLocalServer));
    if (configured.empty()) return false;
    const size_t slash = configured.find_last_of('/');
    const std::string baseName = slash == std::string::npos ? configured : configured.substr(slash + 1);
    if (baseName.empty() || platform::isProgramRunning(baseName)) return false;
    const std::string executable = platform::fullPath(configured);
    if (!platform::pathExists(executable)) return false;
    platform::ProcessOptions options;
    options.workingFolder = platform::fullPath(
        platform::forwardSlashes(configGet("yerel_sunucu_klasoru", kDefaultLocalServerFolder)));
    options.newSession = true;
    int error = 0;
    gLocalServer = platform::startProcess(executable, {}, options, error);
    return gLocalServer != 0;
}

void stopLocalServer() {
    if (gLocalServer == 0) return;
    platform::terminateProcess(gLocalServer, kLocalServerGraceSeconds);
    gLocalServer = 0;
}
