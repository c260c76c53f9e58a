// app.cpp - start-up, the frame loop and shutdown.
//
// Index
//   ---- tunables and texts ----
//   ---- process-wide state ----
//   ---- start-up steps ----
//   ---- window callbacks ----
//   ---- test switches ----   screenshots, first-frame report, frame limit, message log
//   ---- shutdown ----
//   ---- entry ----
#include "app/app.h"

#include "app/frame.h"
#include "app/launcher.h"
#include "app/shortcut.h"
#include "config/config.h"
#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/enet_setup.h"
#include "login/wipe.h"
#include "net/http.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screens/main_screen.h"
#include "screens/skin.h"

#include <GLFW/glfw3.h>
#include <enet/enet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

// ---- tunables and texts ----
namespace {
constexpr const char* kWindowTitle = "Morlaken Online";
constexpr double kFrameWait = 1.0 / 60.0; // seconds; the caret and the progress advance
constexpr double kGameRunningWait = kGameWatchIntervalSeconds; // seconds while the game runs
constexpr double kNewsStopWaitSeconds = 0.5;                   // at exit, for a hanging feed download
constexpr double kLocalServerHeadStart = 13.0; // serverCheckTimer = now - this: first probe ~2 s on

constexpr const char* kFontsMissing =
    "veri\\font klasoru eksik. Launcher'i veri klasoruyle birlikte calistir.";
constexpr const char* kNetworkFailed = "Ag baslatilamadi.";
constexpr const char* kWindowSystemFailed = "Pencere sistemi baslatilamadi.";
constexpr const char* kWindowFailed = "Pencere acilamadi (OpenGL).";
} // namespace

// ---- process-wide state ----

namespace {
// When the process started, for the first-frame report: taken during static
// initialisation, as close to the start as the program itself gets, so it is process-wide
// by nature.
const double kProcessStart = platform::now();
} // namespace

// ---- start-up steps ----

void enterProgramFolder() {
    const std::string path = platform::executablePath();
    const size_t cut = path.find_last_of("\\/");
    std::string folder = cut == std::string::npos ? path : path.substr(0, cut);
    if (cut == 0) folder = "/"; // an executable at the root keeps the root
    platform::setWorkingFolder(folder);
}

void showStartupError(const char* text) {
    platform::showErrorBox(text);
}

