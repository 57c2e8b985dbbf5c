// A hidden headless OpenGL context for tests that draw and read pixels back (SDL's offscreen
// driver on Mesa). Created once per test process on first use and kept until exit.
#pragma once

// Makes the shared test context current with a drawable of width x height (the window is
// resized when a test asks for another size). Returns false, with the reason on standard
// error, when no context can be had.
bool useTestGLContext(int width = 64, int height = 64);

// Reads one pixel of the back buffer as RGBA bytes; y counts from the bottom, as in GL.
void readTestPixel(int x, int y, unsigned char rgba[4]);

// A colour target of a fixed size (RGBA8, optionally with depth and stencil) as a framebuffer
// object, bound for drawing and reading: the shared window keeps whatever size it first had
// when several tests share one process, so reading the window back is not reliable.
struct TestFramebuffer {
    unsigned framebuffer = 0, colour = 0, depthStencil = 0;
    // False when the context lacks framebuffer objects or the target is incomplete.
    bool create(int width, int height, bool withDepthStencil);
    // Back to the window's buffers; safe to call when nothing was created.
    void destroy();
};

// The shared context drawing into a width x height framebuffer object with depth and stencil
// for the life of the record: the engine draws into whatever is bound, and the shared
// window's own buffers may keep another size (on some platforms a resize takes effect late).
struct ScopedTestTarget {
    TestFramebuffer target;
    bool ok = false;
    ScopedTestTarget(int width, int height) {
        ok = useTestGLContext(width, height) && target.create(width, height, true);
    }
    ~ScopedTestTarget() { target.destroy(); }
    ScopedTestTarget(const ScopedTestTarget&) = delete;
    ScopedTestTarget& operator=(const ScopedTestTarget&) = delete;
};
