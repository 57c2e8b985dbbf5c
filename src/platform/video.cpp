#include "platform/video.h"

#include "diag/console.h"
#include "platform/keys.h"
#include "platform/sdl_input.h"
#include "platform/timeline_overlay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Shared-object pinning at exit (stopVideo) is for the ELF loader alone.
#ifndef _WIN32
#include <dlfcn.h>
#include <link.h>
#endif

namespace {
bool started = false;
bool headlessRun = false;

#ifdef _WIN32
// SDL's offscreen driver needs EGL, which Windows lacks: a headless run there keeps the one
// Windows driver and draws into hidden windows instead.
constexpr bool kOffscreenDriver = false;
#else
constexpr bool kOffscreenDriver = true;
#endif
} // namespace

bool startVideo(bool headless) {
    if (started) return true;
    // The driver is chosen inside SDL_Init, so the variable must be set before it.
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    const bool driverAsked = asked && asked[0] != '\0';
    if (!kOffscreenDriver) {
        // One driver, nothing to choose.
    } else if (headless) {
        SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
    } else if (!driverAsked) {
        // Only drivers that show something; without a Wayland session, probing Wayland
        // just prints the library's complaint.
        SDL_SetHint(SDL_HINT_VIDEODRIVER,
                    std::getenv("WAYLAND_DISPLAY") ? "wayland,x11,KMSDRM" : "x11,KMSDRM");
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr,
                     headless ? "quilm: cannot start headless video: %s\n"
                              : "quilm: no display available (%s); use --headless to run "
                                "without one\n",
                     SDL_GetError());
        return false;
    }
    // SDL may still fall back to its offscreen driver when no display answers; unless
    // that was asked for, a player nobody can see is no use.
    const char* chosen = SDL_GetCurrentVideoDriver();
    const bool invisible =
        chosen && (std::strcmp(chosen, "offscreen") == 0 || std::strcmp(chosen, "dummy") == 0);
    if (!headless && invisible && !driverAsked) {
        std::fprintf(stderr, "quilm: no display available; use --headless to run without one\n");
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    // Loaded once for the whole run: the dialog's window and the main window come and go,
    // and reloading the driver between them would only cost time.
    if (SDL_GL_LoadLibrary(nullptr) != 0) {
        std::fprintf(stderr, "quilm: no OpenGL library: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    started = true;
    headlessRun = headless;
    return true;
}

#ifndef _WIN32
namespace {

// Takes one more reference on a loaded shared object, so that nothing unloads it before exit.
int pinLoadedObject(dl_phdr_info* info, size_t, void*) {
    if (info->dlpi_name && info->dlpi_name[0] != '\0')
        dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD); // never closed, on purpose
    return 0;
}

} // namespace
#endif

void stopVideo() {
    if (started) {
        // The library load of startVideo is counted by SDL: unbalanced, it keeps SDL's driver
        // data (EGL's, for the offscreen driver) past SDL_Quit. The GL libraries and their
        // driver stay mapped until the process ends, as they would without the unload, so
        // leak reports can still name what they keep.
#ifndef _WIN32
        dl_iterate_phdr(pinLoadedObject, nullptr);
#endif
        SDL_GL_UnloadLibrary();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    started = false;
    // SDL's own state (hints, the event queue, what a failed start set up) goes too; safe to
    // call when nothing was started.
    SDL_Quit();
}

bool videoHeadless() {
    return headlessRun;
}

namespace {
SDL_Window* sdlWindow(const PlatformWindow& w) {
    return static_cast<SDL_Window*>(w.window);
}
} // namespace

bool createPlatformWindow(PlatformWindow& w, const PlatformWindowRequest& request) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    Uint32 flags = SDL_WINDOW_OPENGL;
    if (request.resizable) flags |= SDL_WINDOW_RESIZABLE;
    if (request.alwaysOnTop) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    const bool hidden = request.hidden || (headlessRun && !kOffscreenDriver);
    flags |= hidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
    SDL_Window* window =
        SDL_CreateWindow(request.title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                         request.width, request.height, flags);
    w.window = window;
    if (!window) {
        consolePrint("Could not create the window: %s\n", SDL_GetError());
        return false;
    }
    w.context = SDL_GL_CreateContext(window);
    if (!w.context) {
        consolePrint("Could not create the OpenGL context: %s\n", SDL_GetError());
        SDL_DestroyWindow(window);
        w.window = nullptr;
        return false;
    }
    // The swap interval stays the driver's default: the swap paces the frames, as it did.
    SDL_GL_MakeCurrent(window, w.context);
    return true;
}

void destroyPlatformWindow(PlatformWindow& w) {
    if (w.context) {
        SDL_GL_MakeCurrent(sdlWindow(w), nullptr);
        SDL_GL_DeleteContext(w.context);
    }
    if (w.window) SDL_DestroyWindow(sdlWindow(w));
    w.context = nullptr;
    w.window = nullptr;
}

bool enterFullscreenMode(PlatformWindow& w, int width, int height, int bitsPerPixel) {
    SDL_Window* window = sdlWindow(w);
    const int display = SDL_GetWindowDisplayIndex(window);
    if (display < 0) return false;
    // Only a mode the display lists is accepted, as a display-mode change would; SDL's own
    // "closest mode" would also take a driver's size-less placeholder mode.
    SDL_DisplayMode chosen{};
    bool found = false;
    const int modes = SDL_GetNumDisplayModes(display);
    for (int i = 0; i < modes; ++i) {
        SDL_DisplayMode mode{};
        if (SDL_GetDisplayMode(display, i, &mode) != 0) continue;
        if (mode.w != width || mode.h != height) continue;
        const int bits = static_cast<int>(SDL_BITSPERPIXEL(mode.format));
        const int chosenBits = static_cast<int>(SDL_BITSPERPIXEL(chosen.format));
        // 32 bits per pixel are 24 colour bits plus padding in SDL's terms.
        const int wanted = bitsPerPixel >= 32 ? 24 : bitsPerPixel;
        if (!found || (bits == wanted && chosenBits != wanted)) {
            chosen = mode;
            found = true;
        }
    }
    if (!found) return false;
    chosen.refresh_rate = 0; // left to the system
    if (SDL_SetWindowDisplayMode(window, &chosen) != 0) return false;
    return SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) == 0;
}

