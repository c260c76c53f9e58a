// gameserver_test.cpp - the launcher's game-server link against morlaken_server started on
// 127.0.0.1, and against ENet peers that misbehave (never answer the connect, connect and
// stay silent, hang up).
#include "login/enet_setup.h"
#include "login/gameserver.h"
#include "login/login_support.h"
#include "platform/clock.h"
#include "support/devhost.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace logintest;

struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(initializeEnet()); }
};
const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);

// morlaken_server with a news file and one user "ayse" / "gizli".
class GameServer {
  public:
    explicit GameServer(std::vector<std::string> extra = {}) {
        writeFile(dir / "haberler.txt",
                  "Duyuru|Sunucu açık|Bakım bitti.\nEtkinlik|Hafta sonu|Çift tecrübe\n");
        writeFile(dir / "users.txt", userLine("ayse", "ayse@example.com", "gizli", "", true, ""));
        std::vector<std::string> args = {"--port",         "0", "--news", dir / "haberler.txt", "--users",
                                         dir / "users.txt"};
        args.insert(args.end(), extra.begin(), extra.end());
        started = host.start(args, "morlaken_server");
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(host.port()); }
    TempFolder dir;
    DevHost host;
    bool started = false;
};

// An ENet host on an ephemeral loopback port that accepts connections and never answers,
// or hangs up on every connect, or sends `reply` on every connect and nothing more.
class SilentPeer {
  public:
    explicit SilentPeer(bool hangUp, std::string reply = {}) {
        ENetAddress address{};
        enet_address_set_host(&address, "127.0.0.1");
        host_ = enet_host_create(&address, 8, 2, 0, 0);
        host_->mtu = kLinkMtu;
        host_->checksum = enet_crc32;
        port = host_->address.port;
        thread_ = std::thread([this, hangUp, reply] {
            ENetEvent event;
            while (!stop_)
                if (enet_host_service(host_, &event, 20) > 0) {
                    if (event.type == ENET_EVENT_TYPE_CONNECT) connects++;
                    if (event.type == ENET_EVENT_TYPE_CONNECT && !reply.empty())
                        enet_peer_send(
                            event.peer, 0,
                            enet_packet_create(reply.data(), reply.size(), ENET_PACKET_FLAG_RELIABLE));
                    if (event.type == ENET_EVENT_TYPE_CONNECT && hangUp) enet_peer_disconnect(event.peer, 0);
                    if (event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
                }
        });
    }
    ~SilentPeer() {
        stop_ = true;
        thread_.join();
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

// A loopback UDP port bound and never read: the connect is never answered.
class DeafPort {
  public:
    DeafPort() {
        socket_ = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
        ENetAddress address{};
        enet_address_set_host(&address, "127.0.0.1");
        enet_socket_bind(socket_, &address);
        enet_socket_get_address(socket_, &address);
        port = address.port;
    }
    ~DeafPort() { enet_socket_destroy(socket_); }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    int port = 0;

  private:
    ENetSocket socket_;
};

// One raw message to morlaken_server from an ENet client of our own; its answer.
std::string askRaw(int port, const std::string& message) {
    ENetHost* client = enet_host_create(nullptr, 1, 2, 0, 0);
    client->mtu = kLinkMtu;
    client->checksum = enet_crc32;
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    ENetPeer* peer = enet_host_connect(client, &address, 2, 0);
    std::string answer;
    ENetEvent event;
    waitUntil(
        [&] {
            while (enet_host_service(client, &event, 10) > 0) {
                if (event.type == ENET_EVENT_TYPE_CONNECT)
                    enet_peer_send(
                        peer, 0,
                        enet_packet_create(message.data(), message.size(), ENET_PACKET_FLAG_RELIABLE));
                if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                    answer.assign(reinterpret_cast<const char*>(event.packet->data),
                                  event.packet->dataLength);
                    enet_packet_destroy(event.packet);
                    return true;
                }
            }
            return false;
        },
        10);
    enet_host_destroy(client);
    return answer;
}

// What a connection left behind when it ended.
struct Ended {
    LoginOutcome login;
    bool newsArrived = false;
    std::vector<wire::NewsItem> news;
};

class GameServerLink : public ::testing::Test {
  protected:
    // Pumps until the connection is over; what it handed up.
    Ended pumpToEnd(double seconds = 20) {
        EXPECT_TRUE(waitUntil(
            [&] {
                pumpGameServer(link);
                return link.linkMode == LinkMode::Idle;
            },
            seconds));
        return taken();
    }
    Ended taken() {
        Ended out;
        out.login = takeLinkLogin(link);
        out.newsArrived = takeServerNews(link, out.news);
        return out;
    }
    void login(const std::string& address, const std::string& user, const std::string& password) {
        startGameServerLogin(link, address, user, password);
    }
    ServerLink link;
};

// A probe brings the server's news and marks it online; an accepted login its ticket.
TEST_F(GameServerLink, ProbeBringsTheNewsAndALoginTheTicket) {
    GameServer server;
    ASSERT_TRUE(server.started);
    connectToGameServer(link, LinkMode::Probe, server.address());
    Ended ended = pumpToEnd();
    EXPECT_EQ(link.serverStatus, ServerStatus::Online);
    EXPECT_EQ(ended.login.event, LoginEvent::None);
    ASSERT_TRUE(ended.newsArrived);
    ASSERT_EQ(ended.news.size(), 2u);
    EXPECT_EQ(ended.news[0].title, "Sunucu açık");
    EXPECT_EQ(ended.news[1].body, "Çift tecrübe");
    EXPECT_FALSE(taken().newsArrived) << "taken once";

    link.serverStatus = ServerStatus::Offline;
    login(server.address(), "ayse", "gizli");
    EXPECT_EQ(link.loginPassword, "gizli");
    ended = pumpToEnd();
    ASSERT_EQ(ended.login.event, LoginEvent::Ticket) << ended.login.text;
    EXPECT_TRUE(link.loginPassword.empty());
    EXPECT_EQ(link.serverStatus, ServerStatus::Online);
    EXPECT_EQ(ended.login.ticket.size(), 32u);
    EXPECT_NE(server.host.output().find("giriş ayse -> kabul, bilet " + ended.login.ticket),
              std::string::npos);
}

TEST_F(GameServerLink, TheServerRefusesByReason) {
    GameServer server({"--in-game", "ayse"});
    ASSERT_TRUE(server.started);
    login(server.address(), "kimse", "x");
    const Ended ended = pumpToEnd();
    EXPECT_EQ(ended.login.event, LoginEvent::Error);
    EXPECT_EQ(ended.login.text, kRefusedCredentialsText);
    EXPECT_EQ(link.serverStatus, ServerStatus::Online) << "a refusal is an answer";
    // Version and in-game refusals, and malformed requests, straight from the server. (Too
    // many failures: tools/server_test.cpp.)
    const auto refusal = [&](const std::string& request) {
        const std::string answer = askRaw(server.host.port(), request);
        return answer.size() >= 2 && answer[0] == wire::kLoginRefused ? static_cast<uint8_t>(answer[1]) : 0;
    };
    EXPECT_EQ(refusal(wire::encodeLoginRequest("ayse", "gizli", 4)), wire::kRefusedOldLauncher);
    EXPECT_EQ(refusal(wire::encodeLoginRequest("ayse", "gizli")), wire::kRefusedInGame);
    for (const std::string& bad :
         {std::string("\x0A\x05", 2), std::string("\x0D\x00", 2), std::string("\x42")}) {
        const wire::Rejected rejected = wire::decodeRejected(askRaw(server.host.port(), bad));
        EXPECT_TRUE(rejected.ok && !rejected.reason.empty()) << bad.size();
    }
}

// Started as the launcher starts its local server, with no file options: the users and
// news files come from the working folder, and without a users file every login is refused.
TEST(GameServerDefaults, FilesComeFromTheWorkingFolder) {
    TempFolder withFiles, empty;
    writeFile(withFiles / "sunucu_kullanicilari.txt", userLine("ayse", "", "gizli", "", true, ""));
    writeFile(withFiles / "sunucu_haberleri.txt", "# yorum\nDuyuru|Yerel sunucu|Dosyadan okundu.\n");
    struct Case {
        const TempFolder& folder;
        size_t newsItems;
        uint8_t loginAnswer;
        std::string said;
    } cases[] = {
        {withFiles, 1, wire::kLoginAccepted, "kullanıcılar: sunucu_kullanicilari.txt (1 hesap)"},
        {empty, 0, wire::kLoginRefused, "kullanıcı dosyası yok (sunucu_kullanicilari.txt)"},
    };
    for (const Case& c : cases) {
        DevHost server;
        ASSERT_TRUE(server.start({"--port", "0"}, "morlaken_server", c.folder.path())) << server.log();
        const wire::NewsAnswer news =
            wire::decodeNewsAnswer(askRaw(server.port(), wire::encodeProbeRequest()));
        EXPECT_TRUE(news.ok);
        EXPECT_EQ(news.items.size(), c.newsItems);
        const std::string login = askRaw(server.port(), wire::encodeLoginRequest("ayse", "gizli"));
        ASSERT_GE(login.size(), 2u);
        EXPECT_EQ(static_cast<uint8_t>(login[0]), c.loginAnswer);
        if (c.loginAnswer == wire::kLoginRefused) {
            EXPECT_EQ(wire::decodeLoginRefused(login).reason, 1);
        }
        EXPECT_NE(server.output().find(c.said), std::string::npos) << server.output();
    }
}

// Each answer handed to the link: what it shows, the server's state, whether news arrived.
TEST_F(GameServerLink, AnswersEndTheConnectionWithTheirTexts) {
    using wire::encodeLoginRefused;
    const ServerStatus online = ServerStatus::Online;
    struct Case {
        LinkMode mode;
        std::string message;
        ServerStatus status;
        std::vector<std::string> errors;
        bool newsArrived = false;
    } cases[] = {
        {LinkMode::Probe, wire::encodeRejected("yasak"), ServerStatus::Offline, {}},
        {LinkMode::Login, wire::encodeRejected("yasak"), ServerStatus::Offline, {"Sunucu reddetti: yasak"}},
        {LinkMode::Probe, std::string("\x0E\x01\x01t\x01T\xD1\x07", 8) + std::string(2001, 'g'), online, {}},
        {LinkMode::Probe, std::string("\x0E", 1), online, {}},
        {LinkMode::Probe, std::string("\x0E\x00", 2), online, {}, true},
        // Refusals by reason, including the server's own text.
        {LinkMode::Login,
         encodeLoginRefused(wire::kRefusedCredentials, "x"),
         online,
         {kRefusedCredentialsText}},
        {LinkMode::Login,
         encodeLoginRefused(wire::kRefusedOldLauncher, "x"),
         online,
         {kRefusedOldLauncherText}},
        {LinkMode::Login,
         encodeLoginRefused(wire::kRefusedTooManyTries, ""),
         online,
         {kRefusedTooManyTriesText}},
        {LinkMode::Login, encodeLoginRefused(wire::kRefusedInGame, ""), online, {kRefusedInGameText}},
        {LinkMode::Login, encodeLoginRefused(0, ""), online, {kRefusedOther}},
        {LinkMode::Login, encodeLoginRefused(9, ""), online, {kRefusedOther}},
        {LinkMode::Login, encodeLoginRefused(9, "Bakımdayız"), online, {"Bakımdayız"}},
        {LinkMode::Login, std::string(1, wire::kLoginRefused), online, {kRefusedOther}},
        {LinkMode::Login, wire::encodeLoginAccepted("a", ""), online, {kLinkBrokenAnswer}},
    };
    for (const Case& c : cases) {
        link.serverStatus = ServerStatus::Connecting;
        link.linkMode = c.mode;
        handleServerMessage(link, c.message);
        const Ended ended = taken();
        EXPECT_EQ(link.serverStatus, c.status);
        EXPECT_EQ(ended.login.event == LoginEvent::None ? std::vector<std::string>{}
                                                        : std::vector<std::string>{ended.login.text},
                  c.errors);
        EXPECT_EQ(ended.newsArrived, c.newsArrived);
        EXPECT_TRUE(ended.news.empty());
        EXPECT_EQ(link.linkMode, LinkMode::Idle);
    }
    // A login answer during a probe is ignored: the connection waits on.
    link.linkMode = LinkMode::Probe;
    handleServerMessage(link, wire::encodeLoginAccepted("a", "T"));
    EXPECT_EQ(link.linkMode, LinkMode::Probe);
    EXPECT_EQ(takeLinkLogin(link).event, LoginEvent::None);
}

TEST_F(GameServerLink, FailuresEndTheConnectionWithTheirTextsOnlyForALogin) {
    DeafPort deaf;
    SilentPeer silent(false), hangUp(true);
    link.connectLimitSeconds = 0.5;
    link.answerLimitSeconds = 0.8;
    struct Case {
        std::string address;
        std::string error;
    } cases[] = {
        {deaf.address(), kLinkUnreachable},
        {silent.address(), kLinkNoAnswer},
        {hangUp.address(), kLinkUnreachable},
        {"a:b:c", std::string(kLinkBadAddress) + "a:b:c"},
        // An empty label: the local resolver refuses the name without asking any server.
        {"a..invalid", std::string(kLinkUnresolved) + "a..invalid"},
    };
    for (const Case& c : cases) {
        for (LinkMode mode : {LinkMode::Probe, LinkMode::Login}) {
            link.serverStatus = ServerStatus::Online;
            const double start = platform::now();
            if (mode == LinkMode::Login)
                login(c.address, "ayse", "gizli");
            else
                connectToGameServer(link, mode, c.address);
            const Ended ended = pumpToEnd(5);
            EXPECT_EQ(link.serverStatus, ServerStatus::Offline) << c.address;
            EXPECT_LT(platform::now() - start, 3.0) << c.address;
            // Sent or not, the password does not outlive its connection.
            EXPECT_TRUE(link.loginPassword.empty()) << c.address;
            // A probe's failure is silent; a login's is shown.
            EXPECT_EQ(ended.login.event, mode == LinkMode::Login ? LoginEvent::Error : LoginEvent::None);
            EXPECT_EQ(ended.login.text, mode == LinkMode::Login ? c.error : "") << c.address;
        }
    }
    EXPECT_GE(silent.connects.load(), 2);
}

// A name is looked up off the frame loop: the connect request returns before the answer,
// with the server still "connecting" and no peer, and the pumps carry the link on once the
// lookup is back. A lookup overtaken by a new connection is never used. "localhost" comes
// from /etc/hosts; "a..invalid" (an empty label) is refused by the local resolver.
TEST_F(GameServerLink, NamesAreLookedUpOffTheFrameLoop) {
    GameServer server;
    SilentPeer silent(false);
    ASSERT_TRUE(server.started);
    const std::string port = std::to_string(server.host.port());
    struct Case {
        std::string address;
        LinkMode mode;
        ServerStatus status;
        std::vector<std::string> errors;
    } cases[] = {
        {"localhost:" + port, LinkMode::Probe, ServerStatus::Online, {}},
        {"a..invalid:" + port,
         LinkMode::Login,
         ServerStatus::Offline,
         {std::string(kLinkUnresolved) + "a..invalid"}},
    };
    for (const Case& c : cases) {
        link.serverStatus = ServerStatus::Connecting;
        connectToGameServer(link, c.mode, "localhost:" + std::to_string(silent.port));
        connectToGameServer(link, c.mode, c.address);
        EXPECT_EQ(link.linkMode, c.mode) << c.address;
        EXPECT_EQ(link.serverPeer, nullptr) << c.address;
        EXPECT_EQ(link.serverStatus, ServerStatus::Connecting) << c.address;
        const Ended ended = pumpToEnd();
        EXPECT_EQ(link.serverStatus, c.status) << c.address;
        EXPECT_EQ(ended.login.event == LoginEvent::None ? std::vector<std::string>{}
                                                        : std::vector<std::string>{ended.login.text},
                  c.errors);
    }
    EXPECT_EQ(silent.connects.load(), 0);
}

// The launcher's host takes a news answer of the longest kind, and no packet beyond it: a
// longer one is never assembled, so the probe ends as unanswered.
TEST_F(GameServerLink, PacketsLongerThanTheLongestAnswerAreNotTaken) {
    const std::vector<wire::NewsItem> longest(
        wire::kMaxNewsItems, {std::string(64, 't'), std::string(64, 'T'), std::string(2000, 'g')});
    ASSERT_EQ(wire::encodeNewsAnswer(longest).size(), wire::kMaxNewsAnswerBytes);
    SilentPeer fits(false, wire::encodeNewsAnswer(longest));
    SilentPeer tooLong(false, wire::encodeNewsAnswer({}) + std::string(wire::kMaxNewsAnswerBytes, 'x'));
    // The longest answer is half a megabyte in fragments: a slow machine may take a while.
    link.answerLimitSeconds = 60;
    connectToGameServer(link, LinkMode::Probe, fits.address());
    Ended ended = pumpToEnd(60);
    EXPECT_EQ(link.serverStatus, ServerStatus::Online);
    EXPECT_EQ(ended.news.size(), wire::kMaxNewsItems);
    link.answerLimitSeconds = 2; // what is not taken never ends the wait
    connectToGameServer(link, LinkMode::Probe, tooLong.address());
    ended = pumpToEnd();
    EXPECT_EQ(link.serverStatus, ServerStatus::Offline);
    EXPECT_FALSE(ended.newsArrived);
}

} // namespace
