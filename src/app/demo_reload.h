// Hot reload of the playing demo: F5 reads the manifest again (or keeps the built-in demo) and
// loads what changed; --watch does the same by itself when a file changes, looking at most
// once a second. A manifest with errors is not taken: its lines go to standard error and the
// console, and the demo plays on as it was. The music never stops.
#pragma once

#include "demo/demo_loading.h"

#include <cstdint>

struct DemoWatch {
    char manifestPath[kDemoPathBytes + 16] = {}; // empty: the built-in demo
    FileStamp manifestStamp;
    uint32_t lastLookMs = 0;
    bool looked = false;
};

// Starts watching the demo that loadDemoData just loaded, from manifestPath (null: built in).
void watchDemo(DemoWatch& watch, const char* manifestPath);
// Reloads now. False when the manifest has errors or a changed file did not load; notice then
// gets a short line for the screen.
bool reloadPlayingDemo(DemoWatch& watch, char* notice, int noticeBytes);
// --watch: true once a second at most, when the manifest or a file the demo loaded changed.
bool demoChangedOnDisk(DemoWatch& watch, uint32_t nowMs);
