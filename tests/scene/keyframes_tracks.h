// Builds in-memory tracks for the animation tests, laid out as the loader leaves them: data
// blocks of the key's bytes, allocated at least kKeyDataMinBytes long and zero past the end.
#pragma once

#include "scene/track.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

struct TestKey {
    float time;
    KeyKind kind;
    std::vector<float> floats;       // the data block, as floats; empty = no block (size 1)
    std::vector<uint8_t> bytes = {}; // or the data block as bytes, when not empty
};

inline Track* makeTestTrack(const std::vector<TestKey>& keys, TrackType type = TrackType::Object) {
    Track* track = new Track;
    track->type = type;
    track->keyCount = int32_t(keys.size());
    track->keys = keys.empty() ? nullptr : new TrackKey[keys.size()];
    for (size_t i = 0; i < keys.size(); ++i) {
        TrackKey& key = track->keys[i];
        key.time = keys[i].time;
        key.kind = keys[i].kind;
        const bool raw = !keys[i].bytes.empty();
        const int32_t bytes =
            raw ? int32_t(keys[i].bytes.size()) : int32_t(keys[i].floats.size() * sizeof(float));
        key.size = bytes + 1;
        key.dataBytes = bytes;
        if (bytes > 0) {
            key.data = static_cast<uint8_t*>(
                std::calloc(size_t(std::max(bytes, kKeyDataMinBytes)), 1)); // destroyTrack frees
            std::memcpy(key.data,
                        raw ? static_cast<const void*>(keys[i].bytes.data())
                            : static_cast<const void*>(keys[i].floats.data()),
                        size_t(bytes));
        }
    }
    return track;
}

inline void freeTestTrack(Track* track) {
    destroyTrack(track);
}

// n floats base, base + 1, ... : distinct values per key make blends easy to predict.
inline std::vector<float> ramp(int n, float base) {
    std::vector<float> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = base + float(i);
    return v;
}
