// gameserver.h - the launcher's link to the game server over ENet: a probe (reachability
// and the server's news) and, when no account service is configured, the login.
//
// Index
//   ---- tunables and texts ----
//   ---- state ----       LinkMode, ServerStatus, ServerLink
//   ---- address ----     parseServerAddress
//   ---- link ----        connectToGameServer, startGameServerLogin, pumpGameServer,
//                         handleServerMessage, takeLinkLogin, takeServerNews,
//                         resetServerLink, failServerLink, shutdownServerLink
//
// One short-lived connection per job; each lives until its one answer is handled, then the
// peer is reset, and a new connection always replaces the old one. Main thread only: ENet's
// host is never touched by another thread. A host name is looked up on a detached thread of
// its own (the resolver may take seconds), which hands its answer back through an atomic
// that the pump polls. This layer touches no window and no screen: what a login ended with
// (a ticket, or the error to show) and the news a probe brought wait in the link until
// the frame loop takes them (takeLinkLogin, takeServerNews).
#pragma once

#include "login/outcome.h"
#include "login/wire.h"
#include "platform/clock.h"

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
inline constexpr const char* kLinkBadAddress = "Sunucu adresi hatalı: ";     // + address as read
inline constexpr const char* kLinkUnresolved = "Sunucu adresi çözülemedi: "; // + host
inline constexpr const char* kLinkNoPeer = "Bağlantı kurulamadı.";
inline constexpr const char* kLinkUnreachable = "Sunucuya bağlanılamadı. Sunucu kapalı olabilir.";
inline constexpr const char* kLinkNoAnswer = "Sunucu cevap vermedi.";
inline constexpr const char* kLinkRejected = "Sunucu reddetti: "; // + the server's text
inline constexpr const char* kLinkBrokenAnswer = "Sunucudan bozuk cevap geldi.";
// What a refusal shows, by its reason (wire.h); any other reason shows the server's own
// text, or kRefusedOther when it sent none.
inline constexpr const char* kRefusedCredentialsText = "Kullanıcı adı veya şifre hatalı.";
inline constexpr const char* kRefusedOldLauncherText = "Launcher sürümün eski. Lütfen güncelle.";
inline constexpr const char* kRefusedTooManyTriesText =
    "Çok fazla hatalı deneme yaptın. 1 dakika sonra tekrar dene.";
inline constexpr const char* kRefusedInGameText = "Bu hesap şu anda oyunda.";
inline constexpr const char* kRefusedOther = "Giriş yapılamadı.";

// ---- state ----

enum class LinkMode : int32_t { Idle = 0, Probe = 1, Login = 2 };
enum class ServerStatus : int32_t { Connecting = 0, Online = 1, Offline = 2 };

// The link; owned by the app's Launcher (through the session), lives for the whole run.
// Main thread only.
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
    // What the frame loop still has to take: a login connection's end (Ticket or Error),
    // and the news of a probe's answer.
    LoginOutcome login;
    bool newsArrived = false;
    std::vector<wire::NewsItem> news;

    ServerLink() = default;
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;
    ~ServerLink(); // shutdownServerLink, when the program has not already
};

// ---- address ----

// Blanks (spaces, tabs) stripped from both ends; "host" gives port 27015, "host:port" the
// port 1..65535 written with 1 to 5 digits. False for an empty text, an empty host, two
// colons, an empty, over-long, non-digit, 0 or too large port.
bool parseServerAddress(const std::string& text, std::string& outHost, uint16_t& outPort);

// ---- link ----

// Resets the link, creates the host on first use (MTU 1200, ENet's CRC-32 checksum), then
// connects to `address` (the `sunucu` value). A bad address, or
// no ENet host, ends through failServerLink at once. A dotted IPv4 address is connected at
// once; a name is handed to a lookup thread and the call returns without waiting: linkMode
// is `mode`, there is no peer yet and serverStatus is unchanged until pumpGameServer takes
// the answer (unresolvable or no peer: failServerLink). The connect limit counts from this
// call, the lookup included.
void connectToGameServer(ServerLink& link, LinkMode mode, const std::string& address);

// The login's way when no account service is configured: a Login connection to `address`
// that takes the user name and the password with it, so every way the connection ends
// (sent, refused address, unresolvable host, no peer, time-out, reset) wipes the stored
// password. The caller wipes its field.
void startGameServerLogin(ServerLink& link, const std::string& address, const std::string& user,
                          const std::string& password);

// Once a frame, main thread, never waits: takes a finished name lookup (then connects),
// services ENet, sends the request once connected (then wipes the password), handles the
// answer, enforces the two limits, and flushes. Nothing while no host exists.
void pumpGameServer(ServerLink& link);

// One message of the current connection (see the message table in wire.h). A login
// accepted leaves its ticket in `login` (Ticket); a refusal, a rejection or a broken answer
// of a login leaves its text (Error).
void handleServerMessage(ServerLink& link, const std::string& bytes);

// The login connection's end since the last take (None when there is none); empties it.
LoginOutcome takeLinkLogin(ServerLink& link);
// True (with the items in `outItems`) when a probe's answer brought news since the last
// take; empties it.
bool takeServerNews(ServerLink& link, std::vector<wire::NewsItem>& outItems);

// The text a refusal shows: by its reason, else the server's text, else kRefusedOther.
std::string refusalText(const wire::LoginRefused& refused);

// Forgets the peer (enet_peer_reset) and any lookup in progress (its late answer is never
// used), mode Idle, requestSent false, password wiped. serverStatus and loginUser are not
// touched.
void resetServerLink(ServerLink& link);

// Ends the connection: Probe -> Offline, nothing shown; Login -> Offline and the message
// left as the login's Error; Idle -> nothing more.
void failServerLink(ServerLink& link, const std::string& message);

// Program exit: resets the link, wipes a ticket never taken and destroys the host. ENet is
// still initialised.
void shutdownServerLink(ServerLink& link);
