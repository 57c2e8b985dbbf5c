// Test helpers for the player's windows on SDL's offscreen driver: start video once per test
// process, and inject input the way the window system would deliver it.
#pragma once

#include "platform/video.h"

bool useHeadlessVideo();
void pushKey(SDL_Keycode key, SDL_Scancode scancode, bool down, Uint16 mod = KMOD_NONE);
void pushMouseButton(float x, float y, bool down);
void pushWindowEvent(SDL_Window* window, Uint8 event, int data1 = 0, int data2 = 0);
void pushQuit();
