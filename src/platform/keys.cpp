#include "platform/keys.h"
#include "platform/sdl_input.h"

#include <cstring>

uint8_t keyDown[kKeyCount];

namespace {
uint8_t keyPressed[kKeyCount];  // presses since the last frame
uint8_t onlyLatched[kKeyCount]; // set during a frame: released before it, read as 1 by it
} // namespace

namespace {

int virtualKeyFromKeycode(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return kVkF1 + (key - SDLK_F1);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return kVkNumpad0 + 1 + (key - SDLK_KP_1);
    switch (key) {
    case SDLK_BACKSPACE:
        return kVkBack;
    case SDLK_TAB:
        return kVkTab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return kVkReturn;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return kVkShift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return kVkControl;
    case SDLK_LALT:
    case SDLK_RALT:
        return kVkMenu;
    case SDLK_PAUSE:
        return kVkPause;
    case SDLK_CAPSLOCK:
        return kVkCapital;
    case SDLK_ESCAPE:
        return kVkEscape;
    case SDLK_SPACE:
        return kVkSpace;
    case SDLK_PAGEUP:
        return kVkPrior;
    case SDLK_PAGEDOWN:
        return kVkNext;
    case SDLK_END:
        return kVkEnd;
    case SDLK_HOME:
        return kVkHome;
    case SDLK_LEFT:
        return kVkLeft;
    case SDLK_UP:
        return kVkUp;
    case SDLK_RIGHT:
        return kVkRight;
    case SDLK_DOWN:
        return kVkDown;
    case SDLK_INSERT:
        return kVkInsert;
    case SDLK_DELETE:
        return kVkDelete;
    case SDLK_KP_0:
        return kVkNumpad0;
    case SDLK_KP_MULTIPLY:
        return kVkMultiply;
    case SDLK_KP_PLUS:
        return kVkAdd;
    case SDLK_KP_MINUS:
        return kVkSubtract;
    case SDLK_KP_PERIOD:
        return kVkDecimal;
    case SDLK_KP_DIVIDE:
        return kVkDivide;
    default:
        return 0;
    }
}

} // namespace

int virtualKeyFromSdl(SDL_Keycode key, SDL_Scancode scancode) {
    const int vk = virtualKeyFromKeycode(key);
    if (vk != 0) return vk;
    // Only character keys fall back: a key with no character on this layout keeps no code.
    if ((key & SDLK_SCANCODE_MASK) != 0) return 0;
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
        return 'A' + (scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
        return '1' + (scancode - SDL_SCANCODE_1);
    if (scancode == SDL_SCANCODE_0) return '0';
    return 0;
}

void clearKeyTable() {
    std::memset(keyDown, 0, sizeof keyDown);
    std::memset(keyPressed, 0, sizeof keyPressed);
    std::memset(onlyLatched, 0, sizeof onlyLatched);
}

void pressKey(int vk) {
    if (vk <= 0 || vk >= kKeyCount) return;
    keyDown[vk] = 1;
    keyPressed[vk] = 1;
}

void releaseKey(int vk) {
    if (vk <= 0 || vk >= kKeyCount) return;
    keyDown[vk] = 0;
}

void latchKeyPresses() {
    for (int vk = 0; vk < kKeyCount; ++vk) {
        onlyLatched[vk] = keyPressed[vk] && !keyDown[vk];
        if (onlyLatched[vk]) keyDown[vk] = 1;
    }
}

void releaseKeyPresses() {
    for (int vk = 0; vk < kKeyCount; ++vk) {
        if (onlyLatched[vk]) keyDown[vk] = 0;
        onlyLatched[vk] = 0;
        keyPressed[vk] = 0;
    }
}
