// The hot-area rule, text-field filters and limits, editing, paste, and key routing.
#include "app/ui_state.h"
#include "gfx/widgets.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <string>

namespace {

struct Calls {
    int hide = 0, open = 0, closeLogin = 0, closeSettings = 0, submit = 0, save = 0;
};

class WidgetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetWidgetStateForTests();
        ui() = UiState{};
        calls = Calls{};
        message = false;
        clipboard = nullptr;
    }
    void TearDown() override { resetWidgetStateForTests(); }

    // A frame as the loop runs it: cursor requests cleared, widgets, then the end-of-frame
    // reset.
    template <typename Fn> void frame(float mx, float my, Fn&& widgets) {
        input().mouseX = mx;
        input().mouseY = my;
        beginFrameInput(input());
        widgets();
        endFrameInput(input());
    }
    static void press() { onMouseButton(nullptr, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0); }
    static void release() { onMouseButton(nullptr, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE, 0); }
    static void type(TextField& f, std::string_view ascii) {
        focusedField() = &f;
        for (char c : ascii)
            onChar(nullptr, static_cast<unsigned char>(c));
    }

    static inline Calls calls;
    static inline bool message = false;
    static inline bool totp = false;
    static inline const char* clipboard = nullptr;

    static void installHooks() {
        KeyRoutingHooks& h = keyHooks();
        h.messageVisible = [] { return message; };
        h.hideMessage = [] {
            message = false;
            ++calls.hide;
        };
        h.closeLoginDialog = [] { ++calls.closeLogin; };
        h.closeSettingsDialog = [] { ++calls.closeSettings; };
        h.submitLogin = [] { ++calls.submit; };
        h.saveSettings = [] { ++calls.save; };
        h.totpStep = [] { return totp; };
        h.clipboardText = [] { return clipboard; };
    }
    static void key(int k, int mods = 0) { onKey(nullptr, k, 0, GLFW_PRESS, mods); }
};

} // namespace

// ---- hot areas ----

TEST_F(WidgetTest, ClickNeedsPressAndReleaseOnTheSameWidget) {
    HotResult r;
    press();
    frame(15, 15, [&] { r = hotAreaBehavior("a", 0, 10, 10, 20, 20); });
    EXPECT_TRUE(r.hovered);
    EXPECT_TRUE(r.held);
    EXPECT_FALSE(r.clicked);
    release();
    frame(15, 15, [&] { r = hotAreaBehavior("a", 0, 10, 10, 20, 20); });
    EXPECT_TRUE(r.clicked);
    EXPECT_EQ(input().activeId, nullptr); // cleared at the end of the release frame
    frame(15, 15, [&] { r = hotAreaBehavior("a", 0, 10, 10, 20, 20); });
    EXPECT_FALSE(r.clicked) << "one click, not one per frame";
}

TEST_F(WidgetTest, PressOnOneReleaseOnAnotherClicksNeither) {
    bool a = false, b = false;
    auto both = [&] {
        a = hotArea("a", 0, 0, 0, 50, 50);
        b = hotArea("b", 0, 100, 0, 50, 50);
    };
    press();
    frame(10, 10, both);
    bool heldA = true;
    frame(120, 10, [&] {
        hotArea("a", 0, 0, 0, 50, 50, nullptr, &heldA); // moved off: not drawn pressed
        b = hotArea("b", 0, 100, 0, 50, 50);
    });
    EXPECT_FALSE(heldA);
    release();
    frame(120, 10, both);
    EXPECT_FALSE(a);
    EXPECT_FALSE(b);
    // Moving back after the release does not revive the old press.
    frame(10, 10, both);
    EXPECT_FALSE(a);
}

TEST_F(WidgetTest, PressAndReleaseWithinOneFrameClicks) {
    press();
    release();
    bool clicked = false;
    frame(5, 5, [&] { clicked = hotArea("a", 0, 0, 0, 10, 10); });
    EXPECT_TRUE(clicked);
}

TEST_F(WidgetTest, EdgesAreHalfOpen) {
    bool hovered = false;
    frame(10, 10, [&] { hotArea("a", 0, 10, 10, 5, 5, &hovered); });
    EXPECT_TRUE(hovered);
    frame(15, 12, [&] { hotArea("a", 0, 10, 10, 5, 5, &hovered); });
    EXPECT_FALSE(hovered);
    frame(12, 15, [&] { hotArea("a", 0, 10, 10, 5, 5, &hovered); });
    EXPECT_FALSE(hovered);
}

