// A panel of text lines drawn over the finished frame with Dear ImGui's OpenGL 1 renderer:
// begin, add lines, end; and short notices. It takes no input and leaves every GL state it touches
// as it found it (attributes, client arrays, matrices, texture binding), so the next frame draws
// the same with or without it. Its UI context and font texture belong to the current GL context;
// give them back with releaseInfoOverlay before that context goes.
#pragma once

#include "diag/printf_check.h"

constexpr int kInfoOverlayLineBytes = 160;

// Starts a panel for a drawable of width x height pixels; seconds since the last panel (for
// the library's own timing). False (and nothing is drawn) when the UI cannot be set up.
bool beginInfoOverlay(int width, int height, float seconds);
// One line; printf-style, cut at kInfoOverlayLineBytes.
void infoOverlayLine(const char* format, ...) QUILM_PRINTF_CHECK(1, 2);
// A line in a colour of its own (red, green, blue from 0 to 1), for headings.
void infoOverlayHeading(const char* text);
// Draws the panel into the current framebuffer.
void endInfoOverlay();
// A one-line notice in a dark box at the bottom left, drawn into the current framebuffer on
// its own (not between begin and end), leaving GL state as the panel does. False when the
// UI cannot be set up or a panel is being built.
bool drawOverlayNotice(int width, int height, const char* text);
// Frees the UI contexts and their font textures; the GL context must still be current.
void releaseInfoOverlay();
