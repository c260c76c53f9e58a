// server_load_bench.cpp - morlaken_server under a crowd of launchers on loopback.
//
//   bench_server_load_bench [LAUNCHERS] [--server PATH]   (default 300, at most 1000;
//                                                           PATH: another morlaken_server)
//
// Starts morlaken_server (beside this program) on a free 127.0.0.1 port with a news file
// and a users file, then:
//   reference: 20 launchers one after another (connect, one request, answer);
//   crowd:     LAUNCHERS launchers at once, each its own ENet host (checksum, MTU 1200),
//              alternately probing and logging in (every fifth with a wrong password).
// Every answer is checked (news items as served, a 32-digit ticket, all tickets distinct,
// refusal reason 1 for the wrong passwords). Prints answers per second of both and their
// ratio. Then, with a freshly started server, its memory: resident size after one probe,
// and again after kFailedNames failed logins with distinct names of 64 bytes (200 at a
// time), which must stay within kMaxGrowthKib. Exit status 1 when an answer is wrong or
// missing after 60 s, or the memory grew more.
#include "../tools/devhost/accounts.h"
#include "login/enet_setup.h"
#include "login/gameserver.h"
#include "login/wire.h"
#include "platform/platform.h"

#include <enet/enet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kLimitSeconds = 60.0;
constexpr int kFailedNames = 4000;
constexpr int kFailedNamesAtOnce = 200;
constexpr long kMaxGrowthKib = 2048;

double clockSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Launcher {
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    std::string request;
    int kind = 0; // 0 probe, 1 login, 2 wrong password, 3 a name no account has
    std::string answer;
    bool done = false;   // the answer came
    bool closed = false; // the server ended the connection
};

int gPort = 0;
std::set<std::string> gTickets;

// `unknownNames`: every launcher logs in with a name of its own that no account has.
Launcher makeLauncher(int index, bool unknownNames) {
    Launcher l;
    l.kind = unknownNames ? 3 : index % 5 == 4 ? 2 : index % 2;
    if (l.kind == 3) {
        std::string name = "yok-" + std::to_string(index) + "-";
        name.resize(wire::kMaxText, 'x');
        l.request = wire::encodeLoginRequest(name, "yanlis");
    } else {
        l.request = l.kind == 0 ? wire::encodeProbeRequest()
                                : wire::encodeLoginRequest("oyuncu", l.kind == 1 ? "gizli" : "yanlis");
    }
    l.host = enet_host_create(nullptr, 1, 2, 0, 0);
    l.host->mtu = kLinkMtu;
    l.host->checksum = enet_crc32;
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(gPort);
    l.peer = enet_host_connect(l.host, &address, 2, 0);
    return l;
}

// `untilClosed`: go on after the answer until the server has ended the connection.
bool finished(const Launcher& l, bool untilClosed) {
    return l.closed || (l.done && !untilClosed);
}

void service(Launcher& l, bool untilClosed) {
    ENetEvent event;
    while (!finished(l, untilClosed) && enet_host_service(l.host, &event, 0) > 0) {
        if (event.type == ENET_EVENT_TYPE_CONNECT)
            enet_peer_send(l.peer, 0,
                           enet_packet_create(l.request.data(), l.request.size(), ENET_PACKET_FLAG_RELIABLE));
        if (event.type == ENET_EVENT_TYPE_RECEIVE) {
            l.answer.assign(reinterpret_cast<const char*>(event.packet->data), event.packet->dataLength);
            enet_packet_destroy(event.packet);
            l.done = true;
        }
        if (event.type == ENET_EVENT_TYPE_DISCONNECT) l.closed = true;
    }
    if (!l.closed) enet_host_flush(l.host);
}

bool correct(const Launcher& l) {
    if (l.kind == 0) {
        const wire::NewsAnswer news = wire::decodeNewsAnswer(l.answer);
        return !l.answer.empty() && l.answer[0] == wire::kNewsAnswer && news.ok && news.items.size() == 2 &&
               news.items[1].title == "Hafta sonu";
    }
    if (l.kind >= 2)
        return wire::decodeLoginRefused(l.answer).reason == 1 && l.answer[0] == wire::kLoginRefused;
    const wire::LoginAccepted accepted = wire::decodeLoginAccepted(l.answer);
    if (l.answer.empty() || l.answer[0] != wire::kLoginAccepted || !accepted.ok ||
        accepted.ticket.size() != 32)
        return false;
    return gTickets.insert(accepted.ticket).second;
}

