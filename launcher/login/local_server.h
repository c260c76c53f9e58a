// local_server.h - starting the local game server when the configured address is local,
// and ending it at exit. Silent: no outcome here is ever shown to the player.
//
// Index
//   ---- tunables ----
//   ---- operations ---- startLocalServer, localServerProcess, stopLocalServer
#pragma once

#include "platform/platform.h"

#include <string>

// ---- tunables ----
// '\' in configured paths is read as '/', so Windows-style paths keep working. No server
// unless one is configured: a default path would start whatever anyone put there.
inline constexpr const char* kDefaultLocalServer = "";
inline constexpr const char* kDefaultLocalServerFolder = "..";
inline constexpr double kLocalServerGraceSeconds = 2.0; // SIGTERM, then SIGKILL

// ---- operations ----

// The server this launcher started; 0 when it started none.
platform::ProcessId localServerProcess();

// Once, at start-up, after the configuration was read. Starts `yerel_sunucu` (relative to
// the working folder; nothing when it is unset or empty) in its own session, working folder
// `yerel_sunucu_klasoru` (default ".."), when `sunucu` parses and its host is exactly
// "127.0.0.1" or "localhost", the file exists, and no process of that executable's base
// name (any letter case) runs. True when it started one: the first probe then waits.
bool startLocalServer();

// Program exit: ends the server this launcher started (SIGTERM, a grace period, then
// SIGKILL) and forgets it. Nothing when it started none; a server found running at
// start-up is never touched.
void stopLocalServer();
