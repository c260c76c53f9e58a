// screen_test_support.h - helpers shared by the screen tests: polling with a deadline
// while running per-frame work, and an offscreen GL harness that draws like the frame
// loop and reads pixels back. Servers, folders and child processes come from
// tests/support.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/pass.h"

namespace screentest {

// ---- waiting ----

using testsupport::waitFor;

// A step for waitFor loops that start xdotool: 50 ms between tries, so the polling itself
// does not crowd the two cores the launcher starts on.
void pollGently();
inline constexpr const char* kXdotool = "/usr/bin/xdotool";

// ---- offscreen GL harness ----

// A hidden 800 x 610 GLFW window whose context stays current, with the fonts and the
// images of veri/ loaded (the working folder is a temporary game folder whose "veri"
// links to the build's copy). Only one may exist at a time.
class ScreenHarness {
  public:
    ScreenHarness();
    ~ScreenHarness();
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& gameFolder() const { return gameFolder_; }

    // One frame as the frame loop draws it: projection, clear, input layer, main screen,
    // message dialog when visible; then the end-of-frame input reset.
    void frame();
    // The mouse at (x, y) for the next frames.
    void moveMouse(float x, float y);
    // A press frame and a release frame at (x, y).
    void click(float x, float y);

    // The framebuffer, top row first, RGB.
    struct Rgb {
        int r = 0, g = 0, b = 0;
    };
    Rgb pixel(int x, int y) const;
    // Saves the last frame as <build>/screenshots/<name>.png; returns the path.
    std::string save(const std::string& name) const;

  private:
    void readBack();
    bool ok_ = false;
    std::string error_;
    void* window_ = nullptr;
    std::unique_ptr<testsupport::TempFolder> game_;
    std::filesystem::path gameFolder_;
    std::filesystem::path previousFolder_;
    std::vector<uint8_t> pixels_; // RGBA, top row first
    int width_ = 0, height_ = 0;
};

// The update status these tests draw from (the launcher keeps its own), the speed their
// frames show, and the frame's progress made of the two.
UpdateStatus& update();
double& shownSpeed();
UpdateProgress shownProgress();
// Puts the update status back to a quiet state (no worker running, no speed shown).
void resetUpdateStatus(UpdateState state);

} // namespace screentest
