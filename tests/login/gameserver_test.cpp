// gameserver_test.cpp - the launcher's game-server link: one probe and login against
// morlaken_server started on 127.0.0.1 (the server's own rules: tests/tools/server_test.cpp),
// every answer handed to it in memory, and ENet stand-ins that never answer the connect,
// connect and stay silent, hang up or send an answer too long to take.
#include "login/enet_setup.h"
#include "login/gameserver.h"
#include "login/login_support.h"
#include "platform/clock.h"
#include "support/devhost.h"

#include <gtest/gtest.h>

namespace {

using namespace logintest;
using Mode = EnetStandIn::Mode;

struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(initializeEnet()); }
};
const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);

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

// A probe brings the server's news and marks it online; a refused login shows the refusal
// (an answer: still online), an accepted one hands up its ticket and the password is gone.
TEST_F(GameServerLink, ProbeBringsTheNewsAndALoginTheTicket) {
    TempFolder dir;
    writeFile(dir / "haberler.txt", "Duyuru|Sunucu açık|Bakım bitti.\nEtkinlik|Hafta sonu|Çift tecrübe\n");
    writeFile(dir / "users.txt", userLine("ayse", "ayse@example.com", "gizli", "", true, ""));
    DevHost server;
    ASSERT_TRUE(server.start({"--port", "0", "--news", dir / "haberler.txt", "--users", dir / "users.txt"},
                             "morlaken_server"));
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    connectToGameServer(link, LinkMode::Probe, address);
    Ended ended = pumpToEnd();
    EXPECT_EQ(link.serverStatus, ServerStatus::Online);
    EXPECT_EQ(ended.login.event, LoginEvent::None);
    ASSERT_TRUE(ended.newsArrived);
    ASSERT_EQ(ended.news.size(), 2u);
    EXPECT_EQ(ended.news[0].title, "Sunucu açık");
    EXPECT_EQ(ended.news[1].body, "Çift tecrübe");
    EXPECT_FALSE(taken().newsArrived) << "taken once";

    link.serverStatus = ServerStatus::Offline;
    login(address, "kimse", "x");
    ended = pumpToEnd();
    EXPECT_EQ(ended.login.event, LoginEvent::Error);
    EXPECT_EQ(ended.login.text, kRefusedCredentialsText);
    EXPECT_EQ(link.serverStatus, ServerStatus::Online) << "a refusal is an answer";

    login(address, "ayse", "gizli");
    EXPECT_EQ(link.loginPassword, "gizli");
    ended = pumpToEnd();
    ASSERT_EQ(ended.login.event, LoginEvent::Ticket) << ended.login.text;
    EXPECT_TRUE(link.loginPassword.empty());
    EXPECT_EQ(ended.login.ticket.size(), 32u);
    EXPECT_NE(server.output().find("giriş ayse -> kabul, bilet " + ended.login.ticket), std::string::npos);
}

// Each answer handed to the link: what it shows, the server's state, whether news arrived.
TEST_F(GameServerLink, AnswersEndTheConnectionWithTheirTexts) {
    using wire::encodeLoginRefused;
    const LinkMode probe = LinkMode::Probe, logIn = LinkMode::Login;
    const ServerStatus on = ServerStatus::Online, off = ServerStatus::Offline;
    struct Case {
        LinkMode mode;
        std::string message;
        ServerStatus status;
        std::string error; // "" when nothing is shown
        bool newsArrived = false;
    } cases[] = {
        {probe, wire::encodeRejected("yasak"), off, ""},
        {logIn, wire::encodeRejected("yasak"), off, "Sunucu reddetti: yasak"},
        {probe, std::string("\x0E\x01\x01t\x01T\xD1\x07", 8) + std::string(2001, 'g'), on, ""},
        {probe, std::string("\x0E", 1), on, ""},
        {probe, std::string("\x0E\x00", 2), on, "", true},
        // Refusals by reason, including the server's own text.
        {logIn, encodeLoginRefused(wire::kRefusedCredentials, "x"), on, kRefusedCredentialsText},
        {logIn, encodeLoginRefused(wire::kRefusedOldLauncher, "x"), on, kRefusedOldLauncherText},
        {logIn, encodeLoginRefused(wire::kRefusedTooManyTries, ""), on, kRefusedTooManyTriesText},
        {logIn, encodeLoginRefused(wire::kRefusedInGame, ""), on, kRefusedInGameText},
        {logIn, encodeLoginRefused(0, ""), on, kRefusedOther},
        {logIn, encodeLoginRefused(9, ""), on, kRefusedOther},
        {logIn, encodeLoginRefused(9, "Bakımdayız"), on, "Bakımdayız"},
        {logIn, std::string(1, wire::kLoginRefused), on, kRefusedOther},
        {logIn, wire::encodeLoginAccepted("a", ""), on, kLinkBrokenAnswer},
    };
    for (const Case& c : cases) {
        link.serverStatus = ServerStatus::Connecting;
        link.linkMode = c.mode;
        handleServerMessage(link, c.message);
        const Ended ended = taken();
        EXPECT_EQ(link.serverStatus, c.status);
        EXPECT_EQ(ended.login.event, c.error.empty() ? LoginEvent::None : LoginEvent::Error) << c.error;
        EXPECT_EQ(ended.login.text, c.error);
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
    EnetStandIn deaf(Mode::Deaf), silent(Mode::Silent), hangUp(Mode::HangUp);
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
    EnetStandIn server(Mode::Reply, wire::encodeNewsAnswer({})), silent(Mode::Silent);
    const std::string port = std::to_string(server.port);
    const struct {
        std::string address;
        LinkMode mode;
        ServerStatus status;
        std::string error; // "" when nothing is shown
    } cases[] = {
        {"localhost:" + port, LinkMode::Probe, ServerStatus::Online, ""},
        {"a..invalid:" + port, LinkMode::Login, ServerStatus::Offline,
         std::string(kLinkUnresolved) + "a..invalid"},
    };
    for (const auto& c : cases) {
        link.serverStatus = ServerStatus::Connecting;
        connectToGameServer(link, c.mode, "localhost:" + std::to_string(silent.port));
        connectToGameServer(link, c.mode, c.address);
        EXPECT_EQ(link.linkMode, c.mode) << c.address;
        EXPECT_EQ(link.serverPeer, nullptr) << c.address;
        EXPECT_EQ(link.serverStatus, ServerStatus::Connecting) << c.address;
        const Ended ended = pumpToEnd();
        EXPECT_EQ(link.serverStatus, c.status) << c.address;
        EXPECT_EQ(ended.login.event, c.error.empty() ? LoginEvent::None : LoginEvent::Error) << c.address;
        EXPECT_EQ(ended.login.text, c.error);
    }
    EXPECT_EQ(silent.connects.load(), 0);
}

// The launcher's host takes a news answer of the longest kind, and no packet beyond it: a
// longer one is never assembled, so the probe ends as unanswered.
TEST_F(GameServerLink, PacketsLongerThanTheLongestAnswerAreNotTaken) {
    const std::vector<wire::NewsItem> longest(
        wire::kMaxNewsItems, {std::string(64, 't'), std::string(64, 'T'), std::string(2000, 'g')});
    ASSERT_EQ(wire::encodeNewsAnswer(longest).size(), wire::kMaxNewsAnswerBytes);
    EnetStandIn fits(Mode::Reply, wire::encodeNewsAnswer(longest));
    EnetStandIn tooLong(Mode::Reply,
                        wire::encodeNewsAnswer({}) + std::string(wire::kMaxNewsAnswerBytes, 'x'));
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
