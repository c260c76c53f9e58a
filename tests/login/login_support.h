// login_support.h - what the login and game tests share: a player folder holding a copy of
// morlaken-game with its own configuration, users-file lines for morlaken-devhost and
// morlaken_server, an ENet host standing in for the game server, and a look at secret
// buffers.
#pragma once

#include "config/config.h"
#include "login/session.h"
#include "login/wipe.h"
#include "platform/clock.h"
#include "support/child_process.h"
#include "support/devhost.h"
#include "support/temp_folder.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace logintest {

using namespace testsupport;

// A copy of morlaken-game (under the file name `name`) in a folder of its own (so parallel
// tests never share its configuration or record), run `seconds` long, ending with `exitCode`.
class GameFolder {
  public:
    explicit GameFolder(int exitCode = 0, double seconds = 0.1, std::string programName = "morlaken-game")
        : name(std::move(programName)) {
        std::filesystem::copy_file(builtProgram("morlaken-game"), dir / name);
        writeFile(dir / "morlaken-game.ini", "cikis_kodu=" + std::to_string(exitCode) + "\nsure=" +
                                                 std::to_string(seconds) + "\npencere=0\nkayit=kayit.txt\n");
    }
    GameSettings settings() const {
        GameSettings s;
        s.oyun = name;
        s.launcherFolder = dir.path();
        s.sunucu = "127.0.0.1:27016";
        return s;
    }
    // The record morlaken-game wrote, as key -> value; empty until it ran.
    std::map<std::string, std::string> record() const {
        std::map<std::string, std::string> out;
        std::istringstream in(readFile(dir / "kayit.txt"));
        for (std::string line; std::getline(in, line);)
            if (const size_t eq = line.find('='); eq != std::string::npos)
                out[line.substr(0, eq)] = line.substr(eq + 1);
        return out;
    }
    std::string name;
    TempFolder dir;
};

// Polls the game until it is seen to end; the watch's result.
inline GameWatchResult waitForGameEnd(GameWatch& watch, double nowOffset = 0) {
    GameWatchResult result;
    EXPECT_TRUE(waitUntil(
        [&] {
            result = watchGameProcess(watch, platform::now() + nowOffset);
            return result.event != GameWatchEvent::StillRunning;
        },
        30));
    return result;
}

// Every byte a string owns, past its size too: what a wipe must have zeroed.
inline bool allZero(const std::string& s) {
    for (size_t i = 0; i < s.capacity(); ++i)
        if (s.data()[i] != '\0') return false;
    return true;
}

// The users file line for one account ("" email allowed); the hash comes from the program.
inline std::string userLine(const std::string& name, const std::string& email, const std::string& password,
                            const std::string& totpBase32, bool verified, const std::string& masked) {
    ProgramRun run =
        runCaptured(builtProgram("morlaken-devhost"), {"--hash-password", password, "--iterations", "1000"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::string hash = run.out.substr(0, run.out.find('\n'));
    return name + "|" + email + "|" + hash + "|" + totpBase32 + "|" + (verified ? "1" : "0") + "|" + masked +
           "\n";
}

// An ENet host on an ephemeral loopback port in place of the game server. Deaf: never
// serviced, so a connect is never answered. Otherwise it accepts connections (counted), hangs
// up on each at once (HangUp), or sends `reply` for every message it receives (Reply; Silent
// sends nothing). Runs its own thread until destroyed.
class EnetStandIn {
  public:
    enum class Mode { Deaf, Silent, HangUp, Reply };
    explicit EnetStandIn(Mode mode, std::string reply = {}) {
        ENetAddress address{};
        enet_address_set_host(&address, "127.0.0.1");
        host_ = enet_host_create(&address, 8, 2, 0, 0);
        host_->mtu = kLinkMtu;
        host_->checksum = enet_crc32;
        port = host_->address.port;
        if (mode == Mode::Deaf) return;
        thread_ = std::thread([this, mode, reply] {
            ENetEvent event;
            while (!stop_)
                if (enet_host_service(host_, &event, 20) > 0) {
                    if (event.type == ENET_EVENT_TYPE_CONNECT) connects++;
                    if (event.type == ENET_EVENT_TYPE_CONNECT && mode == Mode::HangUp)
                        enet_peer_disconnect(event.peer, 0);
                    if (event.type != ENET_EVENT_TYPE_RECEIVE) continue;
                    enet_packet_destroy(event.packet);
                    if (mode == Mode::Reply)
                        enet_peer_send(
                            event.peer, 0,
                            enet_packet_create(reply.data(), reply.size(), ENET_PACKET_FLAG_RELIABLE));
                }
        });
    }
    ~EnetStandIn() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        enet_host_destroy(host_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    int port = 0;
    std::atomic<int> connects{0};

  private:
    ENetHost* host_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace logintest
