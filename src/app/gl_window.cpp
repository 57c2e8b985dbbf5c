#include "app/gl_window.h"

#include "diag/console.h"
#include "platform/keys.h"
#include "platform/options.h"

#include <GL/gl.h>

GLWindow glWindow;

void resizeGLScene(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, width, height);
    setupOptions.width = width;
    setupOptions.height = height;
}

bool createGLWindow(int width, int height, int bits, bool fullscreen) {
    glWindow = GLWindow{};
    glWindow.fullscreen = fullscreen;

    PlatformWindowRequest request;
    request.title = "Q3D Render";
    request.width = width;
    request.height = height;
    request.resizable = !fullscreen;
    // "Always In Front" only means something for a normal window.
    request.alwaysOnTop = !fullscreen && setupOptions.alwaysInFront;
    request.hidden = fullscreen; // shown once in its final mode
    if (!createPlatformWindow(glWindow.platform, request)) return false;

    if (fullscreen && !enterFullscreenMode(glWindow.platform, width, height, bits)) {
        // Refused: a normal centred window of the same client size instead.
        glWindow.fullscreen = false;
        makePlatformWindowNormal(glWindow.platform);
    }

    consolePrint("GL Init success. We got: \n");
    const PixelFormatBits got = queryPixelFormatBits();
    consolePrint("Bit depth: %i Z-Buffer depth: %i Stencil depth: %i \n", got.colour, got.depth,
                 got.stencil);

    showPlatformWindow(glWindow.platform);

    resizeGLScene(width, height);

    glClearDepth(0.0);
    glShadeModel(GL_SMOOTH);
    glDisable(GL_CULL_FACE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glDepthFunc(GL_GREATER);
    glDisable(GL_DITHER);

    if (fullscreen) {
        showMouseCursor(false);
        glWindow.cursorHidden = true;
    }
    disableScreenSaver();
    clearKeyTable();
    return true;
}

void handleWindowEvent(const PlatformEvent& event) {
    switch (event.kind) {
    case PlatformEventKind::resized:
        resizeGLScene(event.width, event.height);
        break;
    case PlatformEventKind::keyDown:
        pressKey(event.virtualKey);
        break;
    case PlatformEventKind::keyUp:
        releaseKey(event.virtualKey);
        break;
    case PlatformEventKind::quit:
    case PlatformEventKind::other:
        break;
    }
}

void presentGLWindow() {
    swapPlatformWindow(glWindow.platform);
}

void destroyGLWindow() {
    if (glWindow.fullscreen) {
        leaveFullscreenMode(glWindow.platform);
        showMouseCursor(true);
    }
    destroyPlatformWindow(glWindow.platform);
    glWindow.fullscreen = false;
}
