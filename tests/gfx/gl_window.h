// gl_window.h - a hidden 800 x 610 GLFW window with a current GL context for tests that
// draw, and a Ui of their own for it. Every frame starts with the launcher's own set-up
// (beginDrawing): one unit per logical pixel, origin top left; readPixel reads the back
// buffer in the same coordinates.
#pragma once

#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/ui.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

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

    struct Rgba {
        int r, g, b, a;
    };
    Rgba readPixel(int x, int y) {
        glFinish();
        unsigned char p[4] = {0, 0, 0, 0};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, fbHeight_ - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2], p[3]};
    }
    static uint32_t rgb(const Rgba& p) {
        return (uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | uint32_t(p.b);
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
