// settings_dialog_test.cpp - the settings dialog through its buttons and keys: saving (an
// empty field stores the default address, launcher.ini rewritten, a new probe),
// cancelling, and the footer's server state until the probe answers; with screenshots.
#include "screens/screen_test_support.h"

#include "app/frame.h"
#include "login/enet_setup.h"
#include "support/devhost.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

namespace {

using screentest::ScreenHarness;
using namespace testsupport;

constexpr float kSettingsX = 706, kSettingsY = 535; // AYARLAR
constexpr float kSaveX = 468, kSaveY = 375;         // KAYDET
constexpr float kCancelX = 332, kCancelY = 375;     // İPTAL

// ENet starts once, before any test of this program touches it: a block ENet took from one
// heap must never go back through the other.
struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(initializeEnet()); }
};
const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        h_ = std::make_unique<ScreenHarness>();
        ASSERT_TRUE(h_->ok()) << h_->error();
        screentest::resetUpdateStatus(l().update, UpdateState::UpToDate);
        l().session.link.serverStatus = ServerStatus::Offline;
        h_->moveMouse(10, 10);
    }
    void TearDown() override {
        if (h_->ok()) shutdownServerLink(l().session.link);
        h_.reset();
    }
    Launcher& l() { return h_->launcher(); }
    TextField& field() { return l().screens.settings.address; }
    void open() {
        h_->frame();
        h_->click(kSettingsX, kSettingsY);
        ASSERT_EQ(l().screens.state.activeModal, Modal::Settings);
    }
    std::string footer() { return l().screens.main.footer; }
    std::unique_ptr<ScreenHarness> h_;
};

TEST_F(SettingsDialogTest, SavingAnEmptyFieldStoresTheLocalAddressAndProbesAgain) {
    configSet(l().config, keys::kServer, "oyun.example:7000");
    open();
    EXPECT_EQ(field().text, "oyun.example:7000");
    EXPECT_EQ(l().ui.focus, &field());
    h_->frame();
    h_->save("settings_dialog");

    field().text.clear();
    h_->click(kSaveX, kSaveY);
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(l().ui.focus, nullptr);
    EXPECT_EQ(configGet(l().config, keys::kServer), "127.0.0.1");
    EXPECT_NE(readFile(h_->gameFolder() / "launcher.ini").find("sunucu=127.0.0.1"), std::string::npos);
    EXPECT_EQ(l().session.link.serverStatus, ServerStatus::Connecting);
    EXPECT_EQ(l().session.link.linkMode, LinkMode::Probe);
}

TEST_F(SettingsDialogTest, CancelAndEscapeKeepTheStoredValueEnterSaves) {
    open();
    EXPECT_EQ(field().text, "127.0.0.1") << "nothing stored: the local address";
    h_->click(kCancelX, kCancelY);
    configSet(l().config, keys::kServer, "127.0.0.1:27016");
    open();
    h_->key(GLFW_KEY_BACKSPACE);
    h_->type("9");
    h_->key(GLFW_KEY_TAB); // one field: Tab does nothing
    h_->key(GLFW_KEY_ESCAPE);
    h_->frame();
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(configGet(l().config, keys::kServer), "127.0.0.1:27016");
    EXPECT_FALSE(fileExists(h_->gameFolder() / "launcher.ini"));
    EXPECT_EQ(l().session.link.linkMode, LinkMode::Idle);
    open();
    EXPECT_EQ(field().text, "127.0.0.1:27016");
    h_->key(GLFW_KEY_BACKSPACE);
    h_->type("7");
    h_->key(GLFW_KEY_KP_ENTER);
    h_->frame();
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    EXPECT_EQ(configGet(l().config, keys::kServer), "127.0.0.1:27017");
}

TEST_F(SettingsDialogTest, FooterSaysConnectingUntilTheNewProbeAnswers) {
    TempFolder files;
    writeFile(files / "haberler.txt", "Duyuru|Sunucudan|haber\n");
    DevHost server;
    ASSERT_TRUE(server.start({"--port", "0", "--news", files / "haberler.txt"}, "morlaken_server"));

    h_->frame();
    h_->save("footer_offline");
    open();
    field().text = "127.0.0.1:" + std::to_string(server.port());
    h_->click(kSaveX, kSaveY);
    h_->frame();
    h_->save("footer_connecting");
    EXPECT_NE(footer().find("Bağlanıyor"), std::string::npos);
    // The probe brings the server's news (the frame's pumps would put it into the list).
    ServerLink& link = l().session.link;
    ASSERT_TRUE(screentest::waitFor([&] { return link.serverStatus == ServerStatus::Online; }, 10,
                                    [&] { pumpGameServer(link); }));
    std::vector<wire::NewsItem> news;
    ASSERT_TRUE(takeServerNews(link, news));
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].title, "Sunucudan");
    h_->frame();
    h_->save("footer_online");
    EXPECT_NE(footer().find("Açık"), std::string::npos);
}

} // namespace
