// The demo script: the manifest's cue sheet laid over the music position (order * 256 + row).
// Each frame every cue whose window holds the position starts its timer on first sight and
// draws its shot (scene, camera, animation time from the cue's progress) and its overlay. Reads
// the data of demo_loading.h; keeps no state but the cue timers of music_time.h; allocates
// nothing.
#pragma once

#include "demo/builtin_demo.h"
#include "demo/demo_loading.h"
#include "demo/overlays.h"

#include <cstdint>

// One demo frame into the back buffer (the caller presents it). Returns false once the demo
// is over: the position lies in the end range, or the music has played past its last order.
bool runDemoFrame();
