// session_test.cpp - the login session's rules on in-memory state: which way a login goes,
// what closing the dialog cancels (the dialog itself: tests in tests/screens), and the one
// place a ticket (from either way) starts the game with the settings the configuration
// has at that moment.
#include "login_support.h"
#include "platform/clock.h"

using namespace logintest;

namespace {

// A login connection is dropped with its password; a probe of the server's state is not a
// login and goes on.
TEST(Session, CancellingDropsALinkLoginOnlyAndWipesTheCode) {
    for (LinkMode mode : {LinkMode::Login, LinkMode::Probe}) {
        Session session;
        session.link.linkMode = mode;
        session.link.loginPassword = "gizli";
        std::string code = "123456";
        session.account.totpStep = true;
        cancelLogin(session, code);
        EXPECT_EQ(session.link.linkMode, mode == LinkMode::Login ? LinkMode::Idle : LinkMode::Probe);
        EXPECT_EQ(session.link.loginPassword.empty(), mode == LinkMode::Login);
        EXPECT_TRUE(code.empty() && allZero(code));
        EXPECT_FALSE(session.account.totpStep);
    }
}

TEST(Session, TheAccountServiceDecidesTheWayAndTheTypedPasswordIsWipedEitherWay) {
    Session session;
    Config cfg;
    configSet(cfg, keys::kServer, "a:b:c"); // a Login connection that ends at once, contacting nothing
    std::string password = "gizli";
    EXPECT_FALSE(accountServiceConfigured(cfg));
    startLogin(session, cfg, "ayse", password);
    EXPECT_TRUE(password.empty() && allZero(password));
    EXPECT_FALSE(session.account.loginInFlight.load());
    std::string code;
    LoginOutcome outcome = takeLoginOutcome(session, cfg, code, platform::now());
    EXPECT_EQ(outcome.event, LoginEvent::Error);
    EXPECT_EQ(outcome.text, std::string(kLinkBadAddress) + "a:b:c");

    // With a service the password moves into the account login, which asks it.
    configSet(cfg, keys::kAccountApi, "http://127.0.0.1:" + std::to_string(pickFreePort()) + "/hesap/");
    EXPECT_TRUE(accountServiceConfigured(cfg));
    password = "gizli";
    startLogin(session, cfg, "ayse", password);
    EXPECT_TRUE(password.empty() && allZero(password));
    EXPECT_TRUE(loginBusy(session));
    EXPECT_EQ(session.account.accountPassword, "gizli");
    ASSERT_TRUE(waitUntil([&] { return accountLoginAnswered(session.account); }, 20));
    outcome = takeLoginOutcome(session, cfg, code, platform::now());
    EXPECT_EQ(outcome.event, LoginEvent::Error);
    EXPECT_FALSE(loginBusy(session));
}

TEST(Session, ATicketStartsTheGameWithTheSettingsOfThatMomentAndIsWiped) {
    GameFolder game;
    Session session;
    Config cfg;
    configSet(cfg, keys::kGame, game.dir / game.name);
    std::string code;
    EXPECT_EQ(takeLoginOutcome(session, cfg, code, platform::now()).event, LoginEvent::None);

    session.link.login = {LoginEvent::Ticket, {}, "bilet-çok-gizli-ve-uzun"};
    configSet(cfg, keys::kServer, "oyun.example:7000"); // changed after the login started
    LoginOutcome outcome = takeLoginOutcome(session, cfg, code, platform::now());
    EXPECT_EQ(outcome.event, LoginEvent::GameStarted) << outcome.text;
    EXPECT_TRUE(outcome.ticket.empty()) << "wiped and given back (the freed-memory scan looks at it)";
    EXPECT_EQ(session.link.login.event, LoginEvent::None);
    ASSERT_NE(session.game.gameProcess, 0);
    EXPECT_EQ(waitForGameEnd(session.game).event, GameWatchEvent::Ended);
    EXPECT_EQ(game.record()["bilet"], "bilet-çok-gizli-ve-uzun");
    EXPECT_EQ(game.record()["sunucu"], "oyun.example:7000");

    // A ticket whose game cannot start: the launch's own message.
    std::filesystem::remove(game.dir / "morlaken-game");
    session.link.login = {LoginEvent::Ticket, {}, "bilet"};
    outcome = takeLoginOutcome(session, cfg, code, platform::now());
    EXPECT_EQ(outcome.event, LoginEvent::Error);
    EXPECT_EQ(outcome.text, kGameMissingFiles);
}

} // namespace
