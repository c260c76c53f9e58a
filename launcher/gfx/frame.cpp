// frame.cpp - the drawing set-up of a frame.
#include "gfx/frame.h"

#include <GL/gl.h>

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
