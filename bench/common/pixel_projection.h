// pixel_projection.h - the launcher's projection for the start-up bench and its bare
// reference windows: logical pixels, origin top left, y downwards.
#pragma once

#include <GL/gl.h>

inline void setPixelProjection() {
    glViewport(0, 0, 800, 610);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 800, 610, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}
