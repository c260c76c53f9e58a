// The start-up configuration applied to the login fields: the account-service variant of the username
// field and remember-me.
#include "app/app.h"
#include "config/config.h"
#include "gfx/widgets.h"
#include "screens/ui_state.h"

#include <gtest/gtest.h>

namespace {
class StartupConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        config() = Config{};
        ui() = UiState{};
        resetWidgetStateForTests();
    }
    void TearDown() override {
        config() = Config{};
        resetWidgetStateForTests();
    }
};
} // namespace

TEST_F(StartupConfig, WithoutAnyFileRememberIsOnAndTheNameEmpty) {
    ui().rememberMe = false;
    applyStartupConfig();
    EXPECT_TRUE(ui().rememberMe);
    EXPECT_EQ(usernameField().text, "");
    EXPECT_FALSE(accountServiceMode());
    EXPECT_EQ(usernameField().maxChars, 16u);
    EXPECT_EQ(usernameField().placeholder, "Kullanıcı adı");
}

TEST_F(StartupConfig, RememberedNameFillsTheFieldOnlyWhenTheSwitchIsExactlyOne) {
    config().userEntries = {{"kullanici", "ayse_k"}};
    config().defaultEntries = {{"hatirla", "1"}};
    applyStartupConfig();
    EXPECT_TRUE(ui().rememberMe);
    EXPECT_EQ(usernameField().text, "ayse_k");

    for (const char* off : {"0", "", "1 ", " 1", "evet", "true", "11"}) {
        usernameField().text.clear();
        config().userEntries = {{"hatirla", off}, {"kullanici", "ayse_k"}};
        applyStartupConfig();
        EXPECT_FALSE(ui().rememberMe) << '"' << off << '"';
        EXPECT_EQ(usernameField().text, "") << '"' << off << '"';
    }
}

TEST_F(StartupConfig, AccountServiceWidensTheUsernameField) {
    config().defaultEntries = {{"hesap_api", "https://hesap.ornek/api/"}};
    applyStartupConfig();
    EXPECT_TRUE(accountServiceMode());
    EXPECT_EQ(usernameField().maxChars, 64u);
    EXPECT_EQ(usernameField().placeholder, "Kullanıcı adı veya e-posta");
    // The user's own file can switch it off again with an empty value.
    config().userEntries = {{"hesap_api", ""}};
    applyStartupConfig();
    EXPECT_FALSE(accountServiceMode());
    EXPECT_EQ(usernameField().maxChars, 16u);
}