void leaveFullscreenMode(PlatformWindow& w) {
    if (w.window) SDL_SetWindowFullscreen(sdlWindow(w), 0);
}

void queryDisplaySizes(DisplaySizes& sizes) {
    sizes = DisplaySizes{};
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0) {
        sizes.desktopWidth = desktop.w;
        sizes.desktopHeight = desktop.h;
    }
    // One entry per size: the list repeats a size for every refresh rate and pixel format.
    const int modes = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < modes && sizes.modeCount < kMaxDisplaySizes; ++i) {
        SDL_DisplayMode mode{};
        if (SDL_GetDisplayMode(0, i, &mode) != 0 || mode.w <= 0 || mode.h <= 0) continue;
        bool known = false;
        for (int k = 0; k < sizes.modeCount && !known; ++k)
            known = sizes.modes[k][0] == mode.w && sizes.modes[k][1] == mode.h;
        if (known) continue;
        sizes.modes[sizes.modeCount][0] = mode.w;
        sizes.modes[sizes.modeCount][1] = mode.h;
        ++sizes.modeCount;
    }
}

void makePlatformWindowNormal(PlatformWindow& w) {
    SDL_SetWindowResizable(sdlWindow(w), SDL_TRUE);
    SDL_SetWindowPosition(sdlWindow(w), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
}

void showPlatformWindow(PlatformWindow& w) {
    SDL_ShowWindow(sdlWindow(w));
    SDL_RaiseWindow(sdlWindow(w));
}

void makePlatformContextCurrent(const PlatformWindow& w) {
    SDL_GL_MakeCurrent(sdlWindow(w), w.context);
}

void platformWindowSize(const PlatformWindow& w, int& width, int& height) {
    SDL_GL_GetDrawableSize(sdlWindow(w), &width, &height);
}

const char* platformError() {
    return SDL_GetError();
}

void* glProcAddress(const char* name) {
    return SDL_GL_GetProcAddress(name);
}

void flushPlatformEvents() {
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

void waitPlatformEvent(int timeoutMs) {
    SDL_WaitEventTimeout(nullptr, timeoutMs);
}

void showMouseCursor(bool visible) {
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void disableScreenSaver() {
    SDL_DisableScreenSaver();
}

void swapPlatformWindow(const PlatformWindow& w) {
    SDL_GL_SwapWindow(sdlWindow(w));
}

PixelFormatBits queryPixelFormatBits() {
    PixelFormatBits bits;
    int r = 0, g = 0, b = 0, a = 0;
    SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &r);
    SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &g);
    SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &b);
    SDL_GL_GetAttribute(SDL_GL_ALPHA_SIZE, &a);
    if (SDL_GL_GetAttribute(SDL_GL_BUFFER_SIZE, &bits.colour) != 0 || bits.colour <= 0)
        bits.colour = r + g + b + a;
    SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &bits.depth);
    SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &bits.stencil);
    return bits;
}

