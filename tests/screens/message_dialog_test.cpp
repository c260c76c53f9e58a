// message_dialog_test.cpp - raising and replacing the message box (its keys are in
// key_routing_test.cpp).
#include "screens/message_dialog.h"

#include <gtest/gtest.h>

namespace {

class MessageBox : public ::testing::Test {
  protected:
    void SetUp() override { hideMessage(); }
    void TearDown() override { hideMessage(); }
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
    hideMessage();
    EXPECT_FALSE(messageVisible()); // no queue: nothing comes back
    showInfo("");
    EXPECT_TRUE(messageVisible());
    EXPECT_EQ(messageDialog().messageText, "");
}

} // namespace
