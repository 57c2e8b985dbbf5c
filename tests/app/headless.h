// Test helpers for the player's windows on SDL's offscreen driver: start video once per test
// process, and inject input the way the window system would deliver it.
#pragma once

#include "platform/video.h"

#include <SDL.h>

bool useHeadlessVideo();
void pushKey(SDL_Keycode key, SDL_Scancode scancode, bool down, Uint16 mod = KMOD_NONE);
void pushMouseButton(float x, float y, bool down);
// window: a PlatformWindow's handle.
void pushWindowEvent(void* window, Uint8 event, int data1 = 0, int data2 = 0);
void pushQuit();
