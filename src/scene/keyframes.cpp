#include "scene/keyframes.h"

namespace {
constexpr int kMaxKeyFloats = 16;
}

bool keyAccepted(KeyFilter filter, KeyKind kind) {
    switch (filter) {
    case KeyFilter::transformOnly:
        return kind == KeyKind::Transform;
    case KeyFilter::anyButHold:
        return kind != KeyKind::Hold;
    case KeyFilter::pose:
        return kind == KeyKind::Transform || kind == KeyKind::Morph || kind == KeyKind::Mesh;
    case KeyFilter::vertices:
        return kind == KeyKind::Morph || kind == KeyKind::Mesh;
    case KeyFilter::meshOnly:
        return kind == KeyKind::Mesh;
    }
    return false;
}

int findActiveKey(const Track& track, float t, KeyFilter filter) {
    int active = -1;
    for (int i = 0; i < track.keyCount; ++i)
        if (track.keys[i].time <= t && keyAccepted(filter, track.keys[i].kind)) active = i;
    return active;
}

int findSegment(const Track& track, float t) {
    int segment = -1;
    for (int i = 1; i < track.keyCount; ++i)
        if (track.keys[i - 1].time <= t && track.keys[i].time > t) segment = i - 1;
    if (segment == -1 && track.keyCount > 0 && track.keys[track.keyCount - 1].time <= t)
        segment = track.keyCount - 1;
    return segment;
}

float blendFactor(const Track& track, int segment, float t) {
    const float start = track.keys[segment].time;
    return (t - start) / (track.keys[segment + 1].time - start);
}

PoseResult evaluateKeyFloats(const Track& track, float t, KeyFilter filter, int count, float* out) {
    if (count > kMaxKeyFloats) count = kMaxKeyFloats;
    const int active = findActiveKey(track, t, filter);
    const int segment = findSegment(track, t);
    if (active == -1 || segment == -1) return PoseResult::missing;
    const int last = track.keyCount - 1;
    const TrackKey& key = track.keys[active];
    if (key.time == t || active == last || segment == last ||
        track.keys[segment + 1].kind == KeyKind::Hold) {
        readKeyFloats(key, 0, out, count);
        return PoseResult::copied;
    }
    float a[kMaxKeyFloats];
    float b[kMaxKeyFloats];
    readKeyFloats(key, 0, a, count);
    readKeyFloats(track.keys[segment + 1], 0, b, count);
    lerpFloats(a, b, blendFactor(track, segment, t), count, out);
    return PoseResult::blended;
}
