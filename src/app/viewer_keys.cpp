#include "app/viewer_keys.h"

#include "diag/console.h"
#include "platform/keys.h"

namespace {

void select(ViewerKeyState& s, int camera, SelectCameraFn fn, void* user) {
    consolePrint("Setting camera: %i \n", camera);
    if (fn) fn(camera, user);
    s.currentCamera = camera;
}

} // namespace

void applyViewerKeys(ViewerKeyState& s, uint8_t* keys, uint32_t clockMs,
                     SelectCameraFn selectCamera, void* user) {
    for (int n = 1; n <= 9; ++n) {
        const int camera = n - 1;
        if (keys['0' + n] && camera < s.cameraCount && camera != s.currentCamera)
            select(s, camera, selectCamera, user);
    }
    if (keys['X'] && s.currentCamera < s.cameraCount - 1) {
        select(s, s.currentCamera + 1, selectCamera, user);
        keys['X'] = 0;
    }
    if (keys['Y'] && s.currentCamera > 0) {
        select(s, s.currentCamera - 1, selectCamera, user);
        keys['Y'] = 0;
    }
    if (keys['A']) {
        s.speedFactor -= 0.1f;
        if (s.speedFactor < 0.1f) s.speedFactor = 0.1f;
        consolePrint("Speed is now %i percent\n", static_cast<int>(s.speedFactor * 100.0f));
    }
    if (keys['S']) {
        s.speedFactor += 0.1f;
        if (s.speedFactor > 3.0f) s.speedFactor = 3.0f;
        consolePrint("Speed is now %i percent\n", static_cast<int>(s.speedFactor * 100.0f));
    }
    if (keys[kVkSpace]) {
        s.paused = !s.paused;
        if (s.paused) s.frozenClockMs = clockMs;
        keys[kVkSpace] = 0;
    }
    if (s.paused && keys[kVkRight]) {
        s.offsetSeconds += kViewerStepSeconds;
        keys[kVkRight] = 0;
    }
    if (s.paused && keys[kVkLeft]) {
        s.offsetSeconds -= kViewerStepSeconds;
        keys[kVkLeft] = 0;
    }
    if (keys[kVkHome]) {
        const uint32_t elapsed = viewerClock(s, clockMs) - s.startMs;
        s.offsetSeconds =
            s.timeStartSeconds - static_cast<float>(elapsed) * s.speedFactor / 1000.0f;
        keys[kVkHome] = 0;
    }
}

float viewerSceneSeconds(const ViewerKeyState& s, uint32_t clockMs, uint32_t startMs) {
    const uint32_t elapsed = clockMs - startMs;
    const float seconds = static_cast<float>(elapsed) * s.speedFactor / 1000.0f;
    // Without stepping the time is exactly what it always was.
    return s.offsetSeconds == 0.0f ? seconds : seconds + s.offsetSeconds;
}