TEST_F(WidgetTest, LowerLayersAreInertWhileADialogIsUp) {
    ui().inputLayer = computeInputLayer(true, 1); // message over the login dialog
    EXPECT_EQ(ui().inputLayer, 2);
    bool hovered = true, clicked = true;
    press();
    frame(5, 5, [&] { clicked = hotArea("start", 0, 0, 0, 10, 10, &hovered); });
    EXPECT_FALSE(hovered);
    EXPECT_FALSE(input().wantHandCursor);
    EXPECT_EQ(input().activeId, nullptr) << "an unclaimed press is left for window dragging";
    release();
    frame(5, 5, [&] { clicked = hotArea("tamam", 2, 0, 0, 10, 10, &hovered); });
    EXPECT_TRUE(hovered);
    EXPECT_TRUE(input().wantHandCursor);
    EXPECT_FALSE(clicked) << "the press happened when the widget was not there to take it";
}

TEST_F(WidgetTest, IdsAreComparedByText) {
    std::string first = "kapat", second = "kapat";
    press();
    frame(5, 5, [&] { hotArea(first.c_str(), 0, 0, 0, 10, 10); });
    release();
    bool clicked = false;
    frame(5, 5, [&] { clicked = hotArea(second.c_str(), 0, 0, 0, 10, 10); });
    EXPECT_TRUE(clicked);
}

TEST_F(WidgetTest, OnlyTheLeftButtonCounts) {
    onMouseButton(nullptr, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0);
    onMouseButton(nullptr, GLFW_MOUSE_BUTTON_MIDDLE, GLFW_PRESS, 0);
    EXPECT_FALSE(input().mouseDown);
    EXPECT_FALSE(input().mousePressed);
    press();
    EXPECT_TRUE(input().mouseDown);
    EXPECT_TRUE(input().mousePressed);
    release();
    EXPECT_FALSE(input().mouseDown);
    EXPECT_TRUE(input().mouseReleased);
}

// ---- field filters and limits ----

TEST_F(WidgetTest, TypedTextIsFilteredAndCutPerField) {
    struct Case {
        TextField& (*field)();
        bool accountService;
        std::string typed, kept;
    };
    const Case cases[] = {
        {usernameField, false, "abcdefghijklmnopq", "abcdefghijklmnop"}, // sixteen at most
        {usernameField, false, "ali@x.com a-b+c_D9", "alixcomabc_D9"},   // no mail signs
        {usernameField, true, "ali.veli+oyun@ornek-posta.com", "ali.veli+oyun@ornek-posta.com"},
        {usernameField, true, std::string(70, 'x') + " ş", std::string(64, 'x')}, // sixty-four at most
        {codeField, false, "12a3b4 5-6789", "123456"},                           // six digits only
        {serverAddressField, false, "oyun-1.ornek.net:7777", "oyun-1.ornek.net:7777"},
        {serverAddressField, false, "http://a b/c_d", "http:abcd"}, // no blank or slash
    };
    for (const Case& c : cases) {
        setAccountServiceMode(c.accountService);
        c.field().text.clear();
        type(c.field(), c.typed);
        EXPECT_EQ(c.field().text, c.kept) << c.typed << (c.accountService ? " with" : " without")
                                          << " the account service";
    }
    setAccountServiceMode(true);
    EXPECT_EQ(usernameField().placeholder, "Kullanıcı adı veya e-posta");
    setAccountServiceMode(false);
    EXPECT_EQ(usernameField().placeholder, "Kullanıcı adı");
    EXPECT_EQ(usernameField().maxChars, 16u);
}

TEST_F(WidgetTest, PasswordTakesAnyPrintableLetterAndCountsCodePoints) {
    focusedField() = &passwordField();
    for (uint32_t c : {0x15Fu, 0x20ACu, 31u, 127u, 32u, 0x1F600u, uint32_t('x')})
        onChar(nullptr, c);
    // ş and € accepted, control characters refused, the emoji is accepted but cannot be
    // stored (four bytes), the blank and x taken.
    EXPECT_EQ(passwordField().text, "ş€ x");
    EXPECT_EQ(codePointCount(passwordField().text), 4u);
    passwordField().text.clear();
    for (int i = 0; i < 70; ++i)
        onChar(nullptr, 0x15F);
    EXPECT_EQ(codePointCount(passwordField().text), 64u);
    EXPECT_EQ(passwordField().text.size(), 128u);
}

