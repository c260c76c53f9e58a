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

class ScreenHarness {
  public:
    ScreenHarness() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::create_directory_symlink(fs::path(MORLAKEN_BIN_DIR) / "veri", fs::path(game_.path()) / "veri",
                                     ec);
        Launcher& l = *launcher_;
        if (ec || !platform::setWorkingFolder(game_.path()) || !loadFontFaces(l.ui.fonts))
            error_ = "game folder with veri/ (fonts, images) could not be prepared";
        else if (!glfwInit())
            error_ = "glfwInit failed (no display?)";
        if (!error_.empty()) return;
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
        glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
        l.window = l.ui.window =
            glfwCreateWindow(kLauncherWidth, kLauncherHeight, "Morlaken Online", nullptr, nullptr);
        if (!l.window) {
            error_ = "window could not be created";
            glfwTerminate();
            return;
        }
        glfwMakeContextCurrent(l.window);
        loadSkin(l.skin);
        l.serverCheckTimer = 1e300; // no background probe of the game server unless a test asks
    }
    ~ScreenHarness() {
        resetUpdateStatus(launcher_->update, UpdateState::UpToDate); // a retry's worker joined
        if (launcher_->window) {
            clearFontCache(launcher_->ui.fonts);
            glfwDestroyWindow(launcher_->window);
            glfwTerminate();
        }
        launcher_.reset();
        std::error_code ec;
        std::filesystem::current_path(previousFolder_, ec);
    }
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::filesystem::path gameFolder() const { return game_.path(); }
    Launcher& launcher() { return *launcher_; }

    // One frame as the launcher draws it (drawFrame), the framebuffer read back opaque.
    void frame() {
        WindowMetrics window{mouseX_, mouseY_};
        glfwGetFramebufferSize(launcher_->window, &window.framebufferWidth, &window.framebufferHeight);
        drawFrame(*launcher_, window);
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
        queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    }
    // A press frame and a release frame at (x, y).
    void click(float x, float y) {
        moveMouse(x, y);
        queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        frame();
        queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
        frame();
    }
    // Keys and characters queued for the next frame, as the window's callbacks queue them.
    void type(std::string_view ascii) {
        for (const char c : ascii)
            queueChar(launcher_->ui, static_cast<unsigned char>(c));
    }
    void key(int glfwKey, int mods = 0) {
        queueKey(launcher_->ui, glfwKey, GLFW_PRESS, mods);
        queueKey(launcher_->ui, glfwKey, GLFW_RELEASE, mods);
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
        Ui& ui = launcher_->ui;
        do {
            ui.caretStart = platform::now();
            frame();
        } while (platform::now() - ui.caretStart >= kCaretOn);
        save(name);
        EXPECT_TRUE(frametest::matchesReference(name, pixels_, width_, area));
    }

  private:
    std::string error_;
    testsupport::TempFolder game_;
    std::filesystem::path previousFolder_ = std::filesystem::current_path();
    std::unique_ptr<Launcher> launcher_ = std::make_unique<Launcher>();
    double mouseX_ = 0, mouseY_ = 0;
    std::vector<uint8_t> pixels_; // RGBA, top row first
    int width_ = 0, height_ = 0;
};

// The inside of a dialog (login, settings, message): its title, fields, text and buttons.
inline constexpr frametest::Area kDialogArea = {200, 180, 400, 240};

// A test on a harness of its own: the update over, the mouse over nothing clickable.
class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        h_ = std::make_unique<ScreenHarness>();
        ASSERT_TRUE(h_->ok()) << h_->error(); // screens are tested on a real X server (Xvfb)
        resetUpdateStatus(l().update, UpdateState::UpToDate);
        h_->moveMouse(10, 10);
    }
    Launcher& l() { return h_->launcher(); }
    LoginDialog& dialog() { return l().screens.login; }
    MessageDialog& message() { return l().screens.message; }
    std::unique_ptr<ScreenHarness> h_;
};

} // namespace screentest
