// key_routing_test.cpp - what each key and typed character does on the screens. One table
// walks the routing order: message box, Escape, Enter, then the focused field's editing keys.
#include "config/config.h"
#include "gfx/widgets.h"
#include "screens/dialogs.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

namespace {

enum class Field { None, Username, Password, Code, Server };

TextField* fieldFor(Field f) {
    switch (f) {
    case Field::Username:
        return &usernameField();
    case Field::Password:
        return &passwordField();
    case Field::Code:
        return &codeField();
    case Field::Server:
        return &serverAddressField();
    case Field::None:
        break;
    }
    return nullptr;
}

struct Calls {
    int submit = 0, save = 0, cancel = 0;
};
Calls gCalls;
bool gTotp = false;
const char* gClipboard = "veli";

class KeyRouting : public ::testing::Test {
  protected:
    void SetUp() override {
        resetWidgetStateForTests();
        config() = Config{};
        ui() = UiState{};
        hideMessage();
        gCalls = Calls{};
        gTotp = false;
        gClipboard = "veli";
        KeyRoutingHooks& h = keyHooks();
        h.submitLogin = [] { ++gCalls.submit; };
        h.saveSettings = [] { ++gCalls.save; };
        h.cancelLogin = [] { ++gCalls.cancel; };
        h.totpStep = [] { return gTotp; };
        h.clipboardText = [] { return gClipboard; };
    }
    void TearDown() override {
        keyHooks() = KeyRoutingHooks{};
        hideMessage();
        ui() = UiState{};
        resetWidgetStateForTests();
    }
};

constexpr int kPress = GLFW_PRESS, kRepeat = GLFW_REPEAT, kRelease = GLFW_RELEASE;
constexpr int kCtrl = GLFW_MOD_CONTROL;

TEST_F(KeyRouting, FirstMatchWinsInTheRoutingOrder) {
    using enum Modal;
    struct Case {
        const char* what;
        Modal modal;
        bool message, gameRunning, totp;
        Field focus;
        int key, action, mods;
        // after
        Modal modalAfter;
        bool messageAfter;
        Field focusAfter;
        const char* usernameAfter;
        int submits, saves, cancels;
    };
    const Case cases[] = {
        // The message box takes Escape, Enter and keypad Enter (repeats too), and swallows
        // every other key without touching the dialog under it.
        {"message: Escape", Login, true, false, false, Field::Username, GLFW_KEY_ESCAPE, kPress, 0, Login,
         false, Field::Username, "ali", 0, 0, 0},
        {"message: Enter", Login, true, false, false, Field::Username, GLFW_KEY_ENTER, kPress, 0, Login,
         false, Field::Username, "ali", 0, 0, 0},
        {"message: keypad Enter repeat", None, true, false, false, Field::None, GLFW_KEY_KP_ENTER, kRepeat, 0,
         None, false, Field::None, "ali", 0, 0, 0},
        {"message: release", Login, true, false, false, Field::Username, GLFW_KEY_ESCAPE, kRelease, 0, Login,
         true, Field::Username, "ali", 0, 0, 0},
        {"message: Backspace", Login, true, false, false, Field::Username, GLFW_KEY_BACKSPACE, kPress, 0,
         Login, true, Field::Username, "ali", 0, 0, 0},
        {"message: Tab", Login, true, false, false, Field::Username, GLFW_KEY_TAB, kPress, 0, Login, true,
         Field::Username, "ali", 0, 0, 0},
        {"message: Ctrl+V", Login, true, false, false, Field::Username, GLFW_KEY_V, kPress, kCtrl, Login,
         true, Field::Username, "ali", 0, 0, 0},
        {"message: letter", None, true, false, false, Field::None, GLFW_KEY_A, kPress, 0, None, true,
         Field::None, "ali", 0, 0, 0},
        // Escape closes the open dialog (a running login is cancelled), else nothing.
        {"Escape: login", Login, false, false, false, Field::Password, GLFW_KEY_ESCAPE, kPress, 0, None,
         false, Field::None, "ali", 0, 0, 1},
        {"Escape: settings", Settings, false, false, false, Field::Server, GLFW_KEY_ESCAPE, kPress, 0, None,
         false, Field::None, "ali", 0, 0, 0},
        {"Escape: bare screen", None, false, false, false, Field::None, GLFW_KEY_ESCAPE, kPress, 0, None,
         false, Field::None, "ali", 0, 0, 0},
        // Enter opens the login dialog (a remembered name puts the focus on the password),
        // submits it, or saves the settings.
        {"Enter: bare screen", None, false, false, false, Field::None, GLFW_KEY_ENTER, kPress, 0, Login,
         false, Field::Password, "ali", 0, 0, 0},
        {"Enter: login", Login, false, false, false, Field::Password, GLFW_KEY_KP_ENTER, kPress, 0, Login,
         false, Field::Password, "ali", 1, 0, 0},
        {"Enter: settings", Settings, false, false, false, Field::Server, GLFW_KEY_ENTER, kPress, 0, Settings,
         false, Field::Server, "ali", 0, 1, 0},
        // Releases, and every key while the game runs, are ignored.
        {"release: Enter", None, false, false, false, Field::None, GLFW_KEY_ENTER, kRelease, 0, None, false,
         Field::None, "ali", 0, 0, 0},
        {"game running: Enter", None, false, true, false, Field::None, GLFW_KEY_ENTER, kPress, 0, None, false,
         Field::None, "ali", 0, 0, 0},
        {"game running: Escape over message", Login, true, true, false, Field::Username, GLFW_KEY_ESCAPE,
         kPress, 0, Login, true, Field::Username, "ali", 0, 0, 0},
        // The focused field's keys, in a dialog only.
        {"Backspace", Login, false, false, false, Field::Username, GLFW_KEY_BACKSPACE, kRepeat, 0, Login,
         false, Field::Username, "al", 0, 0, 0},
        {"Backspace: bare screen", None, false, false, false, Field::Username, GLFW_KEY_BACKSPACE, kPress, 0,
         None, false, Field::Username, "ali", 0, 0, 0},
        {"Ctrl+V", Login, false, false, false, Field::Username, GLFW_KEY_V, kPress, kCtrl | GLFW_MOD_SHIFT,
         Login, false, Field::Username, "aliveli", 0, 0, 0},
        {"plain V", Login, false, false, false, Field::Username, GLFW_KEY_V, kPress, 0, Login, false,
         Field::Username, "ali", 0, 0, 0},
        {"Tab: username -> password", Login, false, false, false, Field::Username, GLFW_KEY_TAB, kPress, 0,
         Login, false, Field::Password, "ali", 0, 0, 0},
        {"Tab: password -> username", Login, false, false, false, Field::Password, GLFW_KEY_TAB, kPress, 0,
         Login, false, Field::Username, "ali", 0, 0, 0},
        {"Tab: username -> code", Login, false, false, true, Field::Username, GLFW_KEY_TAB, kPress, 0, Login,
         false, Field::Code, "ali", 0, 0, 0},
        {"Tab: code -> username", Login, false, false, true, Field::Code, GLFW_KEY_TAB, kPress, 0, Login,
         false, Field::Username, "ali", 0, 0, 0},
        {"Tab: settings has one field", Settings, false, false, false, Field::Server, GLFW_KEY_TAB, kPress, 0,
         Settings, false, Field::Server, "ali", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SetUp();
        usernameField().text = "ali";
        ui().activeModal = c.modal;
        ui().gameState = c.gameRunning ? GameState::Running : GameState::NotRunning;
        if (c.message) showError("x");
        gTotp = c.totp;
        focusedField() = fieldFor(c.focus);
        caretStart() = -1;

        routeKey(c.key, c.action, c.mods);

        EXPECT_EQ(ui().activeModal, c.modalAfter) << c.what;
        EXPECT_EQ(messageVisible(), c.messageAfter) << c.what;
        EXPECT_EQ(focusedField(), fieldFor(c.focusAfter)) << c.what;
        if (c.focusAfter != c.focus && c.focusAfter != Field::None) {
            EXPECT_GT(caretStart(), 0) << c.what << ": a newly focused field restarts the caret";
        }
        EXPECT_EQ(usernameField().text, c.usernameAfter) << c.what;
        EXPECT_EQ(gCalls.submit, c.submits) << c.what;
        EXPECT_EQ(gCalls.save, c.saves) << c.what;
        EXPECT_EQ(gCalls.cancel, c.cancels) << c.what;
    }
}

TEST_F(KeyRouting, PasteWithAnEmptyClipboardLeavesTheField) {
    ui().activeModal = Modal::Login;
    focusedField() = &codeField();
    gClipboard = nullptr;
    routeKey(GLFW_KEY_V, kPress, kCtrl);
    EXPECT_EQ(codeField().text, ""); // (a pasted text's filter is tested with the widgets)
}

TEST_F(KeyRouting, CharactersGoOnlyToAFocusedFieldWithNoMessageAndNoGame) {
    routeChar('a'); // no focus: nothing to crash on
    openLoginDialog();
    ASSERT_EQ(focusedField(), &usernameField());
    showInfo("bilgi");
    routeChar('b');
    hideMessage();
    ui().gameState = GameState::Running;
    onChar(nullptr, 'c');
    ui().gameState = GameState::NotRunning;
    onChar(nullptr, 'd');
    EXPECT_EQ(usernameField().text, "d");
}

TEST_F(KeyRouting, KeysTypedAfterAClickTheFrameHasNotSeenReachWhatTheClickOpens) {
    input().mousePressed = input().mouseReleased = true; // START clicked; no frame drawn yet
    onChar(nullptr, 'v');
    onKey(nullptr, GLFW_KEY_TAB, 0, kPress, 0);
    onChar(nullptr, 'p');
    EXPECT_EQ(focusedField(), nullptr);
    openLoginDialog(); // the frame: the START button opens the dialog
    endFrameInput(input());
    routeHeldKeys();
    EXPECT_EQ(usernameField().text, "v");
    EXPECT_EQ(passwordField().text, "p");
    onChar(nullptr, 'w'); // no click waiting: straight to the field
    EXPECT_EQ(passwordField().text, "pw");
}

} // namespace