TEST_F(WidgetTest, TypingRestartsTheCaretOnlyWhenAccepted) {
    focusedField() = &codeField();
    caretStart() = -5;
    onChar(nullptr, 'a');
    EXPECT_EQ(caretStart(), -5);
    onChar(nullptr, '1');
    EXPECT_GT(caretStart(), 0);
}

TEST_F(WidgetTest, CharactersGoNowhereWithoutFocusMessageOrWhileTheGameRuns) {
    installHooks();
    onChar(nullptr, 'a'); // no focus: nothing to crash on
    focusedField() = &usernameField();
    message = true;
    onChar(nullptr, 'a');
    message = false;
    ui().gameState = Running;
    onChar(nullptr, 'b');
    ui().gameState = NotRunning;
    onChar(nullptr, 'c');
    EXPECT_EQ(usernameField().text, "c");
}

// ---- editing ----

TEST(AppendCodePoint, EncodesOneToThreeBytesAndDropsTheRest) {
    TextField f;
    for (uint32_t c : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x1F600u})
        appendCodePoint(f, c);
    EXPECT_EQ(f.text, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(codePointCount(f.text), 5u);
    EXPECT_EQ(codePointCount(""), 0u);
    EXPECT_EQ(codePointCount("\x80\x80"), 0u); // continuation bytes only
}

TEST_F(WidgetTest, BackspaceRemovesWholeLetters) {
    focusedField() = &passwordField();
    onChar(nullptr, 'a');
    onChar(nullptr, 0x15F);  // ş, two bytes
    onChar(nullptr, 0x2026); // …, three bytes
    ASSERT_EQ(passwordField().text.size(), 6u);
    ui().activeModal = 1;
    key(GLFW_KEY_BACKSPACE);
    EXPECT_EQ(passwordField().text, "aş");
    key(GLFW_KEY_BACKSPACE);
    EXPECT_EQ(passwordField().text, "a");
    key(GLFW_KEY_BACKSPACE);
    EXPECT_EQ(passwordField().text, "");
    caretStart() = -1;
    onKey(nullptr, GLFW_KEY_BACKSPACE, 0, GLFW_REPEAT, 0); // repeats act too; empty stays empty
    EXPECT_EQ(passwordField().text, "");
    EXPECT_GT(caretStart(), 0);
}

TEST_F(WidgetTest, BackspaceOverMalformedTextStopsAtTheStart) {
    TextField f;
    f.text = "\x80\x80\x80";
    backspace(f);
    EXPECT_EQ(f.text, "");
}

TEST(WipeText, ZeroesTheBytesThenEmpties) {
    std::string secret = "gizli-sifre-123";
    const char* data = secret.data();
    const size_t n = secret.size();
    wipeText(secret);
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(secret.data(), data); // same buffer, so the check below reads the old bytes
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(data[i], 0) << i;
}

// ---- key routing ----

TEST_F(WidgetTest, MessageDialogTakesKeysFirstAndOnlyItsOwn) {
    installHooks();
    ui().activeModal = 1;
    focusedField() = &usernameField();
    usernameField().text = "ali";
    message = true;
    key(GLFW_KEY_BACKSPACE);
    key(GLFW_KEY_TAB);
    clipboard = "veli";
    key(GLFW_KEY_V, GLFW_MOD_CONTROL);
    EXPECT_EQ(usernameField().text, "ali");
    EXPECT_EQ(focusedField(), &usernameField());
    key(GLFW_KEY_ESCAPE); // closes only the message
    EXPECT_FALSE(message);
    EXPECT_EQ(calls.hide, 1);
    EXPECT_EQ(ui().activeModal, 1);
    EXPECT_EQ(calls.closeLogin, 0);
    key(GLFW_KEY_ESCAPE); // now the login dialog
    EXPECT_EQ(ui().activeModal, 0);
    EXPECT_EQ(focusedField(), nullptr);
    EXPECT_EQ(calls.closeLogin, 1);
}

