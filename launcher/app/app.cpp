// app.cpp - start-up, the frame loop and shutdown.
//
// Index
//   ---- process-wide state ----
//   ---- start-up steps ----
//   ---- environment hooks ----   screenshots, first-frame report, frame limit
//   ---- one frame ----
//   ---- shutdown ----
//   ---- entry ----
#include "app/app.h"

#include "app/frame_steps.h"
#include "config/config.h"
#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/account.h"
#include "login/enet_setup.h"
#include "login/game.h"
#include "login/gameserver.h"
#include "login/local_server.h"
#include "news/news.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screens/closing_screen.h"
#include "screens/dialogs.h"
#include "screens/login_dialog.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/settings_dialog.h"
#include "screens/shortcut.h"
#include "screens/ui_state.h"
#include "update/pass.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <enet/enet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// ---- tunables ----
namespace {
constexpr const char* kWindowTitle = "Morlaken Online";
constexpr double kFrameWait = 1.0 / 60.0; // seconds; the caret and the progress advance
constexpr double kGameRunningWait = kGameWatchIntervalSeconds; // seconds while the game runs
constexpr double kNewsStopWaitSeconds = 0.5;   // at exit, for a hanging feed download
constexpr double kProbeIntervalSeconds = 15.0; // between probes while the server is not online
constexpr double kLocalServerHeadStart = 13.0; // serverCheckTimer = now - this: first probe ~2 s on
constexpr float kClearColor[4] = {0.05f, 0.06f, 0.08f, 1.0f};

constexpr const char* kFontsMissing =
    "veri\\font klasoru eksik. Launcher'i veri klasoruyle birlikte calistir.";
constexpr const char* kNetworkFailed = "Ag baslatilamadi.";
constexpr const char* kWindowSystemFailed = "Pencere sistemi baslatilamadi.";
constexpr const char* kWindowFailed = "Pencere acilamadi (OpenGL).";
// The update replaced the launcher but its new copy could not be started.
constexpr const char* kRestartFailed = "Launcher güncellendi. Lütfen kapatıp yeniden başlatın.";
} // namespace

// ---- process-wide state ----

namespace {
const double kProcessStart = now(); // static initialisation: as close to start as we get

GLFWwindow* gWindow = nullptr;
GLFWcursor* gHandCursor = nullptr;
GLFWcursor* gTextCursor = nullptr;
GLFWcursor* gShownCursor = nullptr; // what glfwSetCursor last got
DragState gDrag;
bool gRestartFailed = false; // the new copy could not be started; the launcher stays open
UpdateStatus gUpdate;        // the update passes of this run
} // namespace

GLFWwindow* launcherWindow() {
    return gWindow;
}

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

void applyStartupConfig() {
    setAccountServiceMode(!configGet("hesap_api").empty());
    ui().rememberMe = isSwitchOn(configGet("hatirla", "1"));
    if (ui().rememberMe) usernameField().text = configGet("kullanici");
}

void centerWindow(int width, int height) {
    if (!gWindow) return;
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!mode) return;
    glfwSetWindowPos(gWindow, (mode->width - width) / 2, (mode->height - height) / 2);
}

