// widgets_test.cpp - the input queue, the hot-area rule, and text fields: their filters and
// limits, editing and paste. What each key does on a screen: app/frame_test.cpp.
#include "gfx/widgets.h"
#include "platform/text.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <string>

namespace {

constexpr InputLayer kMain = InputLayer::MainScreen;

class WidgetTest : public ::testing::Test {
  protected:
    // A frame as the loop runs it: the queued input taken, widgets, then the end-of-frame
    // reset.
    template <typename Fn> void frame(float mx, float my, Fn&& widgets) {
        ui_.input.mouseX = mx;
        ui_.input.mouseY = my;
        beginFrameInput(ui_);
        beginLayer(ui_, kMain);
        widgets();
        endFrameInput(ui_);
    }
    Ui ui_;
};

} // namespace

// ---- the input queue ----

TEST_F(WidgetTest, MouseButtonsSetTheFrameFlagsAndSplitTheKeysAroundTheClick) {
    queueChar(ui_, 'a');
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS); // only the left button counts
    queueKey(ui_, GLFW_KEY_TAB, GLFW_PRESS, 0);
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    queueChar(ui_, 'b');
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    queueChar(ui_, 'c');
    beginFrameInput(ui_);
    EXPECT_TRUE(ui_.input.mousePressed);
    EXPECT_TRUE(ui_.input.mouseReleased);
    EXPECT_FALSE(ui_.input.mouseDown);
    ASSERT_EQ(ui_.events.size(), 4u); // keys and characters only, in order
    EXPECT_EQ(ui_.keysBeforeClick, 2u);
    EXPECT_EQ(ui_.events[0].codepoint, 'a');
    EXPECT_EQ(ui_.events[1].key, GLFW_KEY_TAB);
    EXPECT_EQ(ui_.events[3].codepoint, 'c');
    endFrameInput(ui_);
    EXPECT_TRUE(ui_.events.empty());
    EXPECT_FALSE(ui_.input.mousePressed || ui_.input.mouseReleased);

    // No click: every key came before it. A frame that draws nothing drops keys, not clicks.
    queueChar(ui_, 'd');
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    queueKey(ui_, GLFW_KEY_A, GLFW_PRESS, 0);
    dropKeys(ui_);
    ASSERT_EQ(ui_.events.size(), 1u);
    beginFrameInput(ui_);
    EXPECT_TRUE(ui_.input.mouseDown);
    EXPECT_EQ(ui_.keysBeforeClick, 0u);
    queueChar(ui_, 'e');
    endFrameInput(ui_);
    queueChar(ui_, 'e');
    beginFrameInput(ui_);
    EXPECT_EQ(ui_.keysBeforeClick, 1u);
}

// ---- hot areas ----

TEST_F(WidgetTest, ClickNeedsPressAndReleaseOnTheSameWidget) {
    HotResult r;
    const Rect box = {10, 10, 20, 20};
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    frame(15, 15, [&] { r = hotArea(ui_, "a", box); });
    EXPECT_TRUE(r.hovered && r.held && !r.clicked);
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    frame(15, 15, [&] { r = hotArea(ui_, "a", box); });
    EXPECT_TRUE(r.clicked);
    EXPECT_EQ(ui_.input.activeId, nullptr); // cleared at the end of the release frame
    frame(15, 15, [&] { r = hotArea(ui_, "a", box); });
    EXPECT_FALSE(r.clicked) << "one click, not one per frame";

    // Press and release within one frame also click; ids compare by their text, not address.
    std::string first = "kapat", second = "kapat";
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    frame(15, 15, [&] { r = hotArea(ui_, first.c_str(), box); });
    EXPECT_TRUE(r.clicked);
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    frame(15, 15, [&] { hotArea(ui_, first.c_str(), box); });
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    frame(15, 15, [&] { r = hotArea(ui_, second.c_str(), box); });
    EXPECT_TRUE(r.clicked);
}

TEST_F(WidgetTest, PressOnOneReleaseOnAnotherClicksNeither) {
    HotResult a, b;
    auto both = [&] {
        a = hotArea(ui_, "a", {0, 0, 50, 50});
        b = hotArea(ui_, "b", {100, 0, 50, 50});
    };
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    frame(10, 10, both);
    frame(120, 10, both);
    EXPECT_FALSE(a.held) << "moved off: not drawn pressed";
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    frame(120, 10, both);
    EXPECT_FALSE(a.clicked || b.clicked);
    frame(10, 10, both); // moving back after the release does not revive the old press
    EXPECT_FALSE(a.clicked);
}