PlatformEvent translateSdlEvent(const SDL_Event& e) {
    PlatformEvent out;
    switch (e.type) {
    case SDL_QUIT:
        out.kind = PlatformEventKind::quit;
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const int vk = virtualKeyFromSdl(e.key.keysym.sym, e.key.keysym.scancode);
        const bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
        if (e.type == SDL_KEYDOWN && alt) {
            // A system key: it never reaches the key table, and Alt+F4 closes the window.
            if (vk == kVkF4) out.kind = PlatformEventKind::quit;
            break;
        }
        // Releases always clear, Alt or not, so a key let go while Alt is held never sticks.
        out.kind = e.type == SDL_KEYDOWN ? PlatformEventKind::keyDown : PlatformEventKind::keyUp;
        out.virtualKey = vk;
        break;
    }
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            out.kind = PlatformEventKind::quit;
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            out.kind = PlatformEventKind::resized;
            out.width = e.window.data1;
            out.height = e.window.data2;
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            out.kind = PlatformEventKind::resized;
            break;
        case SDL_WINDOWEVENT_RESTORED:
            if (SDL_Window* window = SDL_GetWindowFromID(e.window.windowID)) {
                out.kind = PlatformEventKind::resized;
                SDL_GetWindowSize(window, &out.width, &out.height);
            }
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return out;
}

namespace {

// The left button and the moves go to the timeline strip, in drawable pixels (window units
// differ from them on high-density displays); to the program they stay `other`.
void feedPointer(const SDL_Event& e) {
    TimelinePointer what = TimelinePointer::move;
    int x = 0, y = 0;
    if (e.type == SDL_MOUSEMOTION) {
        x = e.motion.x;
        y = e.motion.y;
    } else if ((e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) &&
               e.button.button == SDL_BUTTON_LEFT) {
        what = e.type == SDL_MOUSEBUTTONDOWN ? TimelinePointer::press : TimelinePointer::release;
        x = e.button.x;
        y = e.button.y;
    } else {
        return;
    }
    float scaleX = 1.0f, scaleY = 1.0f;
    if (SDL_Window* window = SDL_GetWindowFromID(e.type == SDL_MOUSEMOTION ? e.motion.windowID
                                                                           : e.button.windowID)) {
        int w = 0, h = 0, drawableW = 0, drawableH = 0;
        SDL_GetWindowSize(window, &w, &h);
        SDL_GL_GetDrawableSize(window, &drawableW, &drawableH);
        if (w > 0 && h > 0 && drawableW > 0 && drawableH > 0) {
            scaleX = float(drawableW) / float(w);
            scaleY = float(drawableH) / float(h);
        }
    }
    feedTimelinePointer(what, float(x) * scaleX, float(y) * scaleY);
}

} // namespace

bool pollPlatformEvent(PlatformEvent& event) {
    SDL_Event e;
    if (SDL_PollEvent(&e) == 0) return false;
    feedPointer(e);
    event = translateSdlEvent(e);
    return true;
}

void waitForPlatformEvent(int milliseconds) {
    SDL_WaitEventTimeout(nullptr, milliseconds);
}

int displayFrameMilliseconds() {
    SDL_DisplayMode mode;
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    const int display = window ? SDL_GetWindowDisplayIndex(window) : 0;
    if (SDL_GetCurrentDisplayMode(display < 0 ? 0 : display, &mode) != 0 || mode.refresh_rate <= 0)
        return 16;
    return 1000 / mode.refresh_rate > 0 ? 1000 / mode.refresh_rate : 1;
}
