#include "scene/track.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

Track* createTrack() {
    return new Track();
}

void destroyTrack(Track* track) {
    if (!track) return;
    if (track->storage) {
        for (KeyDataChunk* chunk = track->storage; chunk;) {
            KeyDataChunk* next = chunk->next;
            std::free(chunk);
            chunk = next;
        }
    } else {
        for (int32_t i = 0; i < track->keyCount; ++i)
            std::free(track->keys[i].data);
    }
    delete[] track->keys;
    delete track;
}

int32_t keyDataAllocation(const TrackKey& key) {
    return key.data ? std::max(key.dataBytes, kKeyDataMinBytes) : 0;
}

float readF32(const uint8_t* p) {
    const uint32_t bits = readU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void readKeyFloats(const TrackKey& key, int offset, float* out, int count) {
    const int32_t available = keyDataAllocation(key);
    for (int i = 0; i < count; ++i) {
        const int at = offset + 4 * i;
        out[i] = (at >= 0 && at + 4 <= available) ? readF32(key.data + at) : 0.0f;
    }
}
