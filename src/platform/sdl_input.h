// The SDL side of input, private to src/platform (and its tests): the translation of SDL's
// events and key codes into the program's events and Windows virtual-key codes. Nothing
// above the platform includes this header; they see PlatformEvent and keyDown only.
#pragma once

#include "platform/video.h"

#include <SDL.h>

// The virtual-key code of a key, or 0 when it has none. The layout-aware key code decides
// (the key labelled Y is Y on every layout); keys whose code has no virtual key on a Latin
// layout (a Cyrillic letter, say) fall back to the key's position on a US keyboard.
int virtualKeyFromSdl(SDL_Keycode key, SDL_Scancode scancode);

// One SDL event as the program sees it.
PlatformEvent translateSdlEvent(const SDL_Event& event);
