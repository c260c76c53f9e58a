// dialogs_test.cpp - the login and settings dialogs through the launcher's frame, drawn over
// the main screen (screenshots <build>/screenshots/login_*.png and settings_dialog.png held
// against their reference pictures), and their rules on their real path. Login: the
// remember choice saved before any request, the field checks, the busy button and
// cancelling; keys typed right after a click reach what the click opened (under load a name
// typed straight after START must not lose its first letters), those typed before it what
// was focused before, and Ctrl+V pastes the window's clipboard through the field's filter.
// Settings: an empty field saves the default address (launcher.ini rewritten, a new probe),
// its button and Escape cancel, keypad Enter saves. (The focus after a login's answers and
// what each key does: app/frame_test.cpp.)
#include "screens/screen_test_support.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using testsupport::fileExists;

class LoginDialogTest : public screentest::ScreenTest {
  protected:
    void open() {
        key(GLFW_KEY_ENTER); // Enter on the bare main screen
        frame();
        ASSERT_EQ(l().screens.state.activeModal, Modal::Login);
    }
    void fill(const std::string& user, const std::string& password) {
        dialog().username.text = user;
        dialog().password.text = password;
    }
    void submit() {
        key(GLFW_KEY_ENTER);
        frame();
    }
};

TEST_F(LoginDialogTest, EachStateDrawsOverTheDimmedMainScreen) {
    open();
    // The main screen dimmed around the dialog; the empty user name shows the caret, not its
    // placeholder.
    shot("login_1_bos", {120, 120, 520, 340});
    EXPECT_EQ(l().ui.focus, &dialog().username);
    click(400, 338); // the remember box's label flips it
    EXPECT_FALSE(dialog().rememberMe);
    shot("login_hatirlama_yok", {325, 327, 22, 22});
    click(335, 338);
    EXPECT_TRUE(dialog().rememberMe);

    fill("ayse", "gizli-şifre");
    shot("login_2_dolu", screentest::kDialogArea); // the password masked

    l().session.account.totpStep = true;
    dialog().code.text = "1234";
    focusField(l().ui, &dialog().code);
    shot("login_4_kod", screentest::kDialogArea);
}

TEST_F(LoginDialogTest, SubmitChecksTheFieldsAndSavesTheRememberChoiceFirst) {
    const std::string ini = game_ / "launcher.ini";
    open();
    for (const auto& [user, password] : {std::pair{"ab", "gizli"}, {"ayse", ""}, {"", ""}}) {
        fill(user, password);
        submit();
        EXPECT_EQ(message().messageText, "Kullanıcı adını ve şifreni gir.") << user;
        EXPECT_FALSE(fileExists(ini)) << user;
        hideMessage(message());
    }

    // Without an account service the game-server login takes over: the choice is saved
    // first, the password leaves the field for the link, and the dialog waits. Closing it
    // drops the connection and wipes the password the link held.
    dialog().rememberMe = false;
    configSet(l().config, keys::kServer, "127.0.0.1:1");
    fill("abc", "gizli"); // three bytes are enough
    submit();
    EXPECT_EQ(testsupport::readFile(ini), "sunucu=127.0.0.1:1\r\nhatirla=0\r\nkullanici=\r\n");
    EXPECT_EQ(dialog().password.text, "");
    EXPECT_TRUE(loginBusy(l().session));
    key(GLFW_KEY_ESCAPE);
    frame();
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_FALSE(loginBusy(l().session));
    EXPECT_EQ(l().session.link.loginPassword, "");
    open();

    // The two-step stage wants exactly six digits.
    configSet(l().config, keys::kAccountApi, "http://127.0.0.1:1/hesap/");
    l().session.account.totpStep = true;
    dialog().code.text = "12345";
    submit();
    EXPECT_EQ(message().messageText, "Doğrulama uygulamandaki 6 haneli kodu gir.");
    EXPECT_FALSE(l().session.account.loginInFlight.load());
}

TEST_F(LoginDialogTest, TheSignUpLinkIsTheSecondPartOfItsLine) {
    open();
    const TextStyle style = {{FontFamily::Body, 13}};
    const float w1 = textWidth(l().ui, style, "Hesabın yok mu? ");
    const float w2 = textWidth(l().ui, style, "Web sitesinden kayıt ol");
    const float x1 = std::round(400 - (w1 + w2) / 2);
    click(x1 + w1 / 2, 407); // the question: nothing
    EXPECT_FALSE(message().visible);
    click(x1 + w1 + w2 / 2, 407); // the link: neither "kayit" nor "web" is set
    EXPECT_EQ(message().messageText, "Bu bağlantı henüz hazır değil.");
}

