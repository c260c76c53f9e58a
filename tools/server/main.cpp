// morlaken_server - the local ENet game server the launcher starts beside itself.
//
//   morlaken_server [--port N] [--news FILE] [--users FILE] [--in-game NAME]...
//
// Listens on 127.0.0.1:N (default 27015; 0 = any free port) with the launcher's checksum
// (ENet's CRC-32) and MTU 1200, and prints "port N" once it listens. It answers:
//   0x0D probe          -> 0x0E news: the items of FILE (lines tag|title|body, '#' comments)
//   0x0A login request  -> 0x0B with a fresh random ticket, or 0x0C with a reason:
//                          1 unknown user or wrong password, 2 launcher version below 5,
//                          3 five failed attempts for the account (by name and e-mail
//                          together; for a name no account has, for that name) within a
//                          minute, 4 the account is in game (--in-game NAME)
//   anything malformed  -> 0x07 with a short reason
// An unknown name costs the same PBKDF2 as a wrong password (a decoy hash of the accounts'
// rounds), so neither the answer nor its delay tells whether the name exists.
// The users file has the format of morlaken-devhost's account users
// (tools/devhost/accounts.h); name or e-mail logs in. Without --users it reads
// "sunucu_kullanicilari.txt", without --news "sunucu_haberleri.txt", from its working folder
// when they are there: the launcher starts it with no arguments in `yerel_sunucu_klasoru`.
// Without any users file every login is refused with reason 1. What it loaded, or that it
// has none, is printed after the port line. Each answer is followed by a graceful
// disconnect. Many launchers are served at once (one loop, one ENet host); a slot is never
// held for long: a peer that sends nothing within kSilentPeerSeconds, or is still there
// kAnsweredPeerSeconds after its answer, is cut off, and no packet longer than the longest
// message is taken. Every request and answer is printed (an accepted login with its ticket;
// names as sent, control bytes escaped); SIGTERM or SIGINT (Ctrl+C in a Windows console)
// stops it cleanly. Built for Linux and Windows (morlaken_server.exe).
#include "../devhost/accounts.h"
#include "login/enet_setup.h"
#include "login/wire.h"
#include "platform/clock.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <enet/enet.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- tunables ----
constexpr size_t kMtu = 1200;
constexpr size_t kMaxPeers = 4000;
constexpr uint32_t kMinLauncherVersion = 5;
constexpr int kMaxFailuresPerMinute = 5;
constexpr double kFailureWindowSeconds = 60.0;
// Names that no account has, remembered with their failures; beyond this the name that
// failed longest ago is forgotten first.
constexpr size_t kMaxTrackedNames = 1024;
constexpr double kSilentPeerSeconds = 3.0;   // from the connect to the first message
constexpr double kAnsweredPeerSeconds = 3.0; // from the answer to the end of the disconnect
constexpr double kSweepSeconds = 0.25;
constexpr enet_uint32 kServiceWaitMs = 100;
// Read from the working folder when no option names another file.
constexpr const char* kDefaultUsersFile = "sunucu_kullanicilari.txt";
constexpr const char* kDefaultNewsFile = "sunucu_haberleri.txt";

volatile std::sig_atomic_t gStop = 0;
void onStopSignal(int) {
    gStop = 1;
}

std::vector<wire::NewsItem> loadNews(const std::string& path) {
    std::vector<wire::NewsItem> items;
    std::string text;
    if (!platform::readWholeFile(path, text)) return items;
    platform::LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t a = line.find('|');
        const size_t b = a == std::string_view::npos ? a : line.find('|', a + 1);
        if (b == std::string_view::npos) continue;
        items.push_back({std::string(line.substr(0, a)), std::string(line.substr(a + 1, b - a - 1)),
                         std::string(line.substr(b + 1))});
    }
    return items;
}

// The times of the last kMaxFailuresPerMinute failed logins of one account or name.
struct Failures {
    std::array<double, kMaxFailuresPerMinute> times{}; // a ring; `next` is the oldest once full
    int count = 0;
    int next = 0;

    bool tooMany(double now) const {
        return count == kMaxFailuresPerMinute && now - times[next] <= kFailureWindowSeconds;
    }
    double newest() const { return times[(next + kMaxFailuresPerMinute - 1) % kMaxFailuresPerMinute]; }
    void add(double now) {
        times[next] = now;
        next = (next + 1) % kMaxFailuresPerMinute;
        count = std::min(count + 1, kMaxFailuresPerMinute);
    }
};

// What the loop knows of a connected peer (by its index in the host's peer array).
struct PeerClock {
    bool tracked = false;
    bool answered = false;
    double deadline = 0; // cut off when still connected after this
};

struct Server {
    std::vector<wire::NewsItem> news;
    std::string newsAnswer; // encoded once
    std::vector<devhost::Account> users;
    std::string decoy; // checked for names that no account has
    std::set<std::string> inGame;
    std::vector<Failures> accountFailures;        // one per account, name and e-mail together
    std::map<std::string, Failures> nameFailures; // at most kMaxTrackedNames
    unsigned long answered = 0;

