#include "platform/keys.h"
#include "platform/sdl_input.h"
#include "platform/video.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyMapping, LettersDigitsAndNamedKeys) {
    EXPECT_EQ(virtualKeyFromSdl(SDLK_a, SDL_SCANCODE_A), 'A');
    EXPECT_EQ(virtualKeyFromSdl(SDLK_x, SDL_SCANCODE_X), 'X');
    EXPECT_EQ(virtualKeyFromSdl(SDLK_1, SDL_SCANCODE_1), '1');
    EXPECT_EQ(virtualKeyFromSdl(SDLK_9, SDL_SCANCODE_9), '9');
    EXPECT_EQ(virtualKeyFromSdl(SDLK_0, SDL_SCANCODE_0), '0');
    EXPECT_EQ(virtualKeyFromSdl(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE), kVkEscape);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_SPACE, SDL_SCANCODE_SPACE), kVkSpace);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_RSHIFT, SDL_SCANCODE_RSHIFT), kVkShift);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_F4, SDL_SCANCODE_F4), kVkF4);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER), kVkReturn);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_KP_5, SDL_SCANCODE_KP_5), kVkNumpad0 + 5);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_LEFT, SDL_SCANCODE_LEFT), kVkLeft);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_VOLUMEUP, SDL_SCANCODE_VOLUMEUP), 0);
}

TEST(KeyMapping, FollowsTheLayoutNotThePosition) {
    // German layout: the key labelled Y sits where US has Z, and the other way round.
    EXPECT_EQ(virtualKeyFromSdl(SDLK_y, SDL_SCANCODE_Z), 'Y');
    EXPECT_EQ(virtualKeyFromSdl(SDLK_z, SDL_SCANCODE_Y), 'Z');
    // French layout: the digit row gives punctuation without Shift; Windows still calls it 1..9.
    EXPECT_EQ(virtualKeyFromSdl(SDLK_AMPERSAND, SDL_SCANCODE_1), '1');
    // A Cyrillic letter has no Latin code: the position decides.
    EXPECT_EQ(virtualKeyFromSdl(0x0444, SDL_SCANCODE_A), 'A');
    // Punctuation that exists on the layout stays without a code.
    EXPECT_EQ(virtualKeyFromSdl(SDLK_COMMA, SDL_SCANCODE_COMMA), 0);
}

SDL_Event keyEvent(Uint32 type, SDL_Keycode key, SDL_Scancode code, Uint16 mod) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.sym = key;
    e.key.keysym.scancode = code;
    e.key.keysym.mod = mod;
    return e;
}

TEST(KeyEvents, AltHeldKeysAreSystemKeysAndAltF4Closes) {
    PlatformEvent e = translateSdlEvent(keyEvent(SDL_KEYDOWN, SDLK_x, SDL_SCANCODE_X, KMOD_NONE));
    EXPECT_EQ(e.kind, PlatformEventKind::keyDown);
    EXPECT_EQ(e.virtualKey, 'X');
    e = translateSdlEvent(keyEvent(SDL_KEYDOWN, SDLK_x, SDL_SCANCODE_X, KMOD_LALT));
    EXPECT_EQ(e.kind, PlatformEventKind::other);
    e = translateSdlEvent(keyEvent(SDL_KEYDOWN, SDLK_1, SDL_SCANCODE_1, KMOD_RALT | KMOD_SHIFT));
    EXPECT_EQ(e.kind, PlatformEventKind::other);
    e = translateSdlEvent(keyEvent(SDL_KEYDOWN, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT));
    EXPECT_EQ(e.kind, PlatformEventKind::quit);
    // A key let go while Alt is held is still released.
    e = translateSdlEvent(keyEvent(SDL_KEYUP, SDLK_x, SDL_SCANCODE_X, KMOD_LALT));
    EXPECT_EQ(e.kind, PlatformEventKind::keyUp);
    EXPECT_EQ(e.virtualKey, 'X');
    // Shift and Control do not make system keys.
    e = translateSdlEvent(keyEvent(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_LSHIFT | KMOD_CTRL));
    EXPECT_EQ(e.kind, PlatformEventKind::keyDown);
}

TEST(WindowEvents, CloseQuitSizeAndMinimise) {
    SDL_Event e{};
    e.type = SDL_QUIT;
    EXPECT_EQ(translateSdlEvent(e).kind, PlatformEventKind::quit);
    e = SDL_Event{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    EXPECT_EQ(translateSdlEvent(e).kind, PlatformEventKind::quit);
    e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    e.window.data1 = 800;
    e.window.data2 = 600;
    PlatformEvent p = translateSdlEvent(e);
    EXPECT_EQ(p.kind, PlatformEventKind::resized);
    EXPECT_EQ(p.width, 800);
    EXPECT_EQ(p.height, 600);
    e.window.event = SDL_WINDOWEVENT_MINIMIZED;
    p = translateSdlEvent(e);
    EXPECT_EQ(p.kind, PlatformEventKind::resized);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 0);
    e.window.event = SDL_WINDOWEVENT_MOVED;
    EXPECT_EQ(translateSdlEvent(e).kind, PlatformEventKind::other);
}

} // namespace
