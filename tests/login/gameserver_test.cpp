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
    ServerLink link;
};

// A probe brings the server's news and marks it online; a login hands up its ticket and the
// password is gone. (A refusal: the answers below.)
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

    startGameServerLogin(link, address, "ayse", "gizli");
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

// Every way a connection ends short of an answer, for a probe (silent) and a login (shown):
// within its limits, offline, the password gone. A name is looked up off the frame loop:
// the request returns before the answer, and a lookup overtaken by a new connection is
// never used. "localhost" comes from /etc/hosts; "a..invalid" (an empty label) is refused
// by the local resolver without asking any server.
TEST_F(GameServerLink, FailuresEndTheConnectionWithTheirTextsOnlyForALogin) {
    EnetStandIn deaf(Mode::Deaf), silent(Mode::Silent), hangUp(Mode::HangUp), overtaken(Mode::Silent),
        newsOnly(Mode::Reply, wire::encodeNewsAnswer({})),
        // The launcher's host assembles no packet longer than the longest answer.
        tooLong(Mode::Reply, wire::encodeNewsAnswer({}) + std::string(wire::kMaxNewsAnswerBytes, 'x'));
    link.connectLimitSeconds = 0.5;
    link.answerLimitSeconds = 0.8;
    struct Case {
        std::string address;
        std::string error;
        bool probeOnline = false;
    } cases[] = {
        {deaf.address(), kLinkUnreachable},
        {silent.address(), kLinkNoAnswer},
        {hangUp.address(), kLinkUnreachable},
        {tooLong.address(), kLinkNoAnswer},
        {"a:b:c", std::string(kLinkBadAddress) + "a:b:c"},
        {"a..invalid:" + std::to_string(newsOnly.port), std::string(kLinkUnresolved) + "a..invalid"},
        {"localhost:" + std::to_string(newsOnly.port), kLinkNoAnswer, true}, // a login gets news only
    };
    for (const Case& c : cases) {
        for (LinkMode mode : {LinkMode::Probe, LinkMode::Login}) {
            SCOPED_TRACE(c.address + (mode == LinkMode::Login ? " login" : " probe"));
            link.serverStatus = ServerStatus::Online;
            const double start = platform::now();
            connectToGameServer(link, mode, "localhost:" + std::to_string(overtaken.port));
            if (mode == LinkMode::Login)
                startGameServerLogin(link, c.address, "ayse", "gizli");
            else
                connectToGameServer(link, mode, c.address);
            if (c.address.starts_with("localhost") || c.address.starts_with("a..")) { // looked up
                EXPECT_EQ(link.linkMode, mode);
                EXPECT_EQ(link.serverPeer, nullptr);
            }
            const Ended ended = pumpToEnd(5);
            const bool online = mode == LinkMode::Probe && c.probeOnline;
            EXPECT_EQ(link.serverStatus, online ? ServerStatus::Online : ServerStatus::Offline);
            EXPECT_LT(platform::now() - start, 3.0);
            // Sent or not, the password does not outlive its connection.
            EXPECT_TRUE(link.loginPassword.empty());
            EXPECT_EQ(ended.login.event, mode == LinkMode::Login ? LoginEvent::Error : LoginEvent::None);
            EXPECT_EQ(ended.login.text, mode == LinkMode::Login ? c.error : "");
        }
    }
    EXPECT_GE(silent.connects.load(), 2);
    EXPECT_EQ(overtaken.connects.load(), 0);
}

// The launcher's host takes a news answer of the longest kind (a longer one: the failures
// above).
TEST_F(GameServerLink, TheLongestAnswerIsTaken) {
    const std::vector<wire::NewsItem> longest(
        wire::kMaxNewsItems, {std::string(64, 't'), std::string(64, 'T'), std::string(2000, 'g')});
    ASSERT_EQ(wire::encodeNewsAnswer(longest).size(), wire::kMaxNewsAnswerBytes);
    EnetStandIn fits(Mode::Reply, wire::encodeNewsAnswer(longest));
    // The longest answer is half a megabyte in fragments: a slow machine may take a while.
    link.answerLimitSeconds = 60;
    connectToGameServer(link, LinkMode::Probe, fits.address());
    EXPECT_EQ(pumpToEnd(60).news.size(), wire::kMaxNewsItems);
    EXPECT_EQ(link.serverStatus, ServerStatus::Online);
}

} // namespace
