// The frame loop's arithmetic: input layers, mouse scaling, the content-scale check and
// window dragging.
#include "app/frame_steps.h"

#include <gtest/gtest.h>

// ---- input layer ----

TEST(InputLayers, MessageOverModalOverMainScreen) {
    EXPECT_EQ(computeInputLayer(false, Modal::None), InputLayer::MainScreen);
    EXPECT_EQ(computeInputLayer(false, Modal::Login), InputLayer::Dialog);
    EXPECT_EQ(computeInputLayer(false, Modal::Settings), InputLayer::Dialog);
    EXPECT_EQ(computeInputLayer(true, Modal::None), InputLayer::Message);
    EXPECT_EQ(computeInputLayer(true, Modal::Login), InputLayer::Message);
}

// ---- mouse and content scale ----

TEST(MouseScaling, WindowCoordinatesBecomeLogicalPixels) {
    float x = 0, y = 0;
    scaleMouse(400.5, 305.25, 800, 610, 800, 610, x, y);
    EXPECT_FLOAT_EQ(x, 400.5f);
    EXPECT_FLOAT_EQ(y, 305.25f);
    scaleMouse(800, 610, 1600, 1220, 800, 610, x, y); // window reports twice the size
    EXPECT_FLOAT_EQ(x, 400.0f);
    EXPECT_FLOAT_EQ(y, 305.0f);
    scaleMouse(3, 4, 0, -5, 800, 610, x, y); // a minimised window: no division by zero
    EXPECT_FLOAT_EQ(x, 2400.0f);
    EXPECT_FLOAT_EQ(y, 2440.0f);
    scaleMouse(-10, 20, 800, 610, 1280, 640, x, y); // outside the window, closing screen size
    EXPECT_FLOAT_EQ(x, -16.0f);
    EXPECT_NEAR(y, 20.98f, 0.01f);
}

TEST(ContentScale, OnlyChangesBeyondTheToleranceCount) {
    float scale = 1.0f;
    EXPECT_FALSE(checkContentScale(scale, 800, 800));
    EXPECT_FALSE(checkContentScale(scale, 805, 800)); // 1.00625
    EXPECT_EQ(scale, 1.0f);
    EXPECT_TRUE(checkContentScale(scale, 809, 800)); // 1.01125
    EXPECT_FLOAT_EQ(scale, 1.01125f);
    EXPECT_TRUE(checkContentScale(scale, 1200, 800));
    EXPECT_FLOAT_EQ(scale, 1.5f);
    EXPECT_FALSE(checkContentScale(scale, 1200, 800)) << "the same scale rebuilds nothing";
    EXPECT_FALSE(checkContentScale(scale, 0, 800)) << "a minimised window keeps the atlases";
    EXPECT_FALSE(checkContentScale(scale, 1200, 0));
    EXPECT_FLOAT_EQ(scale, 1.5f);
}

// ---- window dragging ----

TEST(WindowDrag, FollowsTheCursorsScreenMovementTruncatingTowardZero) {
    DragState d;
    beginDrag(d, 100, 200, 10.7, 20.2);
    EXPECT_TRUE(d.dragging);
    EXPECT_DOUBLE_EQ(d.dragAnchorX, 110.7);
    EXPECT_DOUBLE_EQ(d.dragAnchorY, 220.2);

    int x = 0, y = 0;
    dragTarget(d, 100, 200, 15.2, 25.9, x, y); // moved +4.5, +5.7 on screen
    EXPECT_EQ(x, 104);
    EXPECT_EQ(y, 205);
    // The window moved; the cursor stayed put on the screen: the target stays too.
    dragTarget(d, 104, 205, 11.2, 20.9, x, y);
    EXPECT_EQ(x, 104);
    EXPECT_EQ(y, 205);
    // Leftward and upward: -5.7 truncates to -5, not -6.
    dragTarget(d, 100, 200, 5.0, 14.5, x, y);
    EXPECT_EQ(x, 95);
    EXPECT_EQ(y, 195);
    // No movement: no change.
    dragTarget(d, 100, 200, 10.7, 20.2, x, y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 200);
}
