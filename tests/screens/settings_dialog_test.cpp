// settings_dialog_test.cpp - the settings dialog through its buttons: saving (an empty
// field stores "127.0.0.1", launcher.ini rewritten, a new probe), cancelling, and the
// footer's server state until the probe answers; with screenshots.
#include "config/config.h"
#include "gfx/widgets.h"
#include "login/enet_setup.h"
#include "login/gameserver.h"
#include "news/news.h"
#include "screen_test_support.h"
#include "screens/dialogs.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"
#include "support/devhost.h"

#include <gtest/gtest.h>

namespace {

using screentest::ScreenHarness;
using namespace testsupport;

constexpr float kSettingsX = 706, kSettingsY = 535; // AYARLAR
constexpr float kSaveX = 468, kSaveY = 375;         // KAYDET
constexpr float kCancelX = 332, kCancelY = 375;     // İPTAL

// ENet starts once, before any test of this program touches it (the login dialog's tests
// connect too): a block ENet took from one heap must never go back through the other.
struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(initializeEnet()); }
};
const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);

class SettingsDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        resetNewsForTests();
        hideMessage();
        config() = Config{};
        screentest::resetUpdateStatus(UpdateState::UpToDate);
        serverStatus() = ServerStatus::Offline;
        h_ = std::make_unique<ScreenHarness>();
        ASSERT_TRUE(h_->ok()) << h_->error();
        h_->moveMouse(10, 10);
    }
    void TearDown() override {
        shutdownServerLink();
        takeLinkPoll();
        h_.reset();
        ui() = UiState{};
        config() = Config{};
        focusedField() = nullptr;
        serverStatus() = ServerStatus::Connecting;
    }
    void open() {
        h_->frame();
        h_->click(kSettingsX, kSettingsY);
        ASSERT_EQ(ui().activeModal, Modal::Settings);
    }
    std::unique_ptr<ScreenHarness> h_;
};

TEST_F(SettingsDialog, SavingAnEmptyFieldStoresTheLocalAddressAndProbesAgain) {
    configSet(config(), "sunucu", "oyun.example:7000");
    open();
    EXPECT_EQ(serverAddressField().text, "oyun.example:7000");
    EXPECT_EQ(focusedField(), &serverAddressField());
    h_->frame();
    h_->save("settings_dialog");

    serverAddressField().text.clear();
    h_->click(kSaveX, kSaveY);
    EXPECT_EQ(ui().activeModal, Modal::None);
    EXPECT_EQ(focusedField(), nullptr);
    EXPECT_EQ(configGet("sunucu"), "127.0.0.1");
    EXPECT_NE(readFile(h_->gameFolder() / "launcher.ini").find("sunucu=127.0.0.1"), std::string::npos);
    EXPECT_EQ(serverStatus(), ServerStatus::Connecting);
    EXPECT_EQ(serverLink().linkMode, LinkMode::Probe);
}

TEST_F(SettingsDialog, CancelKeepsTheStoredValue) {
    open();
    EXPECT_EQ(serverAddressField().text, "127.0.0.1") << "nothing stored: the local address";
    h_->click(kCancelX, kCancelY);
    configSet(config(), "sunucu", "127.0.0.1:27016");
    open();
    serverAddressField().text = "degisti:1";
    h_->click(kCancelX, kCancelY);
    EXPECT_EQ(ui().activeModal, Modal::None);
    EXPECT_EQ(configGet("sunucu"), "127.0.0.1:27016");
    EXPECT_FALSE(fileExists(h_->gameFolder() / "launcher.ini"));
    EXPECT_EQ(serverLink().linkMode, LinkMode::Idle);
    open();
    EXPECT_EQ(serverAddressField().text, "127.0.0.1:27016");
}

TEST_F(SettingsDialog, FooterSaysConnectingUntilTheNewProbeAnswers) {
    TempFolder files;
    writeFile(files / "haberler.txt", "Duyuru|Sunucudan|haber\n");
    DevHost server;
    ASSERT_TRUE(server.start({"--port", "0", "--news", files / "haberler.txt"}, "morlaken_server"));

    h_->frame();
    h_->save("footer_offline");
    open();
    serverAddressField().text = "127.0.0.1:" + std::to_string(server.port());
    h_->click(kSaveX, kSaveY);
    h_->frame();
    h_->save("footer_connecting");
    EXPECT_NE(footerText("", serverStatus()).find("Bağlanıyor"), std::string::npos);
    ASSERT_TRUE(screentest::waitFor([] { return serverStatus() == ServerStatus::Online; }, 10,
                                    [] { pumpGameServer(GameSettings{}); }));
    const LinkPoll poll = takeLinkPoll();
    EXPECT_TRUE(poll.newsArrived);
    h_->frame();
    h_->save("footer_online");
    EXPECT_NE(footerText("", serverStatus()).find("Açık"), std::string::npos);
}

} // namespace
