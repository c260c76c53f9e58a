// settings_dialog_test.cpp - the settings dialog through its buttons and keys: saving (an
// empty field stores the default address, launcher.ini rewritten, a new probe),
// cancelling with its button or Escape, saving with keypad Enter; with its picture.
#include "screens/screen_test_support.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

namespace {

using testsupport::fileExists;

class SettingsDialogTest : public screentest::ScreenTest {
  protected:
    TextField& field() { return l().screens.settings.address; }
    void open() {
        l().session.link.serverStatus = ServerStatus::Offline;
        frame();
        click(706, 535); // AYARLAR
        ASSERT_EQ(l().screens.state.activeModal, Modal::Settings);
    }
    std::string ini() { return testsupport::readFile(gameFolder() / "launcher.ini"); }
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
    EXPECT_FALSE(fileExists(gameFolder() / "launcher.ini"));
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
