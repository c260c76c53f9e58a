// screen_test_support.cpp - the Launcher in a hidden window (see screen_test_support.h).
#include "screens/screen_test_support.h"

#include "app/frame.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/enet_setup.h"
#include "platform/platform.h"
#include "screens/skin.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <cstdlib>
#include <mutex>

namespace screentest {

namespace {
// ENet starts once, before any test of this program touches it: a block ENet took from one
// heap must never go back through the other.
struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(initializeEnet()); }
};
const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);
} // namespace

ScreenHarness::ScreenHarness() {
    game_ = std::make_unique<testsupport::TempFolder>();
    gameFolder_ = game_->path();
    previousFolder_ = std::filesystem::current_path();
    std::error_code ec;
    std::filesystem::create_directory_symlink(std::filesystem::path(MORLAKEN_BIN_DIR) / "veri",
                                              gameFolder_ / "veri", ec);
    launcher_ = std::make_unique<Launcher>();
    Launcher& l = *launcher_;
    if (ec || !platform::setWorkingFolder(gameFolder_.string()) || !loadFontFaces(l.ui.fonts)) {
        error_ = "game folder with veri/ (fonts, images) could not be prepared";
        return;
    }
    if (!glfwInit()) {
        error_ = "glfwInit failed (no display?)";
        return;
    }
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
    ok_ = true;
}

ScreenHarness::~ScreenHarness() {
    if (launcher_) resetUpdateStatus(launcher_->update, UpdateState::UpToDate); // a retry's worker joined
    if (launcher_ && launcher_->window) {
        clearFontCache(launcher_->ui.fonts);
        glfwDestroyWindow(launcher_->window);
        glfwTerminate();
    }
    launcher_.reset();
    std::error_code ec;
    std::filesystem::current_path(previousFolder_, ec);
}

void ScreenHarness::frame() {
    WindowMetrics window;
    window.cursorX = mouseX_;
    window.cursorY = mouseY_;
    glfwGetFramebufferSize(launcher_->window, &window.framebufferWidth, &window.framebufferHeight);
    drawFrame(*launcher_, window);
    glFinish();
    pixels_ = readFramebuffer(window.framebufferWidth, window.framebufferHeight);
    for (size_t i = 3; i < pixels_.size(); i += 4)
        pixels_[i] = 255; // the window is opaque
    width_ = window.framebufferWidth;
    height_ = window.framebufferHeight;
}

void ScreenHarness::moveMouse(float x, float y) {
    mouseX_ = x;
    mouseY_ = y;
}

void ScreenHarness::click(float x, float y) {
    moveMouse(x, y);
    queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    frame();
    queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    frame();
}

void ScreenHarness::queueClick(float x, float y) {
    moveMouse(x, y);
    queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    queueMouseButton(launcher_->ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
}

void ScreenHarness::type(std::string_view ascii) {
    for (const char c : ascii)
        queueChar(launcher_->ui, static_cast<unsigned char>(c));
}

void ScreenHarness::key(int glfwKey, int mods) {
    queueKey(launcher_->ui, glfwKey, GLFW_PRESS, mods);
    queueKey(launcher_->ui, glfwKey, GLFW_RELEASE, mods);
}

ScreenHarness::Rgb ScreenHarness::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    const size_t i = (static_cast<size_t>(y) * width_ + x) * 4;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
}

std::vector<ScreenHarness::Rgb> ScreenHarness::grab(int x, int y, int w, int h) const {
    std::vector<Rgb> out;
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx)
            out.push_back(pixel(xx, yy));
    return out;
}

double ScreenHarness::brightness(int x, int y, int w, int h) const {
    long sum = 0;
    for (const Rgb& p : grab(x, y, w, h))
        sum += p.r + p.g + p.b;
    return static_cast<double>(sum) / (3.0 * w * h);
}

void ScreenHarness::save(const std::string& name) const {
    const auto dir = std::filesystem::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
    std::filesystem::create_directories(dir);
    writePng((dir / (name + ".png")).string(), pixels_.data(), width_, height_);
}

int changed(const std::vector<ScreenHarness::Rgb>& a, const std::vector<ScreenHarness::Rgb>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        n += std::abs(a[i].r - b[i].r) + std::abs(a[i].g - b[i].g) + std::abs(a[i].b - b[i].b) > 6 ? 1 : 0;
    return n;
}

void resetUpdateStatus(UpdateStatus& st, UpdateState state) {
    st.stopRequested = true;
    if (st.worker.joinable()) st.worker.join();
    st.stopRequested = false;
    st.state = state;
    st.bytesDone = 0;
    st.bytesFetched = 0;
    st.bytesTotal = 0;
    st.filesDone = 0;
    st.filesTotal = 0;
    std::lock_guard<std::mutex> lock(st.statusMutex);
    st.errorText.clear();
    st.serverVersion.clear();
}

} // namespace screentest
