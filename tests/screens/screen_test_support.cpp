// screen_test_support.cpp - waiting and the GL harness.
#include "screens/screen_test_support.h"

#include "app/frame_steps.h"
#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "platform/platform.h"
#include "screens/login_dialog.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/settings_dialog.h"
#include "screens/ui_state.h"
#include "update/pass.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace screentest {

using enum UpdateState;

// ---- waiting ----

void pollGently() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// ---- offscreen GL harness ----

ScreenHarness::ScreenHarness() {
    game_ = std::make_unique<testsupport::TempFolder>();
    gameFolder_ = game_->path();
    previousFolder_ = std::filesystem::current_path();
    std::error_code ec;
    std::filesystem::create_directory_symlink(std::filesystem::path(MORLAKEN_BIN_DIR) / "veri",
                                              gameFolder_ / "veri", ec);
    if (ec || !platform::setWorkingFolder(gameFolder_.string())) {
        error_ = "game folder could not be prepared";
        return;
    }
    if (!loadFontFaces()) {
        error_ = "fonts missing under " + std::string(MORLAKEN_BIN_DIR) + "/veri/font";
        return;
    }
    if (!glfwInit()) {
        error_ = "glfwInit failed (no display?)";
        return;
    }
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    GLFWwindow* w = glfwCreateWindow(800, 610, "Morlaken Online", nullptr, nullptr);
    if (!w) {
        error_ = "window could not be created";
        glfwTerminate();
        return;
    }
    window_ = w;
    glfwMakeContextCurrent(w);
    ui() = UiState{};
    frameContext() = FrameContext{};
    clearFontCache();
    loadLauncherImages();
    resetWidgetStateForTests();
    ok_ = true;
}

ScreenHarness::~ScreenHarness() {
    if (window_) {
        clearFontCache();
        glfwDestroyWindow(static_cast<GLFWwindow*>(window_));
        glfwTerminate();
    }
    images() = LauncherImages{};
    mainButtonSkin() = ButtonSkin{};
    ordinaryButtonSkin() = ButtonSkin{};
    std::error_code ec;
    std::filesystem::current_path(previousFolder_, ec);
}

void ScreenHarness::frame() {
    int fw = 0, fh = 0;
    glfwGetFramebufferSize(static_cast<GLFWwindow*>(window_), &fw, &fh);
    UiState& s = ui();
    glViewport(0, 0, fw, fh);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, frameContext().windowWidth, frameContext().windowHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0.05f, 0.06f, 0.08f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    InputState& in = input();
    in.wantHandCursor = false;
    in.wantTextCursor = false;
    frameContext().inputLayer = computeInputLayer(messageDialog().visible, s.activeModal);
    drawMainScreen(update(), shownProgress());
    if (s.activeModal == Modal::Login) drawLoginDialog();
    if (s.activeModal == Modal::Settings) drawSettingsDialog();
    if (messageDialog().visible) drawMessageDialog();
    glFinish();
    readBack();
    if (in.mouseReleased) in.activeId = nullptr;
    in.mousePressed = false;
    in.mouseReleased = false;
}

void ScreenHarness::moveMouse(float x, float y) {
    input().mouseX = x;
    input().mouseY = y;
}

void ScreenHarness::click(float x, float y) {
    moveMouse(x, y);
    input().mouseDown = true;
    input().mousePressed = true;
    frame();
    input().mouseDown = false;
    input().mouseReleased = true;
    frame();
}

void ScreenHarness::readBack() {
    int fw = 0, fh = 0;
    glfwGetFramebufferSize(static_cast<GLFWwindow*>(window_), &fw, &fh);
    pixels_ = readFramebuffer(fw, fh);
    for (size_t i = 3; i < pixels_.size(); i += 4)
        pixels_[i] = 255; // the window is opaque
    width_ = fw;
    height_ = fh;
}

ScreenHarness::Rgb ScreenHarness::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    const size_t i = (static_cast<size_t>(y) * width_ + x) * 4;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
}

std::string ScreenHarness::save(const std::string& name) const {
    const auto dir = std::filesystem::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / (name + ".png")).string();
    writePng(path, pixels_.data(), width_, height_);
    return path;
}

UpdateStatus& update() {
    static UpdateStatus status;
    return status;
}

double& shownSpeed() {
    static double speed = 0;
    return speed;
}

UpdateProgress shownProgress() {
    UpdateProgress progress = readUpdateProgress(update(), now());
    progress.speed = shownSpeed();
    return progress;
}

void resetUpdateStatus(UpdateState state) {
    shownSpeed() = 0;
    UpdateStatus& st = update();
    st.stopRequested = true;
    if (st.worker.joinable()) st.worker.join();
    st.stopRequested = false;
    st.state = state;
    st.bytesDone = 0;
    st.bytesTotal = 0;
    st.filesDone = 0;
    st.filesTotal = 0;
    std::lock_guard<std::mutex> lock(st.statusMutex);
    st.errorText.clear();
    st.serverVersion.clear();
}

} // namespace screentest
