// The viewer's keys (cameras 1 to 9, next/previous camera X/Y, slower/faster A/S, pause on
// Space; while paused Left/Right step one frame of 1/30 s; Home goes to the start of the time
// range), applied once per frame after drawing. Pure over a small record and the key table;
// selecting a camera goes through a callback so the scene stays the caller's.
#pragma once

#include <cstdint>

struct ViewerKeyState {
    int currentCamera = 0;
    int cameraCount = 0;
    float speedFactor = 1.0f; // 0.1 to 3.0
    bool paused = false;
    uint32_t frozenClockMs = 0;
    // Frame stepping and Home shift the scene time by this much; 0 until one of them is used.
    float offsetSeconds = 0.0f;
    // Set by the caller: the loop's start time and the scene's first time, for Home.
    uint32_t startMs = 0;
    float timeStartSeconds = 0.0f;
};

constexpr float kViewerStepSeconds = 1.0f / 30.0f;

using SelectCameraFn = void (*)(int camera, void* user);

// keys: 256 entries by virtual-key code; X, Y, Space, Left, Right and Home are cleared when
// they acted.
// clockMs: the live clock of this frame (becomes the frozen value when pausing).
void applyViewerKeys(ViewerKeyState& state, uint8_t* keys, uint32_t clockMs,
                     SelectCameraFn selectCamera, void* user);

// The clock value a frame uses: the frozen one while paused.
inline uint32_t viewerClock(const ViewerKeyState& state, uint32_t liveClockMs) {
    return state.paused ? state.frozenClockMs : liveClockMs;
}

// Scene seconds for a clock value: elapsed milliseconds (wrapping) times the speed, / 1000,
// plus the offset of stepping.
float viewerSceneSeconds(const ViewerKeyState& state, uint32_t clockMs, uint32_t startMs);
