// frame_test.cpp - the frame's rules on a Launcher of the test's own, without a window:
// what each key and each login's outcome does on each screen, the pumps, the start-up
// configuration of the login dialog, and the frame's arithmetic.
#include "app/frame.h"
#include "app/launcher.h"
#include "gfx/widgets.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <memory>
#include <variant>

namespace {

// ---- keys ----

// Which field has the focus: none, the user name, the password, the code, the address.
enum class Field { No, Name, Pass, Code, Addr };

TextField* fieldOf(Launcher& l, Field f) {
    TextField* const fields[] = {nullptr, &l.screens.login.username, &l.screens.login.password,
                                 &l.screens.login.code, &l.screens.settings.address};
    return fields[static_cast<int>(f)];
}

InputEvent keyEvent(int key, int action = GLFW_PRESS, int mods = 0) {
    return {InputEvent::Kind::Key, 0, key, action, mods};
}
InputEvent charEvent(uint32_t c) {
    return {InputEvent::Kind::Char, c, 0, 0, 0};
}

class Keys : public ::testing::Test { // launcher.ini lands in folder_
  protected:
    void SetUp() override { ASSERT_TRUE(platform::setWorkingFolder(folder_.path())); }
    void TearDown() override { platform::setWorkingFolder(previous_); }
    testsupport::TempFolder folder_;
    const std::string previous_ = platform::fullPath(".");
};

// One table walks what is on top: the message box takes every key, then the open dialog,
// then the bare main screen; the focused field edits. A login's outcome (with the two-step
// stage after the answer) moves the screens and the focus the same way.
TEST_F(Keys, EachKeyAndLoginOutcomeGoesToWhatIsOnTop) {
    using enum Modal;
    using enum Field;
    constexpr const char* kNone = nullptr;
    const char* x = "HATA|x";                                    // the message shown before
    const char* fields = "HATA|Kullanıcı adını ve şifreni gir."; // Enter in the login dialog: a submit
    const char *info = "BİLGİ|metin", *error = "HATA|metin";     // an outcome's text
    const int esc = GLFW_KEY_ESCAPE, enter = GLFW_KEY_ENTER, back = GLFW_KEY_BACKSPACE, tab = GLFW_KEY_TAB;
    struct Case {
        const char* what;
        Modal modal;
        bool message, totp;
        Field focus;
        std::variant<InputEvent, LoginEvent> input;
        Modal modalAfter;
        const char* messageAfter; // "TITLE|text" shown after, or none
        Field focusAfter;
        const char* usernameAfter;
        bool caretKept = false; // the focus moves, the caret goes on blinking
    };
    // clang-format off
    const Case cases[] = {
        // The message box takes Escape, Enter and keypad Enter (repeats too), and swallows
        // every other key without touching the dialog under it.
        {"message: Escape", Login, true, false, Name, keyEvent(esc), Login, kNone, Name, "ali"},
        {"message: Enter", Login, true, false, Name, keyEvent(enter), Login, kNone, Name, "ali"},
        {"message: keypad Enter repeat", None, true, false, No, keyEvent(GLFW_KEY_KP_ENTER, GLFW_REPEAT), None, kNone, No, "ali"},
        {"message: release", Login, true, false, Name, keyEvent(esc, GLFW_RELEASE), Login, x, Name, "ali"},
        {"message: Backspace", Login, true, false, Name, keyEvent(back), Login, x, Name, "ali"},
        {"message: Tab", Login, true, false, Name, keyEvent(tab), Login, x, Name, "ali"},
        {"message: letter", Login, true, false, Name, charEvent('b'), Login, x, Name, "ali"},
        // Escape closes the open dialog, else nothing.
        {"Escape: login", Login, false, false, Pass, keyEvent(esc), None, kNone, No, "ali"},
        {"Escape: settings", Settings, false, false, Addr, keyEvent(esc), None, kNone, No, "ali"},
        {"Escape: bare screen", None, false, false, No, keyEvent(esc), None, kNone, No, "ali"},
        // Enter opens the login dialog (a remembered name puts the focus on the password, or
        // the code in the two-step stage), submits it, or saves the settings.
        {"Enter: bare screen", None, false, false, No, keyEvent(enter), Login, kNone, Pass, "ali"},
        {"Enter: bare screen, two steps", None, false, true, No, keyEvent(enter), Login, kNone, Code, "ali"},
        {"Enter: login", Login, false, false, Pass, keyEvent(GLFW_KEY_KP_ENTER), Login, fields, Pass, "ali"},
        {"Enter: settings", Settings, false, false, Addr, keyEvent(enter), None, kNone, No, "ali"},
        {"release: Enter", None, false, false, No, keyEvent(enter, GLFW_RELEASE), None, kNone, No, "ali"},
        // The focused field's keys, in a dialog only.
        {"Backspace", Login, false, false, Name, keyEvent(back, GLFW_REPEAT), Login, kNone, Name, "al"},
        {"Backspace: bare screen", None, false, false, Name, keyEvent(back), None, kNone, Name, "ali"},
        {"letter", Login, false, false, Name, charEvent('b'), Login, kNone, Name, "alib"},
        {"letter: bare screen", None, false, false, Name, charEvent('b'), None, kNone, Name, "ali"},
        {"Ctrl+V, no clipboard", Login, false, false, Name, keyEvent(GLFW_KEY_V, GLFW_PRESS, GLFW_MOD_CONTROL), Login, kNone, Name, "ali"},
        {"plain V", Login, false, false, Name, keyEvent(GLFW_KEY_V), Login, kNone, Name, "ali"},
        {"Tab: name -> password", Login, false, false, Name, keyEvent(tab), Login, kNone, Pass, "ali"},
        {"Tab: password -> name", Login, false, false, Pass, keyEvent(tab), Login, kNone, Name, "ali"},
        {"Tab: name -> code", Login, false, true, Name, keyEvent(tab), Login, kNone, Code, "ali"},
        {"Tab: code -> name", Login, false, true, Code, keyEvent(tab), Login, kNone, Name, "ali"},
        {"Tab: settings has one field", Settings, false, false, Addr, keyEvent(tab), Settings, kNone, Addr, "ali"},
        {"outcome: game started", Login, false, false, Pass, LoginEvent::GameStarted, None, kNone, No, "ali"},
        {"outcome: code asked", Login, false, true, Pass, LoginEvent::TotpRequired, Login, info, Code, "ali"},
        {"outcome: code refused", Login, false, true, Name, LoginEvent::TotpInvalid, Login, error, Code, "ali", true},
        {"outcome: error", Login, false, false, Name, LoginEvent::Error, Login, error, Name, "ali"},
        // The two-step stage ended (a refusal, a dropped answer): the code field is gone and
        // the password field shown in its place takes the typing.
        {"outcome: error ends two steps", Login, false, false, Code, LoginEvent::Error, Login, error, Pass, "ali"},
        {"outcome: dropped", Login, false, false, Code, LoginEvent::Dropped, Login, kNone, Pass, "ali"},
        // Unreachable in the two-step stage: the stage and the code stay.
        {"outcome: unreachable, two steps", Login, false, true, Code, LoginEvent::Error, Login, error, Code, "ali"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto launcher = std::make_unique<Launcher>();
        Launcher& l = *launcher;
        l.screens.login.username.text = "ali";
        l.screens.settings.address.text = "a:b:c"; // a save probes nothing: the address does not parse
        l.screens.state.activeModal = c.modal;
        if (c.message) showError(l.screens.message, "x");
        l.session.account.totpStep = c.totp;
        l.ui.focus = fieldOf(l, c.focus);
        l.ui.caretStart = -1;

        const auto* event = std::get_if<InputEvent>(&c.input);
        const bool started = event == nullptr && std::get<LoginEvent>(c.input) == LoginEvent::GameStarted;
        Screens& s = l.screens;
        if (event) {
            handleKey(l, *event);
        } else {
            const LoginOutcome outcome{std::get<LoginEvent>(c.input), "metin", {}};
            EXPECT_EQ(actOnLoginOutcome(s.state, s.login, l.ui, s.message, outcome, c.totp), started)
                << c.what;
        }

        EXPECT_EQ(s.state.activeModal, c.modalAfter) << c.what;
        EXPECT_EQ(s.state.gameState, started ? GameState::Running : GameState::NotRunning) << c.what;
        EXPECT_EQ(s.message.visible ? s.message.title + "|" + s.message.messageText : "-",
                  c.messageAfter ? c.messageAfter : "-")
            << c.what;
        if (s.message.visible) {
            EXPECT_EQ(s.message.accentColor, s.message.title == "HATA" ? 0xE07A5Fu : 0xE2C27Au) << c.what;
        }
        EXPECT_EQ(l.ui.focus, fieldOf(l, c.focusAfter)) << c.what;
        if (!event || (c.focusAfter != c.focus && c.focusAfter != No)) {
            EXPECT_EQ(l.ui.caretStart > 0, c.focusAfter != c.focus && c.focusAfter != No && !c.caretKept)
                << c.what << ": a newly focused field restarts the caret";
        }
        EXPECT_EQ(s.login.username.text, c.usernameAfter) << c.what;
    }
}

// ---- pumps ----

TEST(Pumps, AProbesNewsReplacesTheListAndWhileTheGameRunsNothingIsDrawnAndKeysGoUnseen) {
    const auto launcher = std::make_unique<Launcher>();
    Launcher& l = *launcher;
    l.serverCheckTimer = 1e300; // no probe of its own
    l.news.items = {{"eski", "eski", ""}};
    l.session.link.newsArrived = true;
    l.session.link.news = {{"Duyuru", "Sunucudan", "haber"}, {"Yama", "İkinci", ""}};
    EXPECT_TRUE(pumpFrame(l));
    ASSERT_EQ(l.news.items.size(), 2u);
    EXPECT_EQ(l.news.items[0].title, "Sunucudan");
    EXPECT_EQ(l.news.items[1].tag, "Yama");

    // A game that runs: the frame ends before drawing and the keys typed meanwhile are
    // dropped, so an Enter pressed in the game does not close a message shown later.
    platform::ProcessOptions options;
    options.quiet = true;
    int error = 0;
    l.session.game.gameProcess = platform::startProcess("/bin/sleep", {"30"}, options, error);
    ASSERT_NE(l.session.game.gameProcess, 0);
    l.screens.state.gameState = GameState::Running;
    queueKey(l.ui, GLFW_KEY_ENTER, GLFW_PRESS, 0);
    queueChar(l.ui, 'x');
    queueMouseButton(l.ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    EXPECT_FALSE(pumpFrame(l));
    ASSERT_EQ(l.ui.events.size(), 1u) << "a mouse button stays queued";
    EXPECT_EQ(l.ui.events[0].kind, InputEvent::Kind::MouseButton);
    platform::terminateProcess(l.session.game.gameProcess, 2.0);
}

// ---- start-up configuration ----

TEST(StartupConfig, AccountServiceAndRememberMeShapeTheUserNameField) {
    struct Case {
        std::vector<ConfigEntry> user, defaults;
        bool remember;
        std::string name;
        FieldKind kind;
    };
    const Case cases[] = {
        // No file at all: remember is on, the name empty, user names only.
        {{}, {}, true, "", FieldKind::Username},
        {{{"kullanici", "ayse_k"}}, {{"hatirla", "1"}}, true, "ayse_k", FieldKind::Username},
        {{{"hatirla", "0"}, {"kullanici", "ayse_k"}}, {}, false, "", FieldKind::Username},
        {{{"hatirla", "1 "}, {"kullanici", "ayse_k"}}, {}, false, "", FieldKind::Username},
        {{{"hatirla", ""}, {"kullanici", "ayse_k"}}, {}, false, "", FieldKind::Username},
        {{{"hatirla", "evet"}, {"kullanici", "ayse_k"}}, {}, false, "", FieldKind::Username},
        // An account service takes e-mail addresses; the user's file can switch it off.
        {{}, {{"hesap_api", "https://hesap.ornek/api/"}}, true, "", FieldKind::AccountName},
        {{{"hesap_api", ""}}, {{"hesap_api", "https://hesap.ornek/api/"}}, true, "", FieldKind::Username},
    };
    for (const Case& c : cases) {
        LoginDialog dialog;
        dialog.rememberMe = !c.remember;
        applyLoginConfig(dialog, Config{c.user, c.defaults});
        const bool account = c.kind == FieldKind::AccountName;
        EXPECT_EQ(dialog.rememberMe, c.remember);
        EXPECT_EQ(dialog.username.text, c.name);
        EXPECT_EQ(dialog.username.kind, c.kind);
        EXPECT_EQ(dialog.username.maxChars, account ? 64u : 16u);
        EXPECT_STREQ(dialog.username.placeholder, account ? "Kullanıcı adı veya e-posta" : "Kullanıcı adı");
    }
}

// ---- arithmetic ----

TEST(InputLayers, MessageOverModalOverMainScreen) {
    EXPECT_EQ(computeInputLayer(false, Modal::None), InputLayer::MainScreen);
    EXPECT_EQ(computeInputLayer(false, Modal::Login), InputLayer::Dialog);
    EXPECT_EQ(computeInputLayer(false, Modal::Settings), InputLayer::Dialog);
    EXPECT_EQ(computeInputLayer(true, Modal::None), InputLayer::Message);
    EXPECT_EQ(computeInputLayer(true, Modal::Login), InputLayer::Message);
}

TEST(MouseScaling, WindowCoordinatesBecomeLogicalPixels) {
    struct Case {
        WindowMetrics window;
        FrameContext frame;
        float x, y;
    } cases[] = {
        {{400.5, 305.25, 800, 610}, {}, 400.5f, 305.25f},
        {{800, 610, 1600, 1220}, {}, 400.0f, 305.0f},       // the window reports twice the size
        {{3, 4, 0, -5}, {}, 2400.0f, 2440.0f},              // minimised: no division by zero
        {{-10, 20, 800, 610}, {1280, 640}, -16.0f, 20.98f}, // outside, closing screen size
    };
    for (const Case& c : cases) {
        float x = 0, y = 0;
        scaleMouse(c.window, c.frame, x, y);
        EXPECT_FLOAT_EQ(x, c.x);
        EXPECT_NEAR(y, c.y, 0.01f);
    }
}

TEST(ContentScale, OnlyChangesBeyondTheToleranceCount) {
    float scale = 1.0f;
    EXPECT_FALSE(checkContentScale(scale, 800, 800));
    EXPECT_FALSE(checkContentScale(scale, 805, 800)); // 1.00625
    EXPECT_EQ(scale, 1.0f);
    EXPECT_TRUE(checkContentScale(scale, 809, 800)); // 1.01125
    EXPECT_FLOAT_EQ(scale, 1.01125f);
    EXPECT_TRUE(checkContentScale(scale, 1200, 800));
    EXPECT_FALSE(checkContentScale(scale, 1200, 800)) << "the same scale rebuilds nothing";
    EXPECT_FALSE(checkContentScale(scale, 0, 800)) << "a minimised window keeps the atlases";
    EXPECT_FALSE(checkContentScale(scale, 1200, 0));
    EXPECT_FLOAT_EQ(scale, 1.5f);
}

TEST(WindowDrag, FollowsTheCursorsScreenMovementTruncatingTowardZero) {
    DragState d;
    beginDrag(d, {100, 200}, 10.7, 20.2);
    EXPECT_TRUE(d.dragging);
    const struct {
        int winX, winY;
        double cx, cy;
        int x, y;
    } steps[] = {
        {100, 200, 15.2, 25.9, 104, 205}, // moved +4.5, +5.7 on screen
        {104, 205, 11.2, 20.9, 104, 205}, // the window moved, the cursor stayed: so does the target
        {100, 200, 5.0, 14.5, 95, 195},   // leftward and upward: -5.7 truncates to -5, not -6
        {100, 200, 10.7, 20.2, 100, 200}, // no movement
    };
    for (const auto& s : steps) {
        const WindowPosition target = dragTarget(d, {s.winX, s.winY}, s.cx, s.cy);
        EXPECT_EQ(target.x, s.x);
        EXPECT_EQ(target.y, s.y);
    }
}

} // namespace