    void setUsers(std::vector<devhost::Account> accounts) {
        users = std::move(accounts);
        accountFailures.assign(users.size(), Failures{});
        decoy = devhost::decoyHash(users);
    }

    // The entry of a name that no account has, made room for when the table is full: names
    // whose failures have all left the window go first, else the one that failed longest ago.
    Failures& nameEntry(const std::string& user, double now) {
        auto it = nameFailures.find(user);
        if (it != nameFailures.end()) return it->second;
        if (nameFailures.size() >= kMaxTrackedNames) {
            for (auto i = nameFailures.begin(); i != nameFailures.end();)
                i = now - i->second.newest() > kFailureWindowSeconds ? nameFailures.erase(i) : std::next(i);
            if (nameFailures.size() >= kMaxTrackedNames)
                nameFailures.erase(std::min_element(
                    nameFailures.begin(), nameFailures.end(),
                    [](const auto& a, const auto& b) { return a.second.newest() < b.second.newest(); }));
        }
        return nameFailures[user];
    }

    // The answer to one message.
    std::string answer(const std::string& message, const char* from) {
        if (message.empty()) return wire::encodeRejected("boş mesaj");
        const uint8_t type = static_cast<uint8_t>(message[0]);
        if (type == wire::kProbeRequest) {
            if (message.size() != 1) return wire::encodeRejected("bozuk yoklama");
            std::printf("%s: yoklama -> %zu haber\n", from, news.size());
            return newsAnswer;
        }
        if (type != wire::kLoginRequest) return wire::encodeRejected("bilinmeyen mesaj");
        wire::LoginRequest request;
        std::string reason;
        if (!wire::decodeLoginRequest(message, request, reason)) return wire::encodeRejected(reason);
        std::string out = login(request, from);
        platform::wipeText(request.password);
        return out;
    }

    std::string login(const wire::LoginRequest& request, const char* from) {
        const std::string name = devhost::consoleText(request.user);
        if (request.version < kMinLauncherVersion) {
            std::printf("%s: giriş %s -> eski launcher (%u)\n", from, name.c_str(), request.version);
            return wire::encodeLoginRefused(2, "eski launcher");
        }
        const double now = platform::now();
        const devhost::Account* found = nullptr;
        const std::string& hash = devhost::loginHash(users, decoy, request.user, found);
        Failures* const accountEntry =
            found ? &accountFailures[static_cast<size_t>(found - users.data())] : nullptr;
        const auto named = nameFailures.find(request.user);
        const Failures* failures = accountEntry                  ? accountEntry
                                   : named != nameFailures.end() ? &named->second
                                                                 : nullptr;
        if (failures && failures->tooMany(now)) {
            std::printf("%s: giriş %s -> çok fazla deneme\n", from, name.c_str());
            return wire::encodeLoginRefused(3, "çok fazla deneme");
        }
        const bool passwordOk = devhost::verifyPassword(request.password, hash); // the decoy for no account
        if (!found || !passwordOk) {
            (accountEntry ? *accountEntry : nameEntry(request.user, now)).add(now);
            std::printf("%s: giriş %s -> hatalı şifre\n", from, name.c_str());
            return wire::encodeLoginRefused(1, "hatalı giriş");
        }
        if (inGame.count(found->name) || inGame.count(request.user)) {
            std::printf("%s: giriş %s -> hesap oyunda\n", from, name.c_str());
            return wire::encodeLoginRefused(4, "hesap oyunda");
        }
        *accountEntry = Failures{};
        const std::string ticket = devhost::randomHex(16);
        // The ticket is printed so a developer can match it with what the game received.
        std::printf("%s: giriş %s -> kabul, bilet %s\n", from, name.c_str(), ticket.c_str());
        return wire::encodeLoginAccepted(found->name, ticket);
    }
};

