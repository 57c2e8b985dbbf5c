// The demo script: a fixed cue list laid over the music position (order * 256 + row). Each
// frame every cue whose window holds the position starts its timer on first sight and draws
// its shot (scene, camera, animation time from the cue's progress) and its overlay. Reads the
// data of demo_loading.h; keeps no state but the cue timers of music_time.h; allocates nothing.
#pragma once

#include "demo/demo_loading.h"
#include "demo/overlays.h"

#include <cstdint>

enum class CueOverlay : uint8_t {
    None,
    FadeInFromBlack,  // alpha 1 - 3t, only while above 0
    FadeOutToWhite,   // alpha 3t - 2
    FadeOutToBlack,   // alpha 3t - 2
    FinalFadeToBlack, // alpha t
    LogoPulse,        // the cue's logo in its box, alpha sin(pi t)
    LogoOrbit,        // logos 4, 3 and 2 circling the centre on the demo clock
};

constexpr int kNoDemoScene = -1;

struct Cue {
    int32_t timer;       // index into the cue timers
    int32_t first, last; // window in cue positions, both inclusive
    int32_t rows;        // nominal length in rows
    int32_t scene;       // DemoScene, or kNoDemoScene for an overlay alone
    int32_t camera;
    float factor; // share of the scene's duration played over the nominal length
    CueOverlay overlay;
    int32_t logo; // DemoLogo for a pulse
    LogoBox box;
};

constexpr int kCueCount = 52;
extern const Cue kCues[kCueCount];

// The demo is over from order 32, row 63 up to order 99, row 99.
constexpr int32_t kDemoEndFirst = 32 * 256 + 63;
constexpr int32_t kDemoEndLast = 99 * 256 + 99;

// Nominal duration in milliseconds: rows * 3500 / 29 (one row of speed 7 at tempo 145).
float cueDurationMs(int32_t rows);
// Progress of a started cue: 0 at its first frame, about 1 at its nominal end, not clamped.
float cueProgress(const Cue& cue, float timerStart, float demoSeconds);

// One demo frame into the back buffer (the caller presents it). Returns false once the demo
// is over: the position lies in the end range, or the music has played past its last order.
bool runDemoFrame();
