// Keyframe track evaluation: which key is active at a timecode, which segment holds it, how far
// into the segment the timecode lies, and the copy-or-blend of a key's leading floats.
// Stateless and GL-free; reads the track only and never sorts it (keys stay in file order).
#pragma once

#include "scene/track.h"

// Which key kinds a consumer takes as its active key.
enum class KeyFilter {
    transformOnly, // camera pose
    anyButHold,    // light
    pose,          // object transform: Transform, Morph, Mesh
    vertices,      // object vertices: Morph, Mesh
    meshOnly,      // object topology
};

bool keyAccepted(KeyFilter filter, KeyKind kind);

// Last key in stored order whose time <= t and whose kind the filter accepts; -1 for none.
int findActiveKey(const Track& track, float t, KeyFilter filter);
// Last i with time[i] <= t < time[i + 1]; failing that the last key when its time <= t; else -1.
int findSegment(const Track& track, float t);
// (t - time[segment]) / (time[segment + 1] - time[segment]); the caller has a next key.
float blendFactor(const Track& track, int segment, float t);

// What a camera or light evaluation did with its value.
enum class PoseResult { missing, copied, blended };

// Camera and light rule: copy the active key when its time equals t, when the active key or the
// segment is the last key, or when the next key is a Hold; otherwise blend toward the next key.
// Writes count floats to out unless the result is missing (out is left alone then). Floats a
// short key block does not hold read as 0.
PoseResult evaluateKeyFloats(const Track& track, float t, KeyFilter filter, int count, float* out);

// out[i] = a[i] + (b[i] - a[i]) * f for count floats, single precision in that order.
inline void lerpFloats(const float* a, const float* b, float f, int count, float* out) {
    for (int i = 0; i < count; ++i)
        out[i] = a[i] + (b[i] - a[i]) * f;
}