namespace {

// A start-up failure after the update worker may have started: the message first, then
// the worker is stopped and joined (a std::thread still running at exit would abort the
// process instead of ending it with code 1), then what was initialised is released.
// The news fetch is stopped as at a normal exit; when its thread is still inside the HTTP
// library after the wait, the process ends at once (exitNow) so no exit-time cleanup of
// libcurl or OpenSSL runs under it.
int failStartup(Launcher& l, const char* text, bool enetUp, bool glfwUp) {
    showStartupError(text);
    stopUpdate(l.update);
    stopLocalServer(l.localServer); // a local server started for this run goes with it
    // The glyph and image threads end before the data they read goes.
    finishFontPreparation(l.ui.fonts);
    finishSkinDecoding(l.skin);
    const bool newsStopped = stopNewsFetch(l.news, kNewsStopWaitSeconds);
    if (glfwUp) glfwTerminate();
    if (enetUp) enet_deinitialize();
    if (!newsStopped) platform::exitNow(1);
    return 1;
}

// ---- window callbacks ----

// They only queue what happened; the frame takes it.
Launcher& launcherOf(GLFWwindow* window) {
    return *static_cast<Launcher*>(glfwGetWindowUserPointer(window));
}
void onChar(GLFWwindow* window, unsigned int codepoint) {
    queueChar(launcherOf(window).ui, codepoint);
}
void onKey(GLFWwindow* window, int key, int /*scancode*/, int action, int mods) {
    queueKey(launcherOf(window).ui, key, action, mods);
}
void onMouseButton(GLFWwindow* window, int button, int action, int /*mods*/) {
    queueMouseButton(launcherOf(window).ui, button, action);
}

// ---- test switches ----

void readTestSwitches(TestSwitches& sw) {
    if (const char* v = std::getenv("MORLAKEN_SCREENSHOT"); v && *v) sw.screenshotPath = v;
    if (const char* v = std::getenv("MORLAKEN_SCREENSHOT_AFTER"); v && *v) {
        char* end = nullptr;
        const double value = std::strtod(v, &end);
        if (std::strcmp(v, "mesaj") == 0)
            sw.screenshotOnMessage = true;
        else if (std::strcmp(v, "kapanis") == 0)
            sw.screenshotOnClosing = true;
        else if (end && *end == 's')
            sw.screenshotSeconds = value;
        else if (value >= 1)
            sw.screenshotFrame = static_cast<long>(value);
    }
    if (const char* v = std::getenv("MORLAKEN_EXIT_AFTER_SCREENSHOT")) sw.exitAfterScreenshot = isSwitchOn(v);
    if (const char* v = std::getenv("MORLAKEN_REPORT_FIRST_FRAME")) sw.reportFirstFrame = isSwitchOn(v);
    if (const char* v = std::getenv("MORLAKEN_EXIT_AFTER_FRAMES")) sw.exitAfterFrames = std::atol(v);
    if (const char* v = std::getenv("MORLAKEN_PID_FILE"); v && *v) sw.pidFile = v;
    if (const char* v = std::getenv("MORLAKEN_MESSAGE_LOG"); v && *v) sw.messageLog = v;
}

// Appends `line` and LF to the test hooks' files, creating them; through the platform layer,
// so a hook path under a non-ASCII folder works on Windows too.
void appendLine(const std::string& path, const std::string& line) {
    platform::FileHandle file = platform::openForAppend(path);
    if (file < 0) file = platform::createFreshFile(path);
    if (file < 0) return;
    const std::string text = line + "\n";
    platform::writeToFile(file, text.data(), text.size());
    platform::closeFile(file, false);
}

// Tests read what the player was told from this file: "TITLE: TEXT" per shown message.
void logMessage(TestSwitches& sw, const MessageDialog& d) {
    if (sw.messageLog.empty()) return;
    if (!d.visible) {
        sw.lastLogged.clear();
        return;
    }
    std::string line = d.title + ": " + d.messageText;
    if (line == sw.lastLogged) return;
    appendLine(sw.messageLog, line);
    sw.lastLogged = std::move(line);
}

// Tests of the self-restart learn from this file which launcher runs now.
void reportProcessId(const TestSwitches& sw) {
    if (sw.pidFile.empty()) return;
    appendLine(sw.pidFile, std::to_string(platform::processId()));
}

// Runs just before a drawn frame swaps.
void afterFrameDrawn(Launcher& l, int fbWidth, int fbHeight) {
    TestSwitches& sw = l.switches;
    ++sw.framesDrawn;
    logMessage(sw, l.screens.message);
    if (!sw.screenshotPath.empty() && !sw.screenshotDone) {
        const bool due = sw.screenshotOnMessage      ? l.screens.message.visible
                         : sw.screenshotOnClosing    ? l.screens.state.gameState == GameState::Closing
                         : sw.screenshotSeconds >= 0 ? platform::now() - kProcessStart >= sw.screenshotSeconds
                                                     : sw.framesDrawn >= sw.screenshotFrame;
        if (due) {
            sw.screenshotDone = true;
            if (!saveFramebufferPng(sw.screenshotPath, fbWidth, fbHeight))
                std::fprintf(stderr, "ekran goruntusu yazilamadi: %s\n", sw.screenshotPath.c_str());
            if (sw.exitAfterScreenshot) glfwSetWindowShouldClose(l.window, GLFW_TRUE);
        }
    }
    if (sw.exitAfterFrames > 0 && sw.framesDrawn >= sw.exitAfterFrames)
        glfwSetWindowShouldClose(l.window, GLFW_TRUE);
}

void afterFrameSwapped(const TestSwitches& sw) {
    if (sw.framesDrawn != 1) return;
    if (sw.reportFirstFrame) {
        const double t = platform::now();
        std::fprintf(stderr, "first-frame-ms %.3f at %.6f\n", (t - kProcessStart) * 1000.0, t);
    }
    // Start-up is over: what it used and freed goes back to the system.
    platform::releaseFreeMemory();
}

// One iteration of the loop: the event wait, the pumps, then (unless the game runs) a
// drawn frame and the swap.
void runFrame(Launcher& l) {
    const bool gameRuns = l.screens.state.gameState == GameState::Running;
    glfwWaitEventsTimeout(gameRuns ? kGameRunningWait : kFrameWait);
    if (!pumpFrame(l)) return; // the game runs: nothing drawn, no swap
    const WindowMetrics window = readWindowMetrics(l.window);
    drawFrame(l, window);
    afterFrameDrawn(l, window.framebufferWidth, window.framebufferHeight);
    glfwSwapBuffers(l.window);
    afterFrameSwapped(l.switches);
}

// ---- shutdown ----

// Returns false when the news thread is still inside the HTTP library: the caller must then
// end the process with exitNow rather than return from main.
bool shutDown(Launcher& l) {
    stopUpdate(l.update);                    // stopRequested, then join the worker
    shutdownAccountLogin(l.session.account); // loginCancelled (ends the request early), join, wipe
    finishFontPreparation(l.ui.fonts);       // normally long done; a window closed at once may beat it
    finishSkinDecoding(l.skin);
    // A hanging feed download is abandoned promptly.
    const bool newsStopped = stopNewsFetch(l.news, kNewsStopWaitSeconds);
    shutdownServerLink(l.session.link); // resets the link, destroys the ENet host
    stopLocalServer(l.localServer);     // only the one this launcher started
    enet_deinitialize();
    if (l.handCursor) glfwDestroyCursor(l.handCursor);
    if (l.textCursor) glfwDestroyCursor(l.textCursor);
    l.handCursor = l.textCursor = l.shownCursor = nullptr;
    glfwTerminate();
    l.window = nullptr;
    l.ui.window = nullptr;
    // Secrets never outlive the run.
    platform::wipeText(l.screens.login.password.text);
    platform::wipeText(l.screens.login.code.text);
    return newsStopped;
}

// The program with its Launcher.
int run(Launcher& l) {
    readTestSwitches(l.switches);

    // The executable's path is read here, once, before any update can rename over the
    // running file; the self-restart starts what then sits at that path.
    enterProgramFolder();
    reportProcessId(l.switches);
    loadConfig(l.config);

    startUpdate(l.update, configGet(l.config, keys::kUpdateBase), platform::launcherFileName());
    startNewsFetch(l.news, configGet(l.config, keys::kNewsAddress));

    applyLoginConfig(l.screens.login, l.config);
    ensureDesktopShortcut(l.config); // once, through "kisayol"
    // When the address is local; started, the first probe waits about 2 s for it.
    if (startLocalServer(l.localServer, l.config))
        l.serverCheckTimer = platform::now() - kLocalServerHeadStart;

    if (!loadFontFaces(l.ui.fonts)) return failStartup(l, kFontsMissing, false, false);
    // Images and glyphs are prepared on background threads while the window system comes
    // up; the usual scale of 1 is a guess that a different display simply rebuilds. The
    // glyphs wait for the images (needed first): one busy worker, not two, so the window
    // system's exchanges with the display server are not starved on a two-core machine.
    startDecodingSkin(l.skin);
    prepareFontAtlases(l.ui.fonts, mainScreenFonts(), 1.0f, [&skin = l.skin] { waitForSkinDecoding(skin); });
    if (!initializeEnet()) return failStartup(l, kNetworkFailed, false, false);
    if (!glfwInit()) return failStartup(l, kWindowSystemFailed, true, false);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    const FrameContext& frame = l.ui.frame;
    l.window = glfwCreateWindow(frame.windowWidth, frame.windowHeight, kWindowTitle, nullptr, nullptr);
    if (!l.window) return failStartup(l, kWindowFailed, true, true);
    l.ui.window = l.window;
    glfwMakeContextCurrent(l.window);
    glfwSwapInterval(1);
    glfwSetWindowUserPointer(l.window, &l);
    glfwSetCharCallback(l.window, onChar);
    glfwSetKeyCallback(l.window, onKey);
    glfwSetMouseButtonCallback(l.window, onMouseButton);
    centerWindow(l.window, frame.windowWidth, frame.windowHeight);
    l.handCursor = glfwCreateStandardCursor(GLFW_HAND_CURSOR);
    l.textCursor = glfwCreateStandardCursor(GLFW_IBEAM_CURSOR);
    loadSkin(l.skin);
    glfwShowWindow(l.window);

    while (!glfwWindowShouldClose(l.window))
        runFrame(l);

    if (!shutDown(l)) platform::exitNow(0);
    return 0;
}

} // namespace

// ---- entry ----

int runLauncher() {
    // On the heap: the Launcher holds the fonts, the glyph atlases and every buffer, more
    // than a main thread's stack should carry.
    const auto launcher = std::make_unique<Launcher>();
    return run(*launcher);
}
