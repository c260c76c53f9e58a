// gameserver.cpp - the launcher's link to the game server (see gameserver.h).
//
// Index
//   ---- state ----
//   ---- address ----
//   ---- name lookup ----   AddressLookup, the lookup thread
//   ---- link ----
#include "login/gameserver.h"

#include "login/wipe.h"
#include "platform/clock.h"
#include "platform/text.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

// ---- state ----

ServerLink::~ServerLink() {
    shutdownServerLink(*this);
}

// ---- address ----

bool parseServerAddress(const std::string& text, std::string& outHost, uint16_t& outPort) {
    size_t begin = 0, end = text.size();
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    const std::string trimmed = text.substr(begin, end - begin);
    outHost = trimmed;
    outPort = kDefaultGamePort;
    if (trimmed.empty()) return false;
    const size_t colon = trimmed.find(':');
    if (colon == std::string::npos) return true;
    if (trimmed.find(':', colon + 1) != std::string::npos) return false;
    const std::string host = trimmed.substr(0, colon);
    const std::string port = trimmed.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    outHost = host;
    outPort = static_cast<uint16_t>(value);
    return true;
}

// ---- name lookup ----

// Shared by the main thread and one lookup thread and freed by whichever lets go last: a
// lookup that ends after its link was reset, or while the launcher closes, writes only into
// memory it still owns. The thread is detached, so the exit never waits for a resolver that
// does not answer.
struct AddressLookup {
    std::string host;              // set before the thread starts, read-only after
    uint16_t port = 0;             // main thread only
    uint32_t address = 0;          // ENet's host field; the lookup thread's until `done`
    bool resolved = false;         // the lookup thread's until `done`
    std::atomic<bool> done{false}; // written by the lookup thread, its last act on the block
};

namespace {

// The lookup thread: ENet's own resolver, which touches no host and no peer.
void lookUpAddress(std::shared_ptr<AddressLookup> lookup) {
    ENetAddress address{};
    lookup->resolved = enet_address_set_host(&address, lookup->host.c_str()) == 0;
    lookup->address = address.host;
    lookup->done.store(true);
}

} // namespace

// ---- link ----

void resetServerLink(ServerLink& link) {
    if (link.serverPeer) {
        enet_peer_reset(link.serverPeer);
        link.serverPeer = nullptr;
    }
    link.lookup.reset(); // a late answer goes nowhere
    link.linkMode = LinkMode::Idle;
    link.requestSent = false;
    platform::wipeText(link.loginPassword);
}

void failServerLink(ServerLink& link, const std::string& message) {
    const LinkMode mode = link.linkMode;
    resetServerLink(link);
    if (mode == LinkMode::Idle) return;
    link.serverStatus = ServerStatus::Offline;
    if (mode == LinkMode::Login) link.login = {LoginEvent::Error, message, {}};
}

namespace {

void connectPeer(ServerLink& link, const ENetAddress& target) {
    link.serverPeer = enet_host_connect(link.enetHost, &target, 2, 0);
    if (!link.serverPeer) failServerLink(link, kLinkNoPeer);
}

// The connection on a link just reset, whose login credentials (if any) are already
// stored: every failure from here on goes through failServerLink, which wipes them.
void connectAfterReset(ServerLink& link, LinkMode mode, const std::string& address) {
    if (!link.enetHost) {
        link.enetHost = enet_host_create(nullptr, 1, 2, 0, 0);
        if (link.enetHost) {
            link.enetHost->mtu = kLinkMtu;
            link.enetHost->checksum = enet_crc32;
            // No packet longer than the longest answer is assembled (ENet's default is 32 MiB).
            link.enetHost->maximumPacketSize = wire::kMaxNewsAnswerBytes;
        }
    }
    link.linkMode = mode;
    link.connectStartTime = platform::now();
    std::string host;
    uint16_t port = 0;
    if (!parseServerAddress(address, host, port)) {
        failServerLink(link, kLinkBadAddress + address);
        return;
    }
    if (!link.enetHost) {
        failServerLink(link, kLinkUnresolved + host);
        return;
    }
    ENetAddress target{};
    target.port = port;
    if (enet_address_set_host_ip(&target, host.c_str()) == 0) { // dotted IPv4: nothing to look up
        connectPeer(link, target);
        return;
    }
    auto lookup = std::make_shared<AddressLookup>();
    lookup->host = host;
    lookup->port = port;
    link.lookup = lookup;
    try {
        std::thread(lookUpAddress, std::move(lookup)).detach();
    } catch (const std::system_error&) { // no thread to be had: as if the name were unknown
        failServerLink(link, kLinkUnresolved + host);
    }
}

// A lookup that has answered: connect to what it found, or fail.
void takeLookup(ServerLink& link) {
    const std::shared_ptr<AddressLookup> lookup = std::move(link.lookup); // leaves it null
    if (!lookup->resolved) {
        failServerLink(link, kLinkUnresolved + lookup->host);
        return;
    }
    ENetAddress target{};
    target.host = lookup->address;
    target.port = lookup->port;
    connectPeer(link, target);
}

} // namespace

void connectToGameServer(ServerLink& link, LinkMode mode, const std::string& address) {
    resetServerLink(link);
    connectAfterReset(link, mode, address);
}

