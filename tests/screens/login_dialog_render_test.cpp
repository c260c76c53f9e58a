// login_dialog_render_test.cpp - the login dialog drawn for real over the main screen in
// each of its states (empty, filled, busy, two-step code, every message over it); the
// screenshots go to <build>/screenshots/login_*.png. Pixels are checked where the layout
// fixes them, and the dialog's own rules run through its real path: the remember choice
// saved before any request, the field checks, the busy button and cancelling.
#include "screens/screen_test_support.h"

#include "config/config.h"
#include "gfx/frame.h"
#include "gfx/widgets.h"
#include "login/account.h"
#include "login/gameserver.h"
#include "net/http.h"
#include "news/news.h"
#include "screens/dialogs.h"
#include "screens/login_dialog.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"
#include "support/test_server.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdlib>

using screentest::ScreenHarness;
using screentest::waitFor;

namespace {

class LoginDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        resetNewsForTests();
        hideMessage();
        screentest::resetUpdateStatus(UpdateState::UpToDate);
        config() = Config{};
        h_ = std::make_unique<ScreenHarness>();
        ASSERT_TRUE(h_->ok()) << h_->error();
        installLoginDialog();
        h_->moveMouse(10, 10);
    }
    void TearDown() override {
        shutdownAccountLogin();
        keyHooks() = KeyRoutingHooks{};
        h_.reset();
        hideMessage();
        ui() = UiState{};
        config() = Config{};
        serverStatus() = ServerStatus::Connecting;
        bindCodeText(nullptr);
    }
    // Mean brightness of a rectangle of the last frame.
    double brightness(int x, int y, int w, int hgt) const {
        long sum = 0;
        for (int yy = y; yy < y + hgt; ++yy)
            for (int xx = x; xx < x + w; ++xx) {
                const auto p = h_->pixel(xx, yy);
                sum += p.r + p.g + p.b;
            }
        return static_cast<double>(sum) / (3.0 * w * hgt);
    }
    void fill(const std::string& user, const std::string& password) {
        usernameField().text = user;
        passwordField().text = password;
    }
    std::unique_ptr<ScreenHarness> h_;
};

TEST_F(LoginDialog, EachStateDrawsOverTheDimmedMainScreen) {
    h_->frame();
    const double mainScreen = brightness(20, 20, 120, 120);
    openLoginDialog();
    h_->frame();
    h_->save("login_1_bos");
    // Dimmed to 40 % outside the panel; the focused empty user name shows the caret's
    // field, not its placeholder.
    EXPECT_NEAR(brightness(20, 20, 120, 120), mainScreen * 0.4 + 0.6 * (5 + 6 + 9) / 3.0, 1.0);
    EXPECT_EQ(focusedField(), &usernameField());

    // The remember box: a click on its label flips it and the box changes its image.
    const double checked = brightness(329, 331, 14, 14);
    h_->click(400, 338);
    EXPECT_FALSE(ui().rememberMe);
    EXPECT_LT(brightness(329, 331, 14, 14), checked - 10);
    h_->click(335, 338);
    EXPECT_TRUE(ui().rememberMe);

    fill("ayse", "gizli-şifre");
    h_->frame();
    h_->save("login_2_dolu");

    accountLogin().totpStep = true;
    codeField().text = "1234";
    focusedField() = &codeField();
    h_->frame();
    h_->save("login_4_kod");
    accountLogin().totpStep = false;

    const struct {
        const char* name;
        bool error;
        std::string text;
    } messages[] = {
        {"alanlar", true, "Kullanıcı adını ve şifreni gir."},
        {"kod_eksik", true, "Doğrulama uygulamandaki 6 haneli kodu gir."},
        {"iki_adim", false, kLoginTotpRequired},
        {"kod_yanlis", true, kLoginTotpInvalid},
        {"sifre_yanlis", true, kLoginBadCredentials},
        {"ulasilamadi", true, "Giriş sunucusuna ulaşılamadı (giris sunucusuna ulasilamadi)."},
        {"eposta", true,
         "E-posta adresin henüz doğrulanmadı (a***@o***.com). Gelen kutundaki bağlantıya tıkla, sonra "
         "tekrar dene."},
        {"oyun_sunucusu", true, "Sunucuya bağlanılamadı. Sunucu kapalı olabilir."},
        {"oyun_kapandi", true, "Oyun açılırken kapandı (çıkış kodu 0x00000001). Bu kodu Velmor'a gönder."},
    };
    for (const auto& m : messages) {
        m.error ? showError(m.text) : showInfo(m.text);
        h_->frame();
        h_->save(std::string("login_5_") + m.name);
    }
}

