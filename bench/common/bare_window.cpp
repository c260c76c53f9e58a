// startup_bare_window - the reference windows of bench_startup_bench, a program of their
// own so that they load nothing but GLFW and OpenGL (the bench itself links what the
// launcher links).
//
//   startup_bare_window [--drawn] [FRAMES]
//
// Without --drawn: an 800 x 610 borderless window that only clears and swaps. With it,
// every frame also draws one quad of each kind the launcher's main screen is made of.
// At the first swap it prints "first-frame-ms T at S" on standard error, S being the
// steady clock in seconds, as the launcher does with MORLAKEN_REPORT_FIRST_FRAME=1.
#include "gfx/frame.h"
#include "platform/clock.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const double kStart = platform::now();

// The three kinds of draw the launcher's screens use, with the same GL state as
// gfx/texture.cpp and gfx/font.cpp: a straight-alpha colour quad, a premultiplied RGBA
// image with a full mip chain (trilinear, clamped), and a GL_ALPHA glyph atlas.
struct DrawnScene {
    GLuint image = 0, glyphs = 0;
};

DrawnScene makeScene() {
    DrawnScene scene;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &scene.image);
    glBindTexture(GL_TEXTURE_2D, scene.image);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, 0x812F); // GL_CLAMP_TO_EDGE
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, 0x812F);
    std::vector<unsigned char> pixels(800 * 610 * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i % 4 == 3 ? 255 : (i * 7) & 0xFF);
    int level = 0;
    for (int w = 800, h = 610;; w = std::max(1, w / 2), h = std::max(1, h / 2)) {
        glTexImage2D(GL_TEXTURE_2D, level++, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        if (w == 1 && h == 1) break;
    }
    glGenTextures(1, &scene.glyphs);
    glBindTexture(GL_TEXTURE_2D, scene.glyphs);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, 512, 512, 0, GL_ALPHA, GL_UNSIGNED_BYTE, pixels.data());
    return scene;
}

// Colour and texture coordinate inside the quad, as gfx/ sends them: one vertex layout.
void quad(float x, float y, float w, float h, const float (&color)[4]) {
    glBegin(GL_QUADS);
    glColor4fv(color);
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& c : corners) {
        glTexCoord2f(c[0], c[1]);
        glVertex2f(x + c[0] * w, y + c[1] * h);
    }
    glEnd();
}

void drawScene(const DrawnScene& scene) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, scene.image);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    quad(0, 0, 800, 610, {1, 1, 1, 1});
    glDisable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    quad(350, 48, 430, 271, {0.1f, 0.1f, 0.1f, 0.5f});
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, scene.glyphs);
    quad(20, 20, 300, 40, {1, 1, 1, 1});
}

// `drawn`: the scene above on every frame; otherwise clear and swap only.
int runBare(int frames, bool drawn) {
    if (!glfwInit()) return 1;
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* w = glfwCreateWindow(800, 610, "bare", nullptr, nullptr);
    if (!w) return 1;
    glfwMakeContextCurrent(w);
    glfwSwapInterval(1);
    const DrawnScene scene = drawn ? makeScene() : DrawnScene{};
    glfwShowWindow(w);
    for (int i = 0; i < frames; ++i) {
        glfwWaitEventsTimeout(1.0 / 60.0);
        beginDrawing(FrameContext{}, kLauncherWidth, kLauncherHeight);
        if (drawn) drawScene(scene);
        glfwSwapBuffers(w);
        if (i == 0) {
            const double t = platform::now();
            std::fprintf(stderr, "first-frame-ms %.3f at %.6f\n", (t - kStart) * 1000.0, t);
        }
    }
    glfwTerminate();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool drawn = false;
    int frames = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--drawn")
            drawn = true;
        else
            frames = std::max(1, std::atoi(argv[i]));
    }
    return runBare(frames, drawn);
}
