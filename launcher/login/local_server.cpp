// local_server.cpp - the local game server (see local_server.h).
#include "login/local_server.h"

#include "login/gameserver.h"
#include "platform/text.h"

#include <algorithm>
#include <string>

namespace {

// The hosts that name this computer in a configured address.
constexpr char kLocalHosts[][10] = {"127.0.0.1", "localhost"};

} // namespace

bool startLocalServer(LocalServer& server, const Config& cfg) {
    std::string host;
    uint16_t port = 0;
    if (!parseServerAddress(configGet(cfg, keys::kServer), host, port)) return false;
    if (std::none_of(std::begin(kLocalHosts), std::end(kLocalHosts),
                     [&](const char* h) { return host == h; }))
        return false;
    const std::string configured = platform::forwardSlashes(configGet(cfg, keys::kLocalServer));
    if (configured.empty()) return false;
    const size_t slash = configured.find_last_of('/');
    const std::string baseName = slash == std::string::npos ? configured : configured.substr(slash + 1);
    if (baseName.empty() || platform::isProgramRunning(baseName)) return false;
    const std::string executable = platform::fullPath(configured);
    if (!platform::pathExists(executable)) return false;
    platform::ProcessOptions options;
    options.workingFolder =
        platform::fullPath(platform::forwardSlashes(configGet(cfg, keys::kLocalServerFolder)));
    options.newSession = true;
    int error = 0;
    server.process = platform::startProcess(executable, {}, options, error);
    return server.process != 0;
}

void stopLocalServer(LocalServer& server) {
    if (server.process == 0) return;
    platform::terminateProcess(server.process, kLocalServerGraceSeconds);
    server.process = 0;
}
