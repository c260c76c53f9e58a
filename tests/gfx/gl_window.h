// gl_window.h - a hidden 800 x 610 GLFW window with a current GL context for tests that
// draw, and a Ui of their own for it. Every frame starts with the launcher's own set-up
// (beginDrawing): one unit per logical pixel, origin top left; expectFrame holds what was
// drawn against its reference picture.
#pragma once

#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/texture.h"
#include "gfx/ui.h"
#include "reference_frame.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

class GlWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        glfwSetErrorCallback(
            [](int code, const char* text) { std::fprintf(stderr, "GLFW %d: %s\n", code, text); });
        ASSERT_EQ(glfwInit(), GLFW_TRUE) << "the GL tests need a display (scripts/test runs them under Xvfb)";
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
        window_ = glfwCreateWindow(kLauncherWidth, kLauncherHeight, "test", nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        glfwMakeContextCurrent(window_);
        glfwGetFramebufferSize(window_, &fbWidth_, &fbHeight_);
        ui_.frame.contentScale = static_cast<float>(fbWidth_) / kLauncherWidth;
        ui_.window = window_;
        beginFrame();
    }
    void TearDown() override {
        clearFontCache(ui_.fonts);
        if (window_) glfwDestroyWindow(window_);
        glfwTerminate();
    }
    void beginFrame(ClearColor clear = kBackground) { beginDrawing(ui_.frame, fbWidth_, fbHeight_, clear); }

    // The frame drawn so far, saved as <build>/screenshots/<name>.png; its `area` is expected
    // to show tests/data/frames/<name>.png (reference_frame.h).
    void expectFrame(const std::string& name, frametest::Area area) {
        std::vector<uint8_t> px = readFramebuffer(fbWidth_, fbHeight_);
        for (size_t i = 3; i < px.size(); i += 4)
            px[i] = 255; // the window is opaque
        const auto dir = std::filesystem::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
        std::filesystem::create_directories(dir);
        ASSERT_TRUE(writePng((dir / (name + ".png")).string(), px.data(), fbWidth_, fbHeight_));
        EXPECT_TRUE(frametest::matchesReference(name, px, fbWidth_, area));
    }

    // Fonts are read relative to the working folder, as in the launcher.
    void useSourceFonts() {
        std::filesystem::current_path(MORLAKEN_SOURCE_DIR);
        ASSERT_TRUE(loadFontFaces(ui_.fonts));
    }

    GLFWwindow* window_ = nullptr;
    int fbWidth_ = 0, fbHeight_ = 0;
    Ui ui_;
};