TEST_F(LoginDialog, SubmitChecksTheFieldsAndSavesTheRememberChoiceFirst) {
    const std::string ini = (h_->gameFolder() / "launcher.ini").string();
    openLoginDialog();
    struct Case {
        std::string user, password;
    } tooShort[] = {{"ab", "gizli"}, {"ayse", ""}, {"", ""}};
    for (const auto& c : tooShort) {
        fill(c.user, c.password);
        submitLogin();
        EXPECT_EQ(messageDialog().messageText, "Kullanıcı adını ve şifreni gir.") << c.user;
        EXPECT_FALSE(testsupport::fileExists(ini)) << c.user;
        hideMessage();
    }

    // Without an account service the game-server login takes over: the choice is saved
    // first, the password leaves the field for the link, and the dialog waits. Closing it
    // drops the connection and wipes the password the link held.
    ui().rememberMe = false;
    configSet("sunucu", "127.0.0.1:1");
    fill("ayse", "gizli");
    submitLogin();
    EXPECT_EQ(testsupport::readFile(ini), "sunucu=127.0.0.1:1\r\nhatirla=0\r\nkullanici=\r\n");
    EXPECT_EQ(passwordField().text, "");
    EXPECT_TRUE(loginBusy() || messageDialog().visible) << "neither connecting nor reporting";
    hideMessage();
    closeLoginDialog();
    EXPECT_FALSE(loginBusy());
    EXPECT_EQ(serverLink().loginPassword, "");
    openLoginDialog();

    // The two-step stage wants exactly six digits.
    configSet("hesap_api", "http://127.0.0.1:1/hesap/");
    accountLogin().totpStep = true;
    codeField().text = "12345";
    submitLogin();
    EXPECT_EQ(messageDialog().messageText, "Doğrulama uygulamandaki 6 haneli kodu gir.");
    EXPECT_FALSE(accountLogin().loginInFlight.load());
}

// An answer that ends the two-step stage takes the code field away while the dialog stays
// open: a refusal (HTTP 500), or the dropped answer of a login cancelled before the dialog
// was opened again. What the player types next must land in a field that is shown.
TEST_F(LoginDialog, TheFocusNeverStaysOnAFieldThatIsNotShown) {
    testsupport::TestServer server;
    configSet("hesap_api", server.baseUrl() + "hesap/");
    const auto answered = [&](int status, const std::string& body) {
        server.route("/hesap/ticket", testsupport::answer(status, body));
        submitLogin();
        ASSERT_TRUE(waitFor([] { return accountLoginAnswered(); }, 10.0));
    };
    const auto actOnAnswer = [] {
        actOnLoginPoll(pollAccountLogin(gameSettingsFromConfig(), now()));
        hideMessage();
    };
    for (const bool reopened : {false, true}) {
        openLoginDialog();
        fill("ayse", "gizli");
        answered(401, R"({"message":"TOTP_REQUIRED"})");
        actOnAnswer();
        ASSERT_EQ(focusedField(), &codeField());
        codeField().text = "123456";
        answered(500, "");
        if (reopened) {
            closeLoginDialog(); // in flight: its answer will be dropped
            routeKey(GLFW_KEY_ENTER, GLFW_PRESS, 0);
            EXPECT_EQ(focusedField(), &codeField()) << "the code field is the one shown";
        }
        actOnAnswer();
        EXPECT_FALSE(accountLogin().totpStep);
        EXPECT_EQ(focusedField(), &passwordField()) << reopened;
        routeChar('x');
        EXPECT_EQ(passwordField().text, "x") << reopened;
        closeLoginDialog();
    }
}

TEST_F(LoginDialog, WhileTheServiceIsAskedTheButtonWaitsAndCancelClosesAtOnce) {
    testsupport::TestServer server;
    server.route("/hesap/ticket", testsupport::misbehave(testsupport::Behaviour::Silent));
    configSet("hesap_api", server.baseUrl() + "hesap/");
    openLoginDialog();
    fill("ayse", "gizli");
    h_->frame();
    const double idle = brightness(420, 362, 96, 26);
    submitLogin();
    ASSERT_TRUE(loginBusy());
    EXPECT_EQ(passwordField().text, "");
    EXPECT_EQ(accountLogin().accountPassword, "gizli");
    EXPECT_TRUE(startBlockedByLogin());
    h_->frame();
    h_->save("login_3_bekle");
    EXPECT_GT(std::abs(brightness(420, 362, 96, 26) - idle), 3.0); // pressed image, muted "BEKLE"
    submitLogin(); // a second press while busy sends nothing more
    EXPECT_TRUE(waitFor([&] { return server.requestCount("/hesap/ticket") == 1; }, 10.0));

    h_->click(332, 375); // "İPTAL"
    EXPECT_EQ(ui().activeModal, Modal::None);
    EXPECT_EQ(focusedField(), nullptr);
    EXPECT_TRUE(accountLogin().loginCancelled.load()); // the late answer will be dropped
}

} // namespace
