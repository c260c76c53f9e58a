// frame.cpp - the drawing set-up of a frame, and the clock.
#include "gfx/frame.h"

#include <GL/gl.h>

#include <chrono>

void beginDrawing(const FrameContext& frame, int framebufferWidth, int framebufferHeight, ClearColor clear) {
    glViewport(0, 0, framebufferWidth, framebufferHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, frame.windowWidth, frame.windowHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_SCISSOR_TEST);
    glClearColor(clear.r, clear.g, clear.b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
}

double now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}