// Runs `count` launchers at once (a crowd) or one after another; answers per second, or -1
// when one was wrong or missing. `first` numbers the launchers (so names stay distinct).
// Launchers of unknown names wait for the server to end their connections, so that no
// disconnect still on its way reaches a later launcher that got the same local port.
double run(int count, bool together, bool unknownNames = false, int first = 0) {
    const double start = clockSeconds();
    std::vector<Launcher> all;
    int good = 0;
    auto finish = [&](std::vector<Launcher>& group) {
        while (clockSeconds() - start < kLimitSeconds) {
            bool left = false;
            for (Launcher& l : group) {
                service(l, unknownNames);
                left = left || !finished(l, unknownNames);
            }
            if (!left) break;
        }
        for (Launcher& l : group) {
            if (l.done && correct(l)) ++good;
            if (!l.closed) enet_peer_reset(l.peer);
            enet_host_destroy(l.host);
        }
    };
    if (together) {
        for (int i = 0; i < count; ++i)
            all.push_back(makeLauncher(first + i, unknownNames));
        finish(all);
    } else {
        for (int i = 0; i < count; ++i) {
            std::vector<Launcher> one{makeLauncher(first + i, unknownNames)};
            finish(one);
        }
    }
    const double seconds = clockSeconds() - start;
    if (good != count) {
        std::fprintf(stderr, "%d of %d answers correct\n", good, count);
        return -1;
    }
    return count / seconds;
}

int freePort() {
    ENetSocket socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    enet_socket_bind(socket, &address);
    enet_socket_get_address(socket, &address);
    enet_socket_destroy(socket);
    return address.port;
}

// Resident memory of a process in KiB (VmRSS of /proc/PID/status); -1 when unknown.
long residentKib(platform::ProcessId process) {
    std::string status;
    if (!platform::readWholeFile("/proc/" + std::to_string(process) + "/status", status)) return -1;
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

} // namespace

int main(int argc, char** argv) {
    int launchers = 300;
    std::string serverProgram;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--server" && i + 1 < argc)
            serverProgram = platform::fullPath(argv[++i]);
        else
            launchers = std::atoi(argv[i]);
    }
    if (launchers < 1 || launchers > 1000) return 2;
    if (!initializeEnet()) return 1;
    const std::string self = platform::fullPath(argv[0]);
    const std::string dir = self.substr(0, self.find_last_of('/'));
    const std::string scratch = dir + "/server_load_bench.tmp";
    platform::createFolders(scratch);
    std::ofstream(scratch + "/haberler.txt")
        << "Duyuru|Sunucu açık|Bakım bitti.\nEtkinlik|Hafta sonu|Çift tecrübe\n";
    std::ofstream(scratch + "/users.txt") << "oyuncu||" << devhost::hashPassword("gizli", 1000) << "||1|\n";
    if (serverProgram.empty()) serverProgram = dir + "/morlaken_server";
    auto startServer = [&] {
        gPort = freePort();
        platform::ProcessOptions options;
        int error = 0;
        return platform::startProcess(serverProgram,
                                      {"--port", std::to_string(gPort), "--news", scratch + "/haberler.txt",
                                       "--users", scratch + "/users.txt"},
                                      options, error);
    };
    platform::ProcessId server = startServer();
    if (!server) return 1;
    const double reference = run(20, false);
    const double crowd = reference > 0 ? run(launchers, true) : -1;
    platform::terminateProcess(server, 2.0);
    if (reference < 0 || crowd < 0) return 1;
    std::printf("server load: one after another %.0f answers/s, %d at once %.0f answers/s (ratio %.2f), "
                "every answer correct\n",
                reference, launchers, crowd, crowd / reference);

    server = startServer();
    if (!server) return 1;
    const bool started = run(1, false) > 0;
    const long before = residentKib(server);
    bool answered = started;
    for (int first = 0; answered && first < kFailedNames; first += kFailedNamesAtOnce)
        answered = run(kFailedNamesAtOnce, true, true, first) > 0;
    const long after = residentKib(server);
    platform::terminateProcess(server, 2.0);
    enet_deinitialize();
    if (!answered || before < 0 || after < 0) return 1;
    std::printf("server memory: %ld KiB after start, %ld KiB after %d failed logins with distinct names "
                "(%+ld KiB, at most %+ld)\n",
                before, after, kFailedNames, after - before, kMaxGrowthKib);
    return after - before <= kMaxGrowthKib ? 0 : 1;
}
