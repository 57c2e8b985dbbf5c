// The one OpenGL window "Q3D Render": creation in the chosen size (full screen with a
// display-mode change, or a centred normal window), the initial GL state, the window's event
// handling (size, keys, close) and the teardown. The window record is process-wide.
#pragma once

#include "platform/video.h"

struct GLWindow {
    PlatformWindow platform;
    bool fullscreen = false;   // cleared again when the display mode was refused
    bool cursorHidden = false; // follows the full-screen request, not its outcome
};

extern GLWindow glWindow;

// Returns false, with a console line, only when no window or context could be had.
bool createGLWindow(int width, int height, int bits, bool fullscreen);

// The window's share of an event: size changes and the key table. The close request is the
// main loop's to see, as a quit event.
void handleWindowEvent(const PlatformEvent& event);

// Viewport and both matrices for a client size; the size is stored in setupOptions.
void resizeGLScene(int width, int height);

void presentGLWindow();

// Display mode back (full screen only), context, window, in that order.
void destroyGLWindow();
