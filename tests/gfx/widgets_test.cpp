// The hot-area rule, text-field filters and limits, editing and paste. What keys do is
// tested with the screens (key_routing_test.cpp).
#include "gfx/widgets.h"
#include "platform/text.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <string>

namespace {

constexpr InputLayer kMain = InputLayer::MainScreen;

class WidgetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetWidgetStateForTests();
        frameContext() = FrameContext{};
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
        for (char c : ascii)
            typeCodePoint(f, static_cast<unsigned char>(c));
    }
};

} // namespace

// ---- hot areas ----

TEST_F(WidgetTest, ClickNeedsPressAndReleaseOnTheSameWidget) {
    HotResult r;
    press();
    frame(15, 15, [&] { r = hotAreaBehavior("a", kMain, 10, 10, 20, 20); });
    EXPECT_TRUE(r.hovered);
    EXPECT_TRUE(r.held);
    EXPECT_FALSE(r.clicked);
    release();
    frame(15, 15, [&] { r = hotAreaBehavior("a", kMain, 10, 10, 20, 20); });
    EXPECT_TRUE(r.clicked);
    EXPECT_EQ(input().activeId, nullptr); // cleared at the end of the release frame
    frame(15, 15, [&] { r = hotAreaBehavior("a", kMain, 10, 10, 20, 20); });
    EXPECT_FALSE(r.clicked) << "one click, not one per frame";

    // Press and release within one frame also click; ids compare by their text, not address.
    std::string first = "kapat", second = "kapat";
    press();
    release();
    frame(15, 15, [&] { r = hotAreaBehavior(first.c_str(), kMain, 10, 10, 20, 20); });
    EXPECT_TRUE(r.clicked);
    press();
    frame(15, 15, [&] { hotAreaBehavior(first.c_str(), kMain, 10, 10, 20, 20); });
    release();
    frame(15, 15, [&] { r = hotAreaBehavior(second.c_str(), kMain, 10, 10, 20, 20); });
    EXPECT_TRUE(r.clicked);
}

TEST_F(WidgetTest, PressOnOneReleaseOnAnotherClicksNeither) {
    bool a = false, b = false;
    auto both = [&] {
        a = hotArea("a", kMain, 0, 0, 50, 50);
        b = hotArea("b", kMain, 100, 0, 50, 50);
    };
    press();
    frame(10, 10, both);
    bool heldA = true;
    frame(120, 10, [&] {
        hotArea("a", kMain, 0, 0, 50, 50, nullptr, &heldA); // moved off: not drawn pressed
        b = hotArea("b", kMain, 100, 0, 50, 50);
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

TEST_F(WidgetTest, EdgesAreHalfOpen) {
    bool hovered = false;
    frame(10, 10, [&] { hotArea("a", kMain, 10, 10, 5, 5, &hovered); });
    EXPECT_TRUE(hovered);
    frame(15, 12, [&] { hotArea("a", kMain, 10, 10, 5, 5, &hovered); });
    EXPECT_FALSE(hovered);
    frame(12, 15, [&] { hotArea("a", kMain, 10, 10, 5, 5, &hovered); });
    EXPECT_FALSE(hovered);
}

TEST_F(WidgetTest, LowerLayersAreInertWhileADialogIsUp) {
    frameContext().inputLayer = InputLayer::Message; // a message over the login dialog
    bool hovered = true, clicked = true;
    press();
    frame(5, 5, [&] { clicked = hotArea("start", kMain, 0, 0, 10, 10, &hovered); });
    EXPECT_FALSE(hovered);
    EXPECT_FALSE(input().wantHandCursor);
    EXPECT_EQ(input().activeId, nullptr) << "an unclaimed press is left for window dragging";
    release();
    frame(5, 5, [&] { clicked = hotArea("tamam", InputLayer::Message, 0, 0, 10, 10, &hovered); });
    EXPECT_TRUE(hovered);
    EXPECT_TRUE(input().wantHandCursor);
    EXPECT_FALSE(clicked) << "the press happened when the widget was not there to take it";
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
    setAccountServiceMode(false); // its placeholder and limit are checked with the start-up settings
}

TEST_F(WidgetTest, PasswordTakesAnyPrintableLetterAndCountsCodePoints) {
    for (uint32_t c : {0x15Fu, 0x20ACu, 31u, 127u, 32u, 0x1F600u, uint32_t('x')})
        typeCodePoint(passwordField(), c);
    // ş and € accepted, control characters refused, the emoji is accepted but cannot be
    // stored (four bytes), the blank and x taken.
    EXPECT_EQ(passwordField().text, "ş€ x");
    EXPECT_EQ(platform::codePointCount(passwordField().text), 4u);
    passwordField().text.clear();
    for (int i = 0; i < 70; ++i)
        typeCodePoint(passwordField(), 0x15F);
    EXPECT_EQ(platform::codePointCount(passwordField().text), 64u);
    EXPECT_EQ(passwordField().text.size(), 128u);
}

TEST_F(WidgetTest, TypingRestartsTheCaretOnlyWhenAccepted) {
    caretStart() = -5;
    typeCodePoint(codeField(), 'a');
    EXPECT_EQ(caretStart(), -5);
    typeCodePoint(codeField(), '1');
    EXPECT_GT(caretStart(), 0);
}

// ---- editing ----

TEST(AppendCodePoint, EncodesOneToThreeBytesAndDropsTheRest) {
    TextField f;
    for (uint32_t c : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x1F600u})
        appendCodePoint(f, c);
    EXPECT_EQ(f.text, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(platform::codePointCount(f.text), 5u);
}

TEST_F(WidgetTest, BackspaceRemovesWholeLetters) {
    TextField& f = passwordField();
    f.text = "a\xC5\x9F\xE2\x80\xA6";                     // a, ş (two bytes), … (three bytes)
    for (const char* left : {"a\xC5\x9F", "a", "", ""}) { // empty stays empty
        caretStart() = -1;
        backspace(f);
        EXPECT_EQ(f.text, left);
        EXPECT_GT(caretStart(), 0);
    }
    f.text = "\x80\x80\x80"; // malformed: stops at the start
    backspace(f);
    EXPECT_EQ(f.text, "");
}

TEST_F(WidgetTest, PasteIsFilteredAndCutLikeTyping) {
    const struct {
        TextField& (*field)();
        const char* pasted;
        const char* kept;
    } cases[] = {
        {codeField, "12 34 56 78", "123456"},
        {usernameField,
         "ali\tveli\r\n\xC5\x9F"
         "en",
         "alivelien"},
        {passwordField, "\xC5", ""}, // a cut UTF-8 sequence decodes to a control code: dropped
    };
    for (const auto& c : cases) {
        c.field().text.clear();
        pasteText(c.field(), c.pasted);
        EXPECT_EQ(c.field().text, c.kept) << c.pasted;
    }
}
