// The SDL2 side of the window: video start-up (with SDL's offscreen driver for headless
// runs), one window with a compatibility-profile GL context, display-mode change, cursor,
// screen saver, buffer swap, and event polling translated into the few events the program
// knows. No OpenGL state is touched here. The window record is owned by the caller; its
// handles are opaque outside src/platform, so no SDL type leaks into the layers above.
#pragma once

// Starts SDL's video subsystem; headless selects the offscreen driver (no display needed).
// On failure writes one line naming the reason to standard error and returns false.
bool startVideo(bool headless);
// Ends video and everything else SDL holds (SDL_Quit); the player's one way out, also after a
// failed startVideo.
void stopVideo();
bool videoHeadless();

struct PlatformWindow {
    void* window = nullptr;  // the system's window, for the platform's own use
    void* context = nullptr; // its GL context
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

// What the first display can show: its desktop size and its distinct full-screen sizes (the
// first kMaxDisplaySizes of them). Zero sizes when video is not started or SDL knows none.
constexpr int kMaxDisplaySizes = 64;
struct DisplaySizes {
    int desktopWidth = 0;
    int desktopHeight = 0;
    int modeCount = 0;
    int modes[kMaxDisplaySizes][2] = {}; // width, height
};
void queryDisplaySizes(DisplaySizes& sizes);

// A refused full-screen window becomes a normal one: resizable, centred on its display.
void makePlatformWindowNormal(PlatformWindow& window);
// Shows the window and brings it to the front.
void showPlatformWindow(PlatformWindow& window);
// Makes the window's context current on this thread.
void makePlatformContextCurrent(const PlatformWindow& window);
// The drawable size in pixels.
void platformWindowSize(const PlatformWindow& window, int& width, int& height);

// The reason of the last failure of a platform call, for messages.
const char* platformError();

// The address of a GL entry point, or null; the one way the layers above fetch GL functions.
void* glProcAddress(const char* name);

// Drops every pending event (input meant for a window that has gone).
void flushPlatformEvents();
// Sleeps until an event arrives or timeoutMs passes.
void waitPlatformEvent(int timeoutMs);

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
// close box does. The left mouse button and mouse moves arrive as other; they go to the
// timeline overlay (platform/timeline_overlay.h), which takes them only while it is shown.
bool pollPlatformEvent(PlatformEvent& event);
// Waits until an event is queued (it stays there for pollPlatformEvent) or milliseconds pass.
void waitForPlatformEvent(int milliseconds);
// One frame of the window's display (1000 / its refresh rate), 16 when the rate is unknown.
int displayFrameMilliseconds();
