// message_dialog_test.cpp - raising, replacing and closing the message box, through the
// key routing the frame loop uses.
#include "app/ui_state.h"
#include "gfx/widgets.h"
#include "screens/dialogs.h"
#include "screens/message_dialog.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

namespace {

class MessageBox : public ::testing::Test {
  protected:
    void SetUp() override {
        resetWidgetStateForTests();
        installScreenKeyHooks();
        ui() = UiState{};
        hideMessage();
    }
    void TearDown() override {
        hideMessage();
        ui() = UiState{};
        resetWidgetStateForTests();
    }
};

TEST_F(MessageBox, ThreeWaysToRaise) {
    showError("Dosya yazılamadı: a.pak");
    EXPECT_TRUE(messageVisible());
    EXPECT_EQ(messageDialog().title, "HATA");
    EXPECT_EQ(messageDialog().messageText, "Dosya yazılamadı: a.pak");
    EXPECT_EQ(messageDialog().accentColor, 0xE07A5Fu);
    showInfo("Kod gönderildi.");
    EXPECT_EQ(messageDialog().title, "BİLGİ");
    EXPECT_EQ(messageDialog().accentColor, 0xE2C27Au);
    std::string title = "Kale Kuşatması";
    std::string text = "Cumartesi akşamı";
    showMessage(title, text, 0x123456);
    title.clear();
    text.clear(); // the record holds its own copies
    EXPECT_EQ(messageDialog().title, "Kale Kuşatması");
    EXPECT_EQ(messageDialog().messageText, "Cumartesi akşamı");
    EXPECT_EQ(messageDialog().accentColor, 0x123456u);
}

TEST_F(MessageBox, LastRaiseWinsAndOneCloseHidesIt) {
    showError("birinci");
    showError("ikinci");
    EXPECT_EQ(messageDialog().messageText, "ikinci");
    routeKey(GLFW_KEY_ESCAPE, GLFW_PRESS, 0);
    EXPECT_FALSE(messageVisible()); // no queue: nothing comes back
    showInfo("");
    EXPECT_TRUE(messageVisible());
    EXPECT_EQ(messageDialog().messageText, "");
}

TEST_F(MessageBox, EscapeEnterAndKeypadEnterClose) {
    for (int key : {GLFW_KEY_ESCAPE, GLFW_KEY_ENTER, GLFW_KEY_KP_ENTER}) {
        showError("x");
        routeKey(key, GLFW_RELEASE, 0); // releases do nothing
        EXPECT_TRUE(messageVisible()) << key;
        routeKey(GLFW_KEY_A, GLFW_PRESS, 0); // other keys do nothing
        EXPECT_TRUE(messageVisible()) << key;
        routeKey(key, GLFW_REPEAT, 0);
        EXPECT_FALSE(messageVisible()) << key;
    }
}

TEST_F(MessageBox, EnterOverTheLoginDialogClosesOnlyTheMessage) {
    usernameField().text = "arda";
    routeKey(GLFW_KEY_ENTER, GLFW_PRESS, 0); // bare main screen: opens the login dialog
    ASSERT_EQ(ui().activeModal, 1);
    EXPECT_EQ(focusedField(), &passwordField());
    showError("Kullanıcı adı ve şifre gir.");
    routeKey(GLFW_KEY_ENTER, GLFW_PRESS, 0);
    EXPECT_FALSE(messageVisible());
    EXPECT_EQ(ui().activeModal, 1); // still open, nothing submitted or closed
    EXPECT_EQ(focusedField(), &passwordField());
    showError("tekrar");
    routeKey(GLFW_KEY_ESCAPE, GLFW_PRESS, 0);
    EXPECT_FALSE(messageVisible());
    EXPECT_EQ(ui().activeModal, 1);
    routeKey(GLFW_KEY_ESCAPE, GLFW_PRESS, 0); // a second Escape closes the dialog
    EXPECT_EQ(ui().activeModal, 0);
    EXPECT_EQ(focusedField(), nullptr);
}

TEST_F(MessageBox, TypingIsNotDeliveredWhileVisible) {
    openLoginDialog();
    ASSERT_EQ(focusedField(), &usernameField());
    showInfo("bilgi");
    routeChar('a');
    EXPECT_EQ(usernameField().text, "");
    hideMessage();
    routeChar('a');
    EXPECT_EQ(usernameField().text, "a");
}

TEST_F(MessageBox, DialogOpenersSetFocusAndModal) {
    openLoginDialog();
    EXPECT_EQ(ui().activeModal, 1);
    EXPECT_EQ(focusedField(), &usernameField());
    closeLoginDialog();
    EXPECT_EQ(ui().activeModal, 0);
    EXPECT_EQ(focusedField(), nullptr);
    serverAddressField().text = "düzenlenmiş";
    openSettingsDialog();
    EXPECT_EQ(ui().activeModal, 2);
    EXPECT_EQ(focusedField(), &serverAddressField());
    EXPECT_EQ(serverAddressField().text, "127.0.0.1"); // reloaded from the configuration
    routeKey(GLFW_KEY_ESCAPE, GLFW_PRESS, 0);
    EXPECT_EQ(ui().activeModal, 0);
    EXPECT_EQ(focusedField(), nullptr);
}

} // namespace