int usage() {
    std::fprintf(stderr,
                 "kullanım: morlaken_server [--port N] [--news FILE] [--users FILE] [--in-game NAME]...\n"
                 "  --news ve --users verilmezse çalışma klasöründeki \"%s\" ve \"%s\" okunur;\n"
                 "  kullanıcı dosyası yoksa her giriş reddedilir.\n",
                 kDefaultNewsFile, kDefaultUsersFile);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    platform::useUtf8Console();
    // Unbuffered: each line reaches a console, a pipe or a file at once, in one write.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Server server;
    unsigned long port = 27015;
    std::string usersFile, newsFile;
    const std::vector<std::string> args = platform::programArguments(argc, argv);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i + 1 >= args.size()) return usage();
        const std::string& value = args[++i];
        if (arg == "--port") {
            port = std::strtoul(value.c_str(), nullptr, 10);
            if (port > 65535) return usage();
        } else if (arg == "--news") {
            newsFile = value;
        } else if (arg == "--users") {
            usersFile = value;
        } else if (arg == "--in-game") {
            server.inGame.insert(value);
        } else {
            return usage();
        }
    }
    // Files the options did not name come from the working folder, when they are there.
    if (usersFile.empty() && platform::pathExists(kDefaultUsersFile)) usersFile = kDefaultUsersFile;
    if (newsFile.empty() && platform::pathExists(kDefaultNewsFile)) newsFile = kDefaultNewsFile;
    std::vector<devhost::Account> users;
    if (!usersFile.empty()) {
        std::string error;
        if (!devhost::loadAccounts(usersFile, users, error)) {
            std::fprintf(stderr, "kullanıcı dosyası okunamadı: %s\n", error.c_str());
            return 1;
        }
    }
    server.setUsers(std::move(users));
    if (!newsFile.empty()) server.news = loadNews(newsFile);
    server.newsAnswer = wire::encodeNewsAnswer(server.news);
    if (!initializeEnet()) return 1;
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    ENetHost* host = enet_host_create(&address, kMaxPeers, 2, 0, 0);
    if (!host) {
        std::fprintf(stderr, "127.0.0.1:%lu dinlenemiyor\n", port);
        enet_deinitialize();
        return 1;
    }
    host->mtu = kMtu;
    host->checksum = enet_crc32;
    // ENet would assemble packets of up to 32 MiB for any peer; no message here is longer
    // than a login request or the news answer (every other answer is shorter than the first).
    static_assert(1 + 2 * (1 + wire::kMaxText) <= wire::kMaxLoginRequestBytes);
    host->maximumPacketSize = std::max(wire::kMaxLoginRequestBytes, server.newsAnswer.size());
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);
    std::printf("port %u\n", static_cast<unsigned>(host->address.port));
    if (usersFile.empty())
        std::printf("kullanıcı dosyası yok (%s): her giriş reddedilir\n", kDefaultUsersFile);
    else
        std::printf("kullanıcılar: %s (%zu hesap)\n", usersFile.c_str(), server.users.size());
    if (newsFile.empty())
        std::printf("haber dosyası yok (%s): yoklamaya boş haber listesi\n", kDefaultNewsFile);
    else
        std::printf("haberler: %s (%zu haber)\n", newsFile.c_str(), server.news.size());

    std::vector<PeerClock> clocks(host->peerCount);
    double nextSweep = 0;
    ENetEvent event;
    while (!gStop) {
        int got = enet_host_service(host, &event, kServiceWaitMs);
        while (got > 0) {
            PeerClock& clock = clocks[static_cast<size_t>(event.peer - host->peers)];
            char from[32];
            std::snprintf(from, sizeof from, "%u:%u", static_cast<unsigned>(event.peer->address.port),
                          static_cast<unsigned>(event.peer->incomingPeerID));
            if (event.type == ENET_EVENT_TYPE_CONNECT) {
                clock = PeerClock{true, false, platform::now() + kSilentPeerSeconds};
            } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                clock = PeerClock{};
            } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                std::string message(reinterpret_cast<const char*>(event.packet->data),
                                    event.packet->dataLength);
                std::memset(event.packet->data, 0, event.packet->dataLength); // may hold a password
                enet_packet_destroy(event.packet);
                if (!clock.answered) { // one answer per connection; the rest is ignored
                    const std::string reply = server.answer(message, from);
                    ENetPacket* packet =
                        enet_packet_create(reply.data(), reply.size(), ENET_PACKET_FLAG_RELIABLE);
                    if (packet && enet_peer_send(event.peer, 0, packet) != 0) enet_packet_destroy(packet);
                    enet_peer_disconnect_later(event.peer, 0);
                    clock.answered = true;
                    clock.deadline = platform::now() + kAnsweredPeerSeconds;
                    ++server.answered;
                }
                platform::wipeText(message);
            }
            got = enet_host_check_events(host, &event);
        }
        // Peers past their deadline are cut off: a silent one would hold its slot for as long
        // as its ENet keeps answering pings.
        const double now = platform::now();
        if (now >= nextSweep) {
            nextSweep = now + kSweepSeconds;
            for (size_t i = 0; i < clocks.size(); ++i) {
                if (!clocks[i].tracked || now < clocks[i].deadline) continue;
                ENetPeer* peer = &host->peers[i];
                if (!clocks[i].answered)
                    std::printf("%u:%u: sessiz bağlantı kesildi\n", static_cast<unsigned>(peer->address.port),
                                static_cast<unsigned>(peer->incomingPeerID));
                enet_peer_disconnect_now(peer, 0);
                clocks[i] = PeerClock{};
            }
        }
        enet_host_flush(host);
    }
    std::printf("durduruldu (%lu cevap)\n", server.answered);
    enet_host_destroy(host);
    enet_deinitialize();
    return 0;
}