void startGameServerLogin(ServerLink& link, const std::string& address, const std::string& user,
                          const std::string& password) {
    resetServerLink(link);
    // Stored before the connection starts, so a connection that fails on its way wipes them.
    link.loginUser = user;
    // Reserved once, so no smaller buffer holding a part of the password is freed unwiped.
    link.loginPassword.reserve(password.size());
    link.loginPassword = password;
    connectAfterReset(link, LinkMode::Login, address);
}

namespace {

void sendRequest(ServerLink& link) {
    std::string request = link.linkMode == LinkMode::Probe
                              ? wire::encodeProbeRequest()
                              : wire::encodeLoginRequest(link.loginUser, link.loginPassword);
    ENetPacket* packet = enet_packet_create(request.data(), request.size(), ENET_PACKET_FLAG_RELIABLE);
    if (packet && enet_peer_send(link.serverPeer, 0, packet) != 0) enet_packet_destroy(packet);
    platform::wipeText(request);
    platform::wipeText(link.loginPassword);
}

} // namespace

std::string refusalText(const wire::LoginRefused& refused) {
    switch (refused.reason) {
    case wire::kRefusedCredentials:
        return kRefusedCredentialsText;
    case wire::kRefusedOldLauncher:
        return kRefusedOldLauncherText;
    case wire::kRefusedTooManyTries:
        return kRefusedTooManyTriesText;
    case wire::kRefusedInGame:
        return kRefusedInGameText;
    default:
        return refused.message.empty() ? kRefusedOther : refused.message;
    }
}

void handleServerMessage(ServerLink& link, const std::string& bytes) {
    if (bytes.empty()) return;
    const uint8_t type = static_cast<uint8_t>(bytes[0]);
    if (type == wire::kNewsAnswer && link.linkMode == LinkMode::Probe) {
        wire::NewsAnswer news = wire::decodeNewsAnswer(bytes);
        if (news.hasCount && news.ok) {
            link.newsArrived = true;
            link.news = std::move(news.items);
        }
        link.serverStatus = ServerStatus::Online;
        resetServerLink(link);
    } else if (type == wire::kLoginAccepted && link.linkMode == LinkMode::Login) {
        wire::LoginAccepted accepted = wire::decodeLoginAccepted(bytes);
        resetServerLink(link);
        link.serverStatus = ServerStatus::Online;
        platform::wipeText(link.login.ticket);
        if (accepted.ok)
            link.login = {LoginEvent::Ticket, {}, std::move(accepted.ticket)}; // the session wipes it
        else
            link.login = {LoginEvent::Error, kLinkBrokenAnswer, {}};
        platform::wipeText(accepted.ticket);
    } else if (type == wire::kLoginRefused && link.linkMode == LinkMode::Login) {
        const wire::LoginRefused refused = wire::decodeLoginRefused(bytes);
        resetServerLink(link);
        link.serverStatus = ServerStatus::Online;
        link.login = {LoginEvent::Error, refusalText(refused), {}};
    } else if (type == wire::kRejected) {
        const wire::Rejected rejected = wire::decodeRejected(bytes);
        failServerLink(link, kLinkRejected + rejected.reason);
    }
    // Anything else waits for its answer or its time-out.
}

void pumpGameServer(ServerLink& link) {
    if (!link.enetHost) return;
    if (link.lookup && link.lookup->done.load()) takeLookup(link);
    ENetEvent event;
    while (link.enetHost && enet_host_service(link.enetHost, &event, 0) > 0) {
        const bool ours = link.serverPeer && event.peer == link.serverPeer;
        switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT:
            if (ours) {
                link.requestSent = true;
                sendRequest(link);
            }
            break;
        case ENET_EVENT_TYPE_RECEIVE:
            if (ours) {
                std::string bytes(reinterpret_cast<const char*>(event.packet->data),
                                  event.packet->dataLength);
                std::fill_n(event.packet->data, event.packet->dataLength, 0); // may hold the ticket
                enet_packet_destroy(event.packet);
                handleServerMessage(link, bytes);
                platform::wipeText(bytes); // a login answer holds the ticket
            } else {
                enet_packet_destroy(event.packet);
            }
            break;
        case ENET_EVENT_TYPE_DISCONNECT:
            if (ours) {
                link.serverPeer = nullptr; // ENet has already released it
                failServerLink(link, kLinkUnreachable);
            }
            break;
        default:
            break;
        }
    }
    if (link.linkMode != LinkMode::Idle) {
        const double limit = link.requestSent ? link.answerLimitSeconds : link.connectLimitSeconds;
        if (platform::now() - link.connectStartTime > limit)
            failServerLink(link, link.requestSent ? kLinkNoAnswer : kLinkUnreachable);
    }
    enet_host_flush(link.enetHost);
}

LoginOutcome takeLinkLogin(ServerLink& link) {
    if (link.login.event == LoginEvent::None) return {};
    LoginOutcome out = std::move(link.login); // the ticket's buffer moves, no copy is made
    link.login = LoginOutcome{};
    return out;
}

bool takeServerNews(ServerLink& link, std::vector<wire::NewsItem>& outItems) {
    if (!link.newsArrived) return false;
    link.newsArrived = false;
    outItems = std::move(link.news);
    link.news.clear();
    return true;
}

void shutdownServerLink(ServerLink& link) {
    resetServerLink(link);
    platform::wipeText(link.login.ticket); // a ticket that arrived as the launcher closed
    if (link.enetHost) {
        enet_host_destroy(link.enetHost);
        link.enetHost = nullptr;
    }
}
