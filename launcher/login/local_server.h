// local_server.h - starting the local game server when the configured address is local,
// and ending it at exit. Silent: no outcome here is ever shown to the player.
//
// Index
//   ---- tunables ----
//   ---- state ----      LocalServer
//   ---- operations ---- startLocalServer, stopLocalServer
#pragma once

#include "config/config.h"
#include "platform/platform.h"

// ---- tunables ----
inline constexpr double kLocalServerGraceSeconds = 2.0; // SIGTERM, then SIGKILL

// ---- state ----

// The server this launcher started; owned by the app's Launcher. Main thread only.
struct LocalServer {
    platform::ProcessId process = 0; // 0 when this launcher started none
};

// ---- operations ----

// Once, at start-up, after the configuration was read. Starts `yerel_sunucu` ('\' read as
// '/', relative to the working folder; nothing when it is unset or empty) in its own
// session, working folder `yerel_sunucu_klasoru`, when `sunucu` parses and its host is
// exactly "127.0.0.1" or "localhost", the file exists, and no process of that
// executable's base name (any letter case) runs. True when it started one: the first
// probe then waits.
bool startLocalServer(LocalServer& server, const Config& cfg);

// Program exit: ends the server this launcher started (SIGTERM, a grace period, then
// SIGKILL) and forgets it. Nothing when it started none; a server found running at
// start-up is never touched.
void stopLocalServer(LocalServer& server);
