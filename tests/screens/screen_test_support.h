// screen_test_support.h - a Launcher of the test's own drawing into a hidden window: the
// launcher's own frame function (drawFrame) with the fonts and images of veri/, in a
// temporary game folder; the mouse and keys go through the Ui's event queue as the
// window's callbacks would put them there, and the pixels are read back.
#pragma once

#include "app/launcher.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace screentest {

using testsupport::waitFor;

class ScreenHarness {
  public:
    ScreenHarness();
    ~ScreenHarness();
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& gameFolder() const { return gameFolder_; }
    Launcher& launcher() { return *launcher_; }

    // One frame as the launcher draws it (drawFrame), the framebuffer read back.
    void frame();
    // The mouse at (x, y) for the next frames.
    void moveMouse(float x, float y);
    // A press frame and a release frame at (x, y).
    void click(float x, float y);
    // A press and a release at (x, y) queued for the next frame, as a quick click comes.
    void queueClick(float x, float y);
    // Keys and characters queued for the next frame, as the window's callbacks queue them.
    void type(std::string_view ascii);
    void key(int glfwKey, int mods = 0);

    // The framebuffer, top row first, RGB.
    struct Rgb {
        int r = 0, g = 0, b = 0;
    };
    Rgb pixel(int x, int y) const;
    // The pixels of a rectangle of the last frame, row by row.
    std::vector<Rgb> grab(int x, int y, int w, int h) const;
    // Mean brightness of a rectangle of the last frame.
    double brightness(int x, int y, int w, int h) const;
    // Saves the last frame as <build>/screenshots/<name>.png.
    void save(const std::string& name) const;

  private:
    bool ok_ = false;
    std::string error_;
    std::unique_ptr<Launcher> launcher_;
    std::unique_ptr<testsupport::TempFolder> game_;
    std::filesystem::path gameFolder_, previousFolder_;
    double mouseX_ = 0, mouseY_ = 0;
    std::vector<uint8_t> pixels_; // RGBA, top row first
    int width_ = 0, height_ = 0;
};

// Pixels of two grabs of the same size that differ by more than a little.
int changed(const std::vector<ScreenHarness::Rgb>& a, const std::vector<ScreenHarness::Rgb>& b);

// The update status block in `state` with no worker running and nothing counted.
void resetUpdateStatus(UpdateStatus& status, UpdateState state);

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
