// keys_test.cpp - keys in the drawn frame: those typed right after a click reach what the
// click opened (under load a name typed straight after START must not lose its first
// letters), those typed before it go to what was focused before, and Ctrl+V pastes the
// window's clipboard through the field's filter. (What each key does: app/frame_test.cpp.)
#include "screens/screen_test_support.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

namespace {

using screentest::ScreenHarness;

class FrameKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        h_ = std::make_unique<ScreenHarness>();
        ASSERT_TRUE(h_->ok()) << h_->error();
        screentest::resetUpdateStatus(l().update, UpdateState::UpToDate);
    }
    Launcher& l() { return h_->launcher(); }
    LoginDialog& dialog() { return l().screens.login; }
    // A press and a release at (x, y) queued for the next frame, as a quick click comes.
    void queueClick(float x, float y) {
        h_->moveMouse(x, y);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    }
    std::unique_ptr<ScreenHarness> h_;
};

TEST_F(FrameKeys, KeysTypedAfterAClickReachWhatTheClickOpens) {
    queueClick(424, 534); // START
    h_->type("v");
    h_->key(GLFW_KEY_TAB);
    h_->type("p");
    h_->frame();
    ASSERT_EQ(l().screens.state.activeModal, Modal::Login);
    EXPECT_EQ(dialog().username.text, "v");
    EXPECT_EQ(dialog().password.text, "p");
    h_->type("w"); // no click this frame: straight to the field
    h_->frame();
    EXPECT_EQ(dialog().password.text, "pw");
}

TEST_F(FrameKeys, KeysTypedBeforeAClickGoToTheFieldFocusedBefore) {
    h_->key(GLFW_KEY_ENTER); // opens the dialog on the user name
    h_->frame();
    h_->type("ad");
    queueClick(400, 300); // the password field
    h_->type("si");
    h_->frame();
    EXPECT_EQ(dialog().username.text, "ad");
    EXPECT_EQ(dialog().password.text, "si");
    EXPECT_EQ(l().ui.focus, &dialog().password);
}

TEST_F(FrameKeys, CtrlVPastesTheClipboardThroughTheFieldsFilter) {
    h_->key(GLFW_KEY_ENTER);
    h_->frame();
    glfwSetClipboardString(l().window, "veli ş_1@x");
    h_->key(GLFW_KEY_V, GLFW_MOD_CONTROL | GLFW_MOD_SHIFT);
    h_->frame();
    EXPECT_EQ(dialog().username.text, "veli_1x"); // no blank, no Turkish letter, no '@'
    h_->key(GLFW_KEY_V);                          // V alone types nothing (its character comes on its own)
    h_->frame();
    EXPECT_EQ(dialog().username.text, "veli_1x");
}

} // namespace
