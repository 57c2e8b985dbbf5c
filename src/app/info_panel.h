// What the F1 overlay shows: the keys of the current mode, frames per second, the music
// position (demo) or scene time, camera, speed and pause (viewer), objects drawn and hidden
// by the hidetrack, and the profiling counters of the last second. The drawing itself is the
// platform's info overlay; the counters are only read here, never reset.
#pragma once

struct MainLoop;

// Called for every frame while the overlay is shown: counts the frame and, once a second,
// takes the counters' figures for that second.
void noteInfoFrame(double nowSeconds);
// Draws the overlay over the finished frame of the loop's mode.
void drawInfoPanel(const MainLoop& loop, int width, int height);
