// launcher.h - the Launcher: every piece of the program's state, each owned once, held
// together for the run. The app hands each function the part it works on; a test builds
// its own Launcher (or only the parts it needs). Main thread only, but for what the
// background threads share through their own modules (update, news, account login, font
// and image preparation).
#pragma once

#include "app/frame_steps.h"
#include "config/config.h"
#include "gfx/ui.h"
#include "login/local_server.h"
#include "login/session.h"
#include "login/wire.h"
#include "news/news.h"
#include "screens/screens.h"
#include "screens/skin.h"
#include "update/pass.h"

#include <string>
#include <vector>

struct GLFWwindow;
struct GLFWcursor;

// The switches tests, demos and benchmarks set through the environment (app.h lists them);
// none is needed in normal use.
struct TestSwitches {
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

struct Launcher {
    Config config;
    UpdateStatus update; // the update passes of this run
    NewsState news;
    std::vector<wire::NewsItem> serverNews; // a probe's news, on its way into `news`
    Session session;
    LocalServer localServer;
    double serverCheckTimer = -100.0; // clock seconds of the last background probe; -100: at once

    // The skin before the Ui: the Ui's glyph preparation may wait on the skin's decoding, so
    // the Ui (and that thread) goes first.
    Skin skin;
    Ui ui;
    Screens screens;

    GLFWwindow* window = nullptr;
    GLFWcursor* handCursor = nullptr;
    GLFWcursor* textCursor = nullptr;
    GLFWcursor* shownCursor = nullptr; // what glfwSetCursor last got
    DragState drag;
    bool restartFailed = false; // the updated launcher could not be started; said once
    TestSwitches switches;

    Launcher() = default;
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;
};
