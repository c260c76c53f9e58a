// frame.cpp - one frame of the launcher (see frame.h).
//
// Index
//   ---- tunables ----
//   ---- acting on what the screens ask ----
//   ---- keys ----
//   ---- pumps ----
//   ---- drawing ----
//   ---- window ----
#include "app/frame.h"

#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/game.h"
#include "platform/clock.h"
#include "screens/closing_screen.h"
#include "screens/links.h"

#include <GLFW/glfw3.h>

// ---- tunables ----
namespace {
constexpr double kProbeIntervalSeconds = 15.0; // between probes while the server is not online
// The update replaced the launcher but its new copy could not be started.
constexpr const char* kRestartFailed = "Launcher güncellendi. Lütfen kapatıp yeniden başlatın.";
} // namespace

// ---- acting on what the screens ask ----

namespace {

void act(Launcher& l, const MainScreenAction& action) {
    Screens& s = l.screens;
    switch (action.kind) {
    case MainAction::None:
        break;
    case MainAction::Close:
        s.state.closeRequested = true;
        break;
    case MainAction::OpenLogin:
        openLoginDialog(s.state, s.login, l.ui, l.session.account.totpStep);
        break;
    case MainAction::OpenSettings:
        openSettingsDialog(s.state, s.settings, l.ui, l.config);
        break;
    case MainAction::RetryUpdate:
        retryUpdate(l.update, l.config, s.message);
        break;
    case MainAction::OpenLink:
        openLink(s.message, configGet(l.config, *action.link));
        break;
    case MainAction::ShowNews:
        showNewsItem(s.message, l.news.items[action.newsIndex]);
        break;
    }
}

void act(Launcher& l, LoginAction action) {
    Screens& s = l.screens;
    switch (action) {
    case LoginAction::None:
        break;
    case LoginAction::Submit:
        submitLogin(s.login, l.session, l.config, s.message);
        break;
    case LoginAction::Cancel:
        closeLoginDialog(s.state, s.login, l.ui, l.session);
        break;
    case LoginAction::SignUp:
        openSignUp(l.config, s.message);
        break;
    }
}

void act(Launcher& l, SettingsAction action) {
    Screens& s = l.screens;
    switch (action) {
    case SettingsAction::None:
        break;
    case SettingsAction::Save:
        saveSettings(s.state, s.settings, l.ui, l.config, l.session.link);
        break;
    case SettingsAction::Cancel:
        closeSettingsDialog(s.state, l.ui);
        break;
    }
}

} // namespace

// ---- keys ----

void handleKey(Launcher& l, const InputEvent& event) {
    Screens& s = l.screens;
    if (s.message.visible) {
        messageDialogKey(s.message, event);
        return;
    }
    switch (s.state.activeModal) {
    case Modal::Login:
        act(l, loginDialogKey(l.ui, s.login, l.session.account.totpStep, event));
        break;
    case Modal::Settings:
        act(l, settingsDialogKey(l.ui, event));
        break;
    case Modal::None:
        act(l, mainScreenKey(event));
        break;
    }
}

namespace {

// The queued keys from `first` up to (not including) `end`, in order.
void handleKeys(Launcher& l, size_t first, size_t end) {
    for (size_t i = first; i < end && i < l.ui.events.size(); ++i)
        handleKey(l, l.ui.events[i]);
}

// ---- pumps ----

// The game-server link: its pump, and a probe's news into the list.
void pumpServerLink(Launcher& l) {
    pumpGameServer(l.session.link);
    if (!takeServerNews(l.session.link, l.serverNews)) return;
    std::vector<NewsItem> items;
    for (wire::NewsItem& item : l.serverNews)
        items.push_back({std::move(item.tag), std::move(item.title), std::move(item.body)});
    replaceNewsFromServer(l.news, std::move(items));
}

// Both logins end here: a started game closes the dialog and hides the window.
void pumpLogin(Launcher& l) {
    Screens& s = l.screens;
    const LoginOutcome outcome = takeLoginOutcome(l.session, l.config, s.login.code.text, platform::now());
    if (outcome.event == LoginEvent::None) return;
    if (actOnLoginOutcome(s.state, s.login, l.ui, s.message, outcome, l.session.account.totpStep))
        glfwHideWindow(l.window);
}

void restartIfUpdated(Launcher& l) {
    const ScreenState& state = l.screens.state;
    if (l.restartFailed || !restartAllowed(l.update.state.load(), state.gameState, state.activeModal)) return;
    if (restartLauncher()) {
        glfwSetWindowShouldClose(l.window, GLFW_TRUE); // the new copy takes over
    } else {
        l.restartFailed = true; // said once; the player starts the new launcher
        showInfo(l.screens.message, kRestartFailed);
    }
}

// While the game runs: true when the rest of the frame is skipped (the game still runs,
// or it closed while opening and the launcher is back with the error). When it ended
// normally the closing screen takes the window and the frame goes on.
bool watchGame(Launcher& l) {
    Screens& s = l.screens;
    const GameWatchResult result = watchGameProcess(l.session.game, platform::now());
    switch (result.event) {
    case GameWatchEvent::StillRunning:
        return true;
    case GameWatchEvent::EarlyExit:
        s.state.gameState = GameState::NotRunning;
        s.state.activeModal = Modal::None;
        focusField(l.ui, nullptr);
        showError(s.message, result.message);
        glfwShowWindow(l.window);
        glfwFocusWindow(l.window);
        return true;
    case GameWatchEvent::Ended:
        break;
    }
    enterClosingScreen(s.state, l.skin, l.ui, platform::now());
    glfwSetWindowSize(l.window, kClosingWidth, kClosingHeight);
    centerWindow(l.window, kClosingWidth, kClosingHeight);
    glfwShowWindow(l.window);
    glfwFocusWindow(l.window);
    return false;
}

// While no game runs, the server is not online and no connection is in progress, a probe
// every 15 s (serverCheckTimer).
void probeGameServer(Launcher& l, double t) {
    const ServerLink& link = l.session.link;
    if (l.screens.state.gameState != GameState::NotRunning || link.serverStatus == ServerStatus::Online ||
        link.linkMode != LinkMode::Idle || t - l.serverCheckTimer <= kProbeIntervalSeconds)
        return;
    l.serverCheckTimer = t;
    connectToGameServer(l.session.link, LinkMode::Probe, configGet(l.config, keys::kServer));
}

} // namespace