namespace {

// A start-up failure after the update worker may have started: the message first, then
// the worker is stopped and joined (a std::thread still running at exit would abort the
// process instead of ending it with code 1), then what was initialised is released.
// The news fetch is stopped as at a normal exit; when its thread is still inside the HTTP
// library after the wait, the process ends at once (exitNow) so no exit-time cleanup of
// libcurl or OpenSSL runs under it.
int failStartup(const char* text, bool enetUp, bool glfwUp) {
    showStartupError(text);
    stopUpdate(gUpdate);
    stopLocalServer(); // a local server started for this run goes with it
    // The glyph and image threads read data that static destruction frees: they end first.
    finishFontPreparation();
    finishImageDecoding();
    const bool newsStopped = stopNewsFetch(kNewsStopWaitSeconds);
    if (glfwUp) glfwTerminate();
    if (enetUp) enet_deinitialize();
    if (!newsStopped) platform::exitNow(1);
    return 1;
}

void installKeyHooks() {
    installLoginDialog(); // submitLogin, cancelLogin, totpStep
    keyHooks().saveSettings = saveSettings;
    keyHooks().clipboardText = [] { return gWindow ? glfwGetClipboardString(gWindow) : nullptr; };
}

// ---- environment hooks ----

struct EnvHooks {
    std::string screenshotPath;
    long screenshotFrame = 3;         // n-th drawn frame ...
    double screenshotSeconds = -1;    // ... or the first frame this long after start-up
    bool screenshotOnMessage = false; // ... or the first frame that shows the message dialog
    bool screenshotOnClosing = false; // ... or the first frame of the closing screen
    bool exitAfterScreenshot = false;
    bool reportFirstFrame = false;
    long exitAfterFrames = 0; // 0 = never
    std::string pidFile;      // a line with this process's id is appended at start-up
    std::string messageLog;   // every message the dialog shows is appended here
    std::string lastLogged;   // the message last appended (title and text)
    bool screenshotDone = false;
    long framesDrawn = 0;
};
EnvHooks gEnv;

void readEnvHooks() {
    if (const char* v = std::getenv("MORLAKEN_SCREENSHOT"); v && *v) gEnv.screenshotPath = v;
    if (const char* v = std::getenv("MORLAKEN_SCREENSHOT_AFTER"); v && *v) {
        char* end = nullptr;
        const double value = std::strtod(v, &end);
        if (std::strcmp(v, "mesaj") == 0)
            gEnv.screenshotOnMessage = true;
        else if (std::strcmp(v, "kapanis") == 0)
            gEnv.screenshotOnClosing = true;
        else if (end && *end == 's')
            gEnv.screenshotSeconds = value;
        else if (value >= 1)
            gEnv.screenshotFrame = static_cast<long>(value);
    }
    if (const char* v = std::getenv("MORLAKEN_EXIT_AFTER_SCREENSHOT"))
        gEnv.exitAfterScreenshot = isSwitchOn(v);
    if (const char* v = std::getenv("MORLAKEN_REPORT_FIRST_FRAME")) gEnv.reportFirstFrame = isSwitchOn(v);
    if (const char* v = std::getenv("MORLAKEN_EXIT_AFTER_FRAMES")) gEnv.exitAfterFrames = std::atol(v);
    if (const char* v = std::getenv("MORLAKEN_PID_FILE"); v && *v) gEnv.pidFile = v;
    if (const char* v = std::getenv("MORLAKEN_MESSAGE_LOG"); v && *v) gEnv.messageLog = v;
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
void logMessage() {
    if (gEnv.messageLog.empty()) return;
    const MessageDialog& d = messageDialog();
    if (!d.visible) {
        gEnv.lastLogged.clear();
        return;
    }
    std::string line = d.title + ": " + d.messageText;
    if (line == gEnv.lastLogged) return;
    appendLine(gEnv.messageLog, line);
    gEnv.lastLogged = std::move(line);
}

// Tests of the self-restart learn from this file which launcher runs now.
void reportProcessId() {
    if (gEnv.pidFile.empty()) return;
    appendLine(gEnv.pidFile, std::to_string(platform::processId()));
}

// Runs just before a drawn frame swaps.
void afterFrameDrawn(int fbWidth, int fbHeight) {
    ++gEnv.framesDrawn;
    logMessage();
    if (!gEnv.screenshotPath.empty() && !gEnv.screenshotDone) {
        const bool due = gEnv.screenshotOnMessage      ? messageDialog().visible
                         : gEnv.screenshotOnClosing    ? ui().gameState == GameState::Closing
                         : gEnv.screenshotSeconds >= 0 ? now() - kProcessStart >= gEnv.screenshotSeconds
                                                       : gEnv.framesDrawn >= gEnv.screenshotFrame;
        if (due) {
            gEnv.screenshotDone = true;
            if (!saveFramebufferPng(gEnv.screenshotPath, fbWidth, fbHeight))
                std::fprintf(stderr, "ekran goruntusu yazilamadi: %s\n", gEnv.screenshotPath.c_str());
            if (gEnv.exitAfterScreenshot) glfwSetWindowShouldClose(gWindow, GLFW_TRUE);
        }
    }
    if (gEnv.exitAfterFrames > 0 && gEnv.framesDrawn >= gEnv.exitAfterFrames)
        glfwSetWindowShouldClose(gWindow, GLFW_TRUE);
}

void afterFrameSwapped() {
    if (gEnv.framesDrawn != 1) return;
    if (gEnv.reportFirstFrame) {
        const double t = now();
        std::fprintf(stderr, "first-frame-ms %.3f at %.6f\n", (t - kProcessStart) * 1000.0, t);
    }
    // Start-up is over: what it used and freed goes back to the system.
    platform::releaseFreeMemory();
}

// ---- game and account login ----

// The account login's answer, read once a frame; an idle frame only tests two flags.
void pumpAccountLogin() {
    if (!accountLoginAnswered()) return;
    if (actOnLoginPoll(pollAccountLogin(gameSettingsFromConfig(), now()))) glfwHideWindow(gWindow);
}

// While the game runs: true when the rest of the frame is skipped (the game still runs,
// or it closed while opening and the launcher is back with the error). When it ended
// normally the closing screen takes the window and the frame goes on.
bool watchGame() {
    const GameWatchResult result = watchGameProcess(now());
    switch (result.event) {
    case GameWatchEvent::StillRunning:
        return true;
    case GameWatchEvent::EarlyExit:
        ui().gameState = GameState::NotRunning;
        ui().activeModal = Modal::None;
        focusedField() = nullptr;
        showError(result.message);
        glfwShowWindow(gWindow);
        glfwFocusWindow(gWindow);
        return true;
    case GameWatchEvent::Ended:
        break;
    }
    enterClosingScreen();
    glfwSetWindowSize(gWindow, kClosingWidth, kClosingHeight);
    centerWindow(kClosingWidth, kClosingHeight);
    glfwShowWindow(gWindow);
    glfwFocusWindow(gWindow);
    return false;
}

// ---- one frame ----

// Window dragging: a press that no widget claimed anchors; later frames follow the cursor.
void dragWindow(double cx, double cy) {
    InputState& in = input();
    if (in.mousePressed && in.activeId == nullptr) {
        int wx = 0, wy = 0;
        glfwGetWindowPos(gWindow, &wx, &wy);
        beginDrag(gDrag, wx, wy, cx, cy);
    }
    if (!gDrag.dragging) return;
    if (!in.mouseDown) {
        gDrag.dragging = false;
        return;
    }
    int nx = 0, ny = 0, tx = 0, ty = 0;
    glfwGetWindowPos(gWindow, &nx, &ny);
    dragTarget(gDrag, nx, ny, cx, cy, tx, ty);
    if (tx != nx || ty != ny) glfwSetWindowPos(gWindow, tx, ty);
}

void updateCursor() {
    const InputState& in = input();
    GLFWcursor* wanted = in.wantTextCursor ? gTextCursor : in.wantHandCursor ? gHandCursor : nullptr;
    if (wanted != gShownCursor) {
        glfwSetCursor(gWindow, wanted);
        gShownCursor = wanted;
    }
}

// ---- game-server link (frame loop) ----

// While no game runs, the server is not online and no connection is in progress, a probe
// every 15 s (serverCheckTimer).
void probeGameServer(double t) {
    if (ui().gameState != GameState::NotRunning || serverStatus() == ServerStatus::Online ||
        serverLink().linkMode != LinkMode::Idle || t - ui().serverCheckTimer <= kProbeIntervalSeconds)
        return;
    ui().serverCheckTimer = t;
    connectToGameServer(LinkMode::Probe);
}

// Services the link and acts on what it handed up: the server's news, errors of a login,
// the game started by an accepted login.
void pumpServerLink() {
    if (serverLink().enetHost) pumpGameServer(gameSettingsFromConfig());
    LinkPoll poll = takeLinkPoll();
    if (poll.newsArrived) {
        std::vector<NewsItem> items;
        for (wire::NewsItem& item : poll.news)
            items.push_back({std::move(item.tag), std::move(item.title), std::move(item.body)});
        replaceNewsFromServer(std::move(items));
    }
    for (const std::string& error : poll.errors)
        showError(error);
    // The login dialog stays open behind the hidden window (unlike the account login, which
    // closes it): keys are ignored while the game runs, the closing screen draws nothing
    // else, and an early end of the game closes every dialog.
    if (poll.gameStarted) {
        ui().gameState = GameState::Running;
        glfwHideWindow(gWindow);
    }
}

// ---- end of game-server link ----

void drawContent(const UpdateProgress& progress) {
    if (ui().gameState == GameState::Closing) {
        drawClosingScreen(); // nothing else
        return;
    }
    probeGameServer(now());
    frameContext().inputLayer = computeInputLayer(messageDialog().visible, ui().activeModal);
    drawMainScreen(gUpdate, progress);
    if (ui().activeModal == Modal::Login) drawLoginDialog();
    // activeModal read again: the login dialog may have changed it.
    if (ui().activeModal == Modal::Settings) drawSettingsDialog();
    if (messageDialog().visible) drawMessageDialog();
}

// One iteration of the loop. Returns after the swap, or early while the game runs.
void runFrame() {
    glfwWaitEventsTimeout(ui().gameState == GameState::Running ? kGameRunningWait : kFrameWait);

    // Per-frame pumps before the news poll: the game-server link, then the account login.
    pumpServerLink();
    pumpAccountLogin();
    pollNewsFeed();

    const UpdateProgress progress = readUpdateProgress(gUpdate, now());

    if (!gRestartFailed && restartAllowed(progress.state, ui().gameState, ui().activeModal)) {
        if (restartLauncher()) {
            glfwSetWindowShouldClose(gWindow, GLFW_TRUE); // the new copy takes over
        } else {
            gRestartFailed = true; // said once; the player starts the new launcher
            showInfo(kRestartFailed);
        }
    }

    // While the game runs the frame ends here: nothing drawn, no input cleared, no swap.
    if (ui().gameState == GameState::Running && watchGame()) return;

    double cx = 0, cy = 0;
    int ww = 0, wh = 0, fw = 0, fh = 0;
    glfwGetCursorPos(gWindow, &cx, &cy);
    glfwGetWindowSize(gWindow, &ww, &wh);
    glfwGetFramebufferSize(gWindow, &fw, &fh);
    InputState& in = input();
    FrameContext& frame = frameContext();
    scaleMouse(cx, cy, ww, wh, frame.windowWidth, frame.windowHeight, in.mouseX, in.mouseY);

    if (checkContentScale(frame.contentScale, fw, frame.windowWidth)) clearFontCache();

    glViewport(0, 0, fw, fh);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, frame.windowWidth, frame.windowHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(kClearColor[0], kClearColor[1], kClearColor[2], kClearColor[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    beginFrameInput(in);

    drawContent(progress);

    dragWindow(cx, cy);
    updateCursor();

    endFrameInput(in);
    routeHeldKeys(); // keys typed after this frame's click

    if (ui().closeRequested) glfwSetWindowShouldClose(gWindow, GLFW_TRUE);

    afterFrameDrawn(fw, fh);
    glfwSwapBuffers(gWindow);
    afterFrameSwapped();
}

// ---- shutdown ----

// Returns false when the news thread is still inside the HTTP library: the caller must then
// end the process with exitNow rather than return from main.
bool shutDown() {
    stopUpdate(gUpdate);    // stopRequested, then join the worker
    shutdownAccountLogin(); // loginCancelled (ends the request early), join, wipe
    finishFontPreparation(); // normally long done; a window closed at once may beat it
    finishImageDecoding();
    // A hanging feed download is abandoned promptly.
    const bool newsStopped = stopNewsFetch(kNewsStopWaitSeconds);
    // ---- game-server link and local server (shutdown) ----
    shutdownServerLink(); // resets the link, destroys the ENet host
    stopLocalServer();    // only the one this launcher started
    // ---- end ----
    enet_deinitialize();
    if (gHandCursor) glfwDestroyCursor(gHandCursor);
    if (gTextCursor) glfwDestroyCursor(gTextCursor);
    gHandCursor = gTextCursor = gShownCursor = nullptr;
    glfwTerminate();
    gWindow = nullptr;
    // Secrets never outlive the run.
    platform::wipeText(passwordField().text);
    platform::wipeText(codeField().text);
    return newsStopped;
}

} // namespace

// ---- entry ----

int runLauncher() {
    readEnvHooks();

    // The executable's path is read here, once, before any update can rename over the
    // running file; the self-restart starts what then sits at that path.
    enterProgramFolder();
    reportProcessId();
    loadConfigFile(kUserConfigFile, config().userEntries);
    loadConfigFile(kDefaultConfigFile, config().defaultEntries);

    startUpdate(gUpdate, configGet("guncelleme"), platform::launcherFileName());
    startNewsFetch();

    applyStartupConfig();

    // ---- desktop shortcut (start-up) ----
    ensureDesktopShortcut(); // once, through "kisayol"
    // ---- end ----
    // ---- local game server (start-up) ----
    // When the address is local; started, the first probe waits about 2 s for it.
    if (startLocalServer()) ui().serverCheckTimer = now() - kLocalServerHeadStart;
    // ---- end ----

    if (!loadFontFaces()) return failStartup(kFontsMissing, false, false);
    // Images and glyphs are prepared on background threads while the window system comes
    // up; the usual scale of 1 is a guess that a different display simply rebuilds. The
    // glyphs wait for the images (needed first): one busy worker, not two, so the window
    // system's exchanges with the display server are not starved on a two-core machine.
    startDecodingLauncherImages();
    prepareFontAtlases(mainScreenFonts(), 1.0f, waitForImageDecoding);
    if (!initializeEnet()) return failStartup(kNetworkFailed, false, false);
    if (!glfwInit()) return failStartup(kWindowSystemFailed, true, false);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    const FrameContext& frame = frameContext();
    gWindow = glfwCreateWindow(frame.windowWidth, frame.windowHeight, kWindowTitle, nullptr, nullptr);
    if (!gWindow) return failStartup(kWindowFailed, true, true);
    glfwMakeContextCurrent(gWindow);
    glfwSwapInterval(1);
    glfwSetCharCallback(gWindow, onChar);
    glfwSetKeyCallback(gWindow, onKey);
    glfwSetMouseButtonCallback(gWindow, onMouseButton);
    installKeyHooks();
    centerWindow(frame.windowWidth, frame.windowHeight);
    gHandCursor = glfwCreateStandardCursor(GLFW_HAND_CURSOR);
    gTextCursor = glfwCreateStandardCursor(GLFW_IBEAM_CURSOR);
    loadLauncherImages();
    glfwShowWindow(gWindow);

    while (!glfwWindowShouldClose(gWindow))
        runFrame();

    if (!shutDown()) platform::exitNow(0);
    return 0;
}
