// screen_test_support.h - a Launcher of the test's own drawing into a hidden window: the
// launcher's own frame function (drawFrame) with the fonts and images of veri/, in a
// temporary game folder; the mouse and keys go through the Ui's event queue as the
// window's callbacks would put them there, and the frame is read back and held against its
// reference picture.
#pragma once

#include "app/frame.h"
#include "app/launcher.h"
#include "gfx/reference_frame.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/enet_setup.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "screens/skin.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace screentest {

using testsupport::waitFor;

// ENet starts once, before any test of the program touches it: a block ENet took from one
// heap must never go back through the other.
struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(initializeEnet()); }
};
inline const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);

// The update status block in `state` with no worker running and nothing counted.
inline void resetUpdateStatus(UpdateStatus& st, UpdateState state) {
    st.stopRequested = true;
    if (st.worker.joinable()) st.worker.join();
    st.stopRequested = false;
    st.state = state;
    st.bytesDone = st.bytesFetched = st.bytesTotal = 0;
    st.filesDone = st.filesTotal = 0;
    std::lock_guard<std::mutex> lock(st.statusMutex);
    st.errorText.clear();
    st.serverVersion.clear();
}

// A test with a Launcher of its own drawing into a hidden window (screens are tested on a
// real X server, Xvfb): the update over, the mouse over nothing clickable.
class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code ec;
        std::filesystem::create_directory_symlink(std::filesystem::path(MORLAKEN_BIN_DIR) / "veri",
                                                  game_ / "veri", ec);
        ASSERT_TRUE(!ec && platform::setWorkingFolder(game_.path()) && loadFontFaces(l().ui.fonts))
            << "game folder with veri/ (fonts, images) could not be prepared";
        ASSERT_TRUE(glfwInit()) << "no display?";
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
        glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
        l().window = l().ui.window =
            glfwCreateWindow(kLauncherWidth, kLauncherHeight, "Morlaken Online", nullptr, nullptr);
        ASSERT_NE(l().window, nullptr);
        glfwMakeContextCurrent(l().window);
        loadSkin(l().skin);
        l().serverCheckTimer = 1e300; // no background probe of the game server unless a test asks
        resetUpdateStatus(l().update, UpdateState::UpToDate);
        moveMouse(10, 10);
    }
    void TearDown() override {
        resetUpdateStatus(l().update, UpdateState::UpToDate); // a retry's worker joined
        if (l().window) {
            clearFontCache(l().ui.fonts);
            glfwDestroyWindow(l().window);
        }
        glfwTerminate();
        launcher_.reset();
        std::error_code ec;
        std::filesystem::current_path(previousFolder_, ec);
    }
    Launcher& l() { return *launcher_; }
    LoginDialog& dialog() { return l().screens.login; }
    MessageDialog& message() { return l().screens.message; }

    // One frame as the launcher draws it (drawFrame), the framebuffer read back opaque.
    void frame() {
        WindowMetrics window{mouseX_, mouseY_};
        glfwGetFramebufferSize(l().window, &window.framebufferWidth, &window.framebufferHeight);
        drawFrame(l(), window);
        glFinish();
        pixels_ = readFramebuffer(width_ = window.framebufferWidth, height_ = window.framebufferHeight);
        for (size_t i = 3; i < pixels_.size(); i += 4)
            pixels_[i] = 255;
    }
    // The mouse at (x, y) for the next frames.
    void moveMouse(float x, float y) { mouseX_ = x, mouseY_ = y; }
    // A press and a release at (x, y) queued for the next frame, as a quick click comes.
    void queueClick(float x, float y) {
        moveMouse(x, y);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    }
    // A press frame and a release frame at (x, y).
    void click(float x, float y) {
        moveMouse(x, y);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        frame();
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
        frame();
    }
    // Keys and characters queued for the next frame, as the window's callbacks queue them.
    void type(std::string_view ascii) {
        for (const char c : ascii)
            queueChar(l().ui, static_cast<unsigned char>(c));
    }
    void key(int glfwKey, int mods = 0) {
        queueKey(l().ui, glfwKey, GLFW_PRESS, mods);
        queueKey(l().ui, glfwKey, GLFW_RELEASE, mods);
    }

    // Saves the last frame as <build>/screenshots/<name>.png.
    void save(const std::string& name) const {
        const auto dir = std::filesystem::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
        std::filesystem::create_directories(dir);
        writePng((dir / (name + ".png")).string(), pixels_.data(), width_, height_);
    }
    // A frame drawn with a focused field's caret on (begun anew, so no wall clock shows),
    // saved as `name` and expected to show its reference in `area` (gfx/reference_frame.h).
    void shot(const std::string& name, frametest::Area area) {
        Ui& ui = l().ui;
        do {
            ui.caretStart = platform::now();
            frame();
        } while (platform::now() - ui.caretStart >= kCaretOn);
        save(name);
        EXPECT_TRUE(frametest::matchesReference(name, pixels_, width_, area));
    }

    testsupport::TempFolder game_;
    std::filesystem::path previousFolder_ = std::filesystem::current_path();
    std::unique_ptr<Launcher> launcher_ = std::make_unique<Launcher>();
    double mouseX_ = 0, mouseY_ = 0;
    std::vector<uint8_t> pixels_; // RGBA, top row first
    int width_ = 0, height_ = 0;
};

// The inside of a dialog (login, settings, message): its title, fields, text and buttons.
inline constexpr frametest::Area kDialogArea = {200, 180, 400, 240};

} // namespace screentest