bool pumpFrame(Launcher& l) {
    pumpServerLink(l);
    pumpLogin(l);
    pollNewsFeed(l.news);
    restartIfUpdated(l);
    if (l.screens.state.gameState == GameState::Running && watchGame(l)) {
        dropKeys(l.ui); // keys typed while the game runs go unseen
        return false;
    }
    probeGameServer(l, platform::now());
    return true;
}

// ---- drawing ----

namespace {

// The main screen, the open dialog and the message box, each acting at once on what was
// clicked (a dialog opened by a click is drawn in the same frame).
void drawLayers(Launcher& l) {
    Screens& s = l.screens;
    Ui& ui = l.ui;
    copyServerVersion(l.update, s.main.serverVersion);
    const MainScreenView view{l.news.items, readUpdateProgress(l.update, platform::now()),
                              l.session.link.serverStatus, loginBusy(l.session)};
    act(l, drawMainScreen(ui, l.skin, s.main, view));
    if (s.state.activeModal == Modal::Login)
        act(l, drawLoginDialog(ui, l.skin, s.login, l.session.account.totpStep, loginBusy(l.session)));
    // activeModal read again: the login dialog may have changed it.
    if (s.state.activeModal == Modal::Settings) act(l, drawSettingsDialog(ui, l.skin, s.settings));
    if (s.message.visible) drawMessageDialog(ui, l.skin, s.message);
}

// Window dragging: a press that no widget claimed anchors; later frames follow the cursor.
void dragWindow(Launcher& l, const WindowMetrics& window) {
    const InputState& in = l.ui.input;
    DragState& drag = l.drag;
    const auto position = [&] {
        WindowPosition p;
        glfwGetWindowPos(l.window, &p.x, &p.y);
        return p;
    };
    if (in.mousePressed && in.activeId == nullptr)
        beginDrag(drag, position(), window.cursorX, window.cursorY);
    if (!drag.dragging) return;
    if (!in.mouseDown) {
        drag.dragging = false;
        return;
    }
    const WindowPosition here = position();
    const WindowPosition target = dragTarget(drag, here, window.cursorX, window.cursorY);
    if (target.x != here.x || target.y != here.y) glfwSetWindowPos(l.window, target.x, target.y);
}

void updateCursor(Launcher& l) {
    const InputState& in = l.ui.input;
    GLFWcursor* wanted = in.wantTextCursor ? l.textCursor : in.wantHandCursor ? l.handCursor : nullptr;
    if (wanted != l.shownCursor) {
        glfwSetCursor(l.window, wanted);
        l.shownCursor = wanted;
    }
}

} // namespace

WindowMetrics readWindowMetrics(GLFWwindow* window) {
    WindowMetrics m;
    glfwGetCursorPos(window, &m.cursorX, &m.cursorY);
    glfwGetWindowSize(window, &m.width, &m.height);
    glfwGetFramebufferSize(window, &m.framebufferWidth, &m.framebufferHeight);
    return m;
}

void drawFrame(Launcher& l, const WindowMetrics& window) {
    Ui& ui = l.ui;
    Screens& s = l.screens;
    scaleMouse(window, ui.frame, ui.input.mouseX, ui.input.mouseY);
    checkContentScale(ui.frame.contentScale, window.framebufferWidth, ui.frame.windowWidth);
    beginDrawing(ui.frame, window.framebufferWidth, window.framebufferHeight);
    beginFrameInput(ui);

    if (s.state.gameState == GameState::Closing) {
        drawClosingScreen(ui, l.skin, s.state, platform::now()); // nothing else; keys go unseen
    } else {
        handleKeys(l, 0, ui.keysBeforeClick);
        ui.frame.inputLayer = computeInputLayer(s.message.visible, s.state.activeModal);
        drawLayers(l);
        handleKeys(l, ui.keysBeforeClick, ui.events.size());
    }

    dragWindow(l, window);
    updateCursor(l);
    endFrameInput(ui);
    if (s.state.closeRequested) glfwSetWindowShouldClose(l.window, GLFW_TRUE);
}

// ---- window ----

void centerWindow(GLFWwindow* window, int width, int height) {
    if (!window) return;
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!mode) return;
    glfwSetWindowPos(window, (mode->width - width) / 2, (mode->height - height) / 2);
}
