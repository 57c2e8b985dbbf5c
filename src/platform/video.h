// The SDL2 side of the window: video start-up (with SDL's offscreen driver for headless
// runs), one window with a compatibility-profile GL context, display-mode change, cursor,
// screen saver, buffer swap, and event polling translated into the few events the program
// knows. No OpenGL state is touched here. The window record is owned by the caller.
#pragma once

#include <SDL.h>

// Starts SDL's video subsystem; headless selects the offscreen driver (no display needed).
// On failure writes one line naming the reason to standard error and returns false.
bool startVideo(bool headless);
void stopVideo();
bool videoHeadless();

struct PlatformWindow {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

struct PlatformWindowRequest {
    const char* title = "";
    int width = 640;
    int height = 480;
    bool resizable = true;
    bool alwaysOnTop = false;
    bool hidden = false;
};

// Creates a centred window whose client area is width x height, with a double-buffered GL
// compatibility context (8 bits per colour channel, no alpha, 24 depth, 8 stencil) made
// current. Returns false with one console line on failure; nothing is left behind then.
bool createPlatformWindow(PlatformWindow& window, const PlatformWindowRequest& request);
void destroyPlatformWindow(PlatformWindow& window);

// Switches the window to a full-screen display mode of exactly width x height; false (and the
// window left as it was) when the display offers no such mode or refuses the change.
bool enterFullscreenMode(PlatformWindow& window, int width, int height, int bitsPerPixel);
void leaveFullscreenMode(PlatformWindow& window);

void showMouseCursor(bool visible);
void disableScreenSaver();
void swapPlatformWindow(const PlatformWindow& window);

// What the pixel format really gave: colour buffer bits, depth bits, stencil bits.
struct PixelFormatBits {
    int colour = 0;
    int depth = 0;
    int stencil = 0;
};
PixelFormatBits queryPixelFormatBits();

enum class PlatformEventKind { other, quit, keyDown, keyUp, resized };

struct PlatformEvent {
    PlatformEventKind kind = PlatformEventKind::other;
    int virtualKey = 0; // keyDown, keyUp: Windows virtual-key code, 0 when the key has none
    int width = 0;      // resized: new client size in pixels (0 x 0 when minimised)
    int height = 0;
};

// Takes one event from the queue without waiting; false when the queue is empty. Keys pressed
// with Alt held are system keys and arrive as other, except Alt+F4, which closes like the
// close box does.
bool pollPlatformEvent(PlatformEvent& event);
// The translation alone, for tests.
PlatformEvent translateSdlEvent(const SDL_Event& event);