TEST_F(LoginDialogTest, WhileALoginRunsTheButtonWaitsAndCancelClosesAtOnce) {
    open();
    dialog().username.text = "ayse";
    l().session.account.loginInFlight = true; // a request runs
    l().session.account.accountPassword = "gizli";
    shot("login_3_bekle", screentest::kDialogArea); // pressed image, muted "BEKLE"
    dialog().password.text = "yeni";
    click(468, 375); // "GİRİŞ" is disabled
    submit();        // and Enter sends nothing more while busy
    EXPECT_EQ(dialog().password.text, "yeni");
    EXPECT_FALSE(fileExists(game_ / "launcher.ini"));

    click(332, 375); // "İPTAL"
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(l().ui.focus, nullptr);
    EXPECT_TRUE(l().session.account.loginCancelled.load()); // the late answer will be dropped
    l().session.account.loginInFlight = false;
}

TEST_F(LoginDialogTest, KeysAfterAClickReachWhatItOpenedKeysBeforeItWhatWasFocused) {
    queueClick(424, 534); // START
    type("v");
    key(GLFW_KEY_TAB);
    type("p");
    frame();
    ASSERT_EQ(l().screens.state.activeModal, Modal::Login);
    EXPECT_EQ(dialog().username.text, "v");
    EXPECT_EQ(dialog().password.text, "p");

    key(GLFW_KEY_TAB); // back on the user name
    type("ad");
    queueClick(400, 300); // the password field
    type("si");
    frame();
    EXPECT_EQ(dialog().username.text, "vad");
    EXPECT_EQ(dialog().password.text, "psi");
    EXPECT_EQ(l().ui.focus, &dialog().password);
}

TEST_F(LoginDialogTest, CtrlVPastesTheClipboardThroughTheFieldsFilter) {
    open();
    glfwSetClipboardString(l().window, "veli ş_1@x");
    key(GLFW_KEY_V, GLFW_MOD_CONTROL | GLFW_MOD_SHIFT);
    frame();
    EXPECT_EQ(dialog().username.text, "veli_1x"); // no blank, no Turkish letter, no '@'
    key(GLFW_KEY_V);                              // V alone types nothing (its character comes on its own)
    frame();
    EXPECT_EQ(dialog().username.text, "veli_1x");
}

class SettingsDialogTest : public screentest::ScreenTest {
  protected:
    TextField& field() { return l().screens.settings.address; }
    void open() {
        l().session.link.serverStatus = ServerStatus::Offline;
        frame();
        click(706, 535); // AYARLAR
        ASSERT_EQ(l().screens.state.activeModal, Modal::Settings);
    }
    std::string ini() { return testsupport::readFile(game_ / "launcher.ini"); }
};

TEST_F(SettingsDialogTest, SavingAnEmptyFieldStoresTheLocalAddressAndProbesAgain) {
    configSet(l().config, keys::kServer, "a:b:c"); // a probe of this one would end at once
    open();
    EXPECT_EQ(field().text, "a:b:c");
    EXPECT_EQ(l().ui.focus, &field());
    shot("settings_dialog", screentest::kDialogArea);

    field().text.clear();
    click(468, 375); // KAYDET
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(l().ui.focus, nullptr);
    EXPECT_EQ(configGet(l().config, keys::kServer), "127.0.0.1");
    EXPECT_NE(ini().find("sunucu=127.0.0.1"), std::string::npos);
    EXPECT_EQ(l().session.link.serverStatus, ServerStatus::Connecting);
    EXPECT_EQ(l().session.link.linkMode, LinkMode::Probe);
    frame();
    EXPECT_EQ(l().screens.main.footer, "Sürüm 0.1.0 · Sunucu Bağlanıyor");
}

TEST_F(SettingsDialogTest, CancelAndEscapeKeepTheStoredValueEnterSaves) {
    open();
    EXPECT_EQ(field().text, "127.0.0.1") << "nothing stored: the local address";
    click(332, 375); // İPTAL
    configSet(l().config, keys::kServer, "127.0.0.1:27016");
    open();
    key(GLFW_KEY_BACKSPACE);
    type("9");
    key(GLFW_KEY_ESCAPE);
    frame();
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(configGet(l().config, keys::kServer), "127.0.0.1:27016");
    EXPECT_FALSE(fileExists(game_ / "launcher.ini"));
    EXPECT_EQ(l().session.link.linkMode, LinkMode::Idle);
    open();
    EXPECT_EQ(field().text, "127.0.0.1:27016");
    key(GLFW_KEY_BACKSPACE);
    type("7");
    key(GLFW_KEY_KP_ENTER);
    frame();
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(configGet(l().config, keys::kServer), "127.0.0.1:27017");
}

} // namespace