TEST_F(WidgetTest, EnterOverAMessageClosesItWithoutSubmitting) {
    installHooks();
    ui().activeModal = 1;
    message = true;
    key(GLFW_KEY_KP_ENTER);
    EXPECT_FALSE(message);
    EXPECT_EQ(calls.submit, 0);
    key(GLFW_KEY_ENTER);
    EXPECT_EQ(calls.submit, 1);
    ui().activeModal = 2;
    key(GLFW_KEY_ENTER);
    EXPECT_EQ(calls.save, 1);
    EXPECT_EQ(calls.submit, 1);
}

TEST_F(WidgetTest, EnterOnTheBareScreenOpensLoginWithFocusByRememberedName) {
    installHooks(); // openLoginDialog left null: the standard opening
    usernameField().text = "oyuncu";
    key(GLFW_KEY_ENTER);
    EXPECT_EQ(ui().activeModal, 1);
    EXPECT_EQ(focusedField(), &passwordField());
    EXPECT_GT(caretStart(), 0);

    ui().activeModal = 0;
    focusedField() = nullptr;
    usernameField().text.clear();
    key(GLFW_KEY_KP_ENTER);
    EXPECT_EQ(ui().activeModal, 1);
    EXPECT_EQ(focusedField(), &usernameField());

    // An installed opener is used instead.
    ui().activeModal = 0;
    static int opened = 0;
    keyHooks().openLoginDialog = [] { ++opened; };
    key(GLFW_KEY_ENTER);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(ui().activeModal, 0);
}

TEST_F(WidgetTest, EscapeWithoutADialogAndOtherBareKeysDoNothing) {
    installHooks();
    key(GLFW_KEY_ESCAPE);
    key(GLFW_KEY_A);
    key(GLFW_KEY_BACKSPACE);
    EXPECT_EQ(ui().activeModal, 0);
    EXPECT_EQ(calls.closeLogin + calls.closeSettings + calls.hide, 0);
    ui().activeModal = 2;
    key(GLFW_KEY_ESCAPE);
    EXPECT_EQ(calls.closeSettings, 1);
    EXPECT_EQ(ui().activeModal, 0);
}

TEST_F(WidgetTest, ReleasesAndKeysWhileTheGameRunsAreIgnored) {
    installHooks();
    onKey(nullptr, GLFW_KEY_ENTER, 0, GLFW_RELEASE, 0);
    EXPECT_EQ(ui().activeModal, 0);
    ui().gameState = Running;
    key(GLFW_KEY_ENTER);
    message = true;
    key(GLFW_KEY_ESCAPE);
    EXPECT_TRUE(message);
    EXPECT_EQ(ui().activeModal, 0);
}

TEST_F(WidgetTest, TabCyclesLoginFieldsOnlyInTheLoginDialog) {
    installHooks();
    ui().activeModal = 1;
    focusedField() = &usernameField();
    key(GLFW_KEY_TAB);
    EXPECT_EQ(focusedField(), &passwordField());
    key(GLFW_KEY_TAB);
    EXPECT_EQ(focusedField(), &usernameField());
    totp = true;
    key(GLFW_KEY_TAB);
    EXPECT_EQ(focusedField(), &codeField());
    key(GLFW_KEY_TAB);
    EXPECT_EQ(focusedField(), &usernameField());
    totp = false;
    ui().activeModal = 2;
    focusedField() = &serverAddressField();
    key(GLFW_KEY_TAB);
    EXPECT_EQ(focusedField(), &serverAddressField());
}

TEST_F(WidgetTest, PasteIsFilteredAndCutLikeTyping) {
    installHooks();
    ui().activeModal = 1;
    focusedField() = &codeField();
    clipboard = "12 34 56 78";
    key(GLFW_KEY_V, GLFW_MOD_CONTROL);
    EXPECT_EQ(codeField().text, "123456");

    focusedField() = &usernameField();
    clipboard = "ali\tveli\r\nşen";
    key(GLFW_KEY_V, GLFW_MOD_CONTROL | GLFW_MOD_SHIFT);
    EXPECT_EQ(usernameField().text, "alivelien");

    clipboard = nullptr; // no text on the clipboard
    key(GLFW_KEY_V, GLFW_MOD_CONTROL);
    clipboard = "zz";
    key(GLFW_KEY_V); // plain V is not a paste
    EXPECT_EQ(usernameField().text, "alivelien");

    focusedField() = &passwordField();
    clipboard = "\xC5"; // a cut UTF-8 sequence decodes to a control code: dropped
    key(GLFW_KEY_V, GLFW_MOD_CONTROL);
    EXPECT_EQ(passwordField().text, "");
}