TEST_F(WidgetTest, EdgesAreHalfOpenAndLowerLayersAreInert) {
    HotResult r;
    for (auto [x, y, inside] : {std::tuple{10.f, 10.f, true}, {15.f, 12.f, false}, {12.f, 15.f, false}}) {
        frame(x, y, [&] { r = hotArea(ui_, "a", {10, 10, 5, 5}); });
        EXPECT_EQ(r.hovered, inside) << x << "," << y;
    }
    ui_.frame.inputLayer = InputLayer::Message; // a message over everything
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    frame(5, 5, [&] { r = hotArea(ui_, "start", {0, 0, 10, 10}); });
    EXPECT_FALSE(r.hovered);
    EXPECT_FALSE(ui_.input.wantHandCursor);
    EXPECT_EQ(ui_.input.activeId, nullptr) << "an unclaimed press is left for window dragging";
    queueMouseButton(ui_, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    frame(5, 5, [&] {
        beginLayer(ui_, InputLayer::Message);
        r = hotArea(ui_, "tamam", {0, 0, 10, 10});
    });
    EXPECT_TRUE(r.hovered);
    EXPECT_TRUE(ui_.input.wantHandCursor);
    EXPECT_FALSE(r.clicked) << "the press happened when the widget was not there to take it";
}

// ---- field filters and limits ----

TEST(TextFields, TypedAndPastedTextIsFilteredAndCutByKind) {
    struct Case {
        FieldKind kind;
        unsigned max;
        std::string text, kept;
    };
    const Case cases[] = {
        {FieldKind::Username, 16, "abcdefghijklmnopq", "abcdefghijklmnop"},
        {FieldKind::Username, 16, "ali@x.com a-b+c_D9", "alixcomabc_D9"}, // no mail signs
        {FieldKind::Username, 16,
         "ali\tveli\r\n\xC5\x9F"
         "en",
         "alivelien"},
        {FieldKind::AccountName, 64, "ali.veli+oyun@ornek-posta.com", "ali.veli+oyun@ornek-posta.com"},
        {FieldKind::AccountName, 64, std::string(70, 'x') + " ş", std::string(64, 'x')},
        {FieldKind::Digits, 6, "12a3b4 5-6789", "123456"},
        {FieldKind::ServerAddress, 64, "oyun-1.ornek.net:7777", "oyun-1.ornek.net:7777"},
        {FieldKind::ServerAddress, 64, "http://a b/c_d", "http:abcd"}, // no blank or slash
    };
    for (const Case& c : cases) {
        TextField typed = makeTextField(c.kind, c.max, ""), pasted = typed;
        for (char ch : c.text)
            typeCodePoint(typed, static_cast<unsigned char>(ch));
        pasteText(pasted, c.text.c_str());
        EXPECT_EQ(typed.text, c.kept) << c.text;
        EXPECT_EQ(pasted.text, c.kept) << c.text;
    }
    TextField f = makeTextField(FieldKind::FreeText, 64, "");
    pasteText(f, "\xC5"); // a cut UTF-8 sequence decodes to a control code
    EXPECT_EQ(f.text, "");
}

TEST(TextFields, FreeTextTakesAnyPrintableLetterUpToThreeBytesAndCountsCodePoints) {
    TextField f = makeTextField(FieldKind::FreeText, 64, "Şifre", true);
    for (uint32_t c : {0x15Fu, 0x20ACu, 31u, 127u, 32u, 0x1F600u, 0x10000u, 0xFFFFu, 0x80u, uint32_t('x')})
        typeCodePoint(f, c);
    // ş, € and the last three-byte letter accepted, control characters refused, from U+10000
    // accepted but not stored (four bytes), the blank and x taken.
    EXPECT_EQ(f.text, "ş€ \xEF\xBF\xBF\xC2\x80x");
    EXPECT_EQ(platform::codePointCount(f.text), 6u);
    f.text.clear();
    for (int i = 0; i < 70; ++i)
        typeCodePoint(f, 0x15F);
    EXPECT_EQ(platform::codePointCount(f.text), 64u);
    EXPECT_EQ(f.text.size(), 128u);
    EXPECT_GE(f.text.capacity(), 64u * 3) << "room for the longest text, so the buffer never moves";
}

// ---- editing ----

TEST_F(WidgetTest, TheFocusedFieldTakesCharactersAndBackspaceTheCaretRestartsOnAChange) {
    TextField f = makeTextField(FieldKind::Digits, 6, "");
    const InputEvent letter{InputEvent::Kind::Char, 'a'}, digit{InputEvent::Kind::Char, '1'};
    const InputEvent back{InputEvent::Kind::Key, 0, GLFW_KEY_BACKSPACE, GLFW_REPEAT},
        backUp{InputEvent::Kind::Key, 0, GLFW_KEY_BACKSPACE, GLFW_RELEASE},
        tab{InputEvent::Kind::Key, 0, GLFW_KEY_TAB, GLFW_PRESS},
        paste{InputEvent::Kind::Key, 0, GLFW_KEY_V, GLFW_PRESS, GLFW_MOD_CONTROL};
    EXPECT_TRUE(editFocusedField(ui_, digit)) << "an editing event, even with nothing focused";
    focusField(ui_, &f);
    ui_.caretStart = -5;
    EXPECT_TRUE(editFocusedField(ui_, letter));
    EXPECT_EQ(ui_.caretStart, -5) << "refused: the caret goes on";
    EXPECT_TRUE(editFocusedField(ui_, digit));
    EXPECT_GT(ui_.caretStart, 0);
    EXPECT_EQ(f.text, "1");
    EXPECT_FALSE(editFocusedField(ui_, tab));
    EXPECT_FALSE(editFocusedField(ui_, backUp));
    EXPECT_TRUE(editFocusedField(ui_, paste)); // no window: no clipboard, nothing pasted
    EXPECT_EQ(f.text, "1");
    ui_.caretStart = -5;
    EXPECT_TRUE(editFocusedField(ui_, back));
    EXPECT_EQ(f.text, "");
    EXPECT_GT(ui_.caretStart, 0);
}

TEST(TextFields, BackspaceRemovesWholeLetters) {
    TextField f;
    f.text = "a\xC5\x9F\xE2\x80\xA6";                     // a, ş (two bytes), … (three bytes)
    for (const char* left : {"a\xC5\x9F", "a", "", ""}) { // empty stays empty
        backspace(f);
        EXPECT_EQ(f.text, left);
    }
    f.text = "\x80\x80\x80"; // malformed: stops at the start
    backspace(f);
    EXPECT_EQ(f.text, "");
}
