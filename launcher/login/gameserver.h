// gameserver.h - the launcher's link to the game server over ENet: a probe (reachability
// and the server's news) and, when no account service is configured, the login.
//
// Index
//   ---- tunables and texts ----
//   ---- state ----       LinkMode, ServerStatus, ServerLink, serverLink
//   ---- address ----     parseServerAddress
//   ---- link ----        connectToGameServer, startGameServerLogin, pumpGameServer,
//                         handleServerMessage, resetServerLink, failServerLink,
//                         shutdownServerLink
//
// One short-lived connection per job; each lives until its one answer is handled, then the
// peer is reset, and a new connection always replaces the old one. Main thread only: ENet's
// host is never touched by another thread. A host name is looked up on a detached thread of
// its own (the resolver may take seconds), which hands its answer back through an atomic
// that the pump polls. This layer touches no window and no screen: what the
// screens must do (show an error, replace the news list, hide the window because the game
// runs) is handed up in LinkPoll, which the frame loop takes once a frame (takeLinkPoll).
#pragma once

#include "login/game.h"
#include "login/wire.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _ENetHost;
struct _ENetPeer;
struct AddressLookup; // a name lookup's shared block (gameserver.cpp)

// ---- tunables and texts ----
inline constexpr uint16_t kDefaultGamePort = 27015;
inline constexpr double kConnectLimitSeconds = 12.0; // connect event not seen by then
inline constexpr double kAnswerLimitSeconds = 15.0;  // request sent, no answer by then
inline constexpr size_t kLinkMtu = 1200;
inline constexpr const char* kDefaultServerAddress = "127.0.0.1";
inline constexpr const char* kLinkBadAddress = "Sunucu adresi hatalı: ";     // + address as read
inline constexpr const char* kLinkUnresolved = "Sunucu adresi çözülemedi: "; // + host
inline constexpr const char* kLinkNoPeer = "Bağlantı kurulamadı.";
inline constexpr const char* kLinkUnreachable = "Sunucuya bağlanılamadı. Sunucu kapalı olabilir.";
inline constexpr const char* kLinkNoAnswer = "Sunucu cevap vermedi.";
inline constexpr const char* kLinkRejected = "Sunucu reddetti: "; // + the server's text
inline constexpr const char* kLinkBrokenAnswer = "Sunucudan bozuk cevap geldi.";
inline constexpr const char* kRefusedTexts[] = {
    "",
    "Kullanıcı adı veya şifre hatalı.",
    "Launcher sürümün eski. Lütfen güncelle.",
    "Çok fazla hatalı deneme yaptın. 1 dakika sonra tekrar dene.",
    "Bu hesap şu anda oyunda.",
};
inline constexpr const char* kRefusedOther = "Giriş yapılamadı.";

// ---- state ----

enum class LinkMode : int32_t { Idle = 0, Probe = 1, Login = 2 };
enum class ServerStatus : int32_t { Connecting = 0, Online = 1, Offline = 2 };

// What the screens do after a pump; several fields may be set by one pump.
struct LinkPoll {
    std::vector<std::string> errors; // showError each, in order
    bool newsArrived = false;        // replace the news list with `news` unless the feed won
    std::vector<wire::NewsItem> news;
    bool gameStarted = false; // the game runs: gameState = Running, hide the window (the
                              // login dialog stays open behind it)
};

struct ServerLink {
    _ENetHost* enetHost = nullptr; // created on first use, destroyed at exit
    _ENetPeer* serverPeer = nullptr;
    // The name lookup the current connection waits for; null when none. Shared with the
    // lookup's thread, so a reset only lets go of it and the thread frees it when it ends.
    std::shared_ptr<AddressLookup> lookup;
    LinkMode linkMode = LinkMode::Idle;
    bool requestSent = false;
    double connectStartTime = 0; // platform::now() seconds, from the connect request (lookup included)
    ServerStatus serverStatus = ServerStatus::Connecting;
    std::string loginUser;
    std::string loginPassword; // wiped once sent and at every reset, failures included
    // The two limits; tests shorten them.
    double connectLimitSeconds = kConnectLimitSeconds;
    double answerLimitSeconds = kAnswerLimitSeconds;
    // What the screens still have to act on (takeLinkPoll).
    LinkPoll pending;
};
ServerLink& serverLink();

// ---- address ----

// Blanks (spaces, tabs) stripped from both ends; "host" gives port 27015, "host:port" the
// port 1..65535 written with 1 to 5 digits. False for an empty text, an empty host, two
// colons, an empty, over-long, non-digit, 0 or too large port.
bool parseServerAddress(const std::string& text, std::string& outHost, uint16_t& outPort);

// ---- link ----

// Resets the link, creates the host on first use (MTU 1200, ENet's CRC-32 checksum), then
// connects to `address` (the `sunucu` value; "127.0.0.1" when absent). A bad address, or
// no ENet host, ends through failServerLink at once. A dotted IPv4 address is connected at
// once; a name is handed to a lookup thread and the call returns without waiting: linkMode
// is `mode`, there is no peer yet and serverStatus is unchanged until pumpGameServer takes
// the answer (unresolvable or no peer: failServerLink). The connect limit counts from this
// call, the lookup included.
void connectToGameServer(LinkMode mode, const std::string& address);
// The same with configGet("sunucu", "127.0.0.1").
void connectToGameServer(LinkMode mode);

// The login dialog's entry when no account service is configured: a Login connection to
// the configured server that takes the user name and the password with it, so every way the
// connection ends (sent, refused address, unresolvable host, no peer, time-out, reset)
// wipes the stored password. The caller wipes its field.
void startGameServerLogin(const std::string& user, const std::string& password);

// Once a frame, main thread, never waits: takes a finished name lookup (then connects),
// services ENet, sends the request once connected (then wipes the password), handles the
// answer, enforces the two limits, and flushes. `game` is what a login accepted starts the
// game with.
void pumpGameServer(const GameSettings& game);

// What the pumps produced since the last take; empties it.
LinkPoll takeLinkPoll();

// One message of the current connection (see the message table in wire.h).
void handleServerMessage(const std::string& bytes, const GameSettings& game);

// Forgets the peer (enet_peer_reset) and any lookup in progress (its late answer is never
// used), mode Idle, requestSent false, password wiped. serverStatus and loginUser are not
// touched.
void resetServerLink();

// Ends the connection: Probe -> Offline, nothing shown; Login -> Offline and the message
// handed up as an error; Idle -> nothing more.
void failServerLink(const std::string& message);

// Program exit: resets the link and destroys the host. ENet is still initialised.
void shutdownServerLink();
