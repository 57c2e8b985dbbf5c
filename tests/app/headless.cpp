#include "app/headless.h"

#include <cmath>

bool useHeadlessVideo() {
    return startVideo(true);
}

void pushKey(SDL_Keycode key, SDL_Scancode scancode, bool down, Uint16 mod) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = key;
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
}

void pushMouseButton(float x, float y, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = static_cast<Sint32>(std::lround(x));
    e.button.y = static_cast<Sint32>(std::lround(y));
    SDL_PushEvent(&e);
}

void pushWindowEvent(void* window, Uint8 event, int data1, int data2) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = event;
    e.window.windowID = window ? SDL_GetWindowID(static_cast<SDL_Window*>(window)) : 0;
    e.window.data1 = data1;
    e.window.data2 = data2;
    SDL_PushEvent(&e);
}

void pushQuit() {
    SDL_Event e{};
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
}
