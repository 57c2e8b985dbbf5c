// Animation tracks as read from a scene file: a named list of timed keys whose data blocks
// stay raw bytes; what the bytes mean belongs to the consumers (objects, cameras, lights,
// materials). A Track owns its key list and every key's data block; destroyTrack frees them.
#pragma once

#include <cstdint>

// Scene time is float seconds; files store signed ticks at this rate.
constexpr float kTicksPerSecond = 4800.0f;

// Other values than these are valid in a file; they are stored unchanged.
enum class TrackType : int32_t { Object = 0, Camera = 1, Light = 2, Material = 4 };
enum class KeyKind : int32_t { Hold = 0, Transform = 1, Morph = 2, Mesh = 4 };

// Every key's data block is allocated at least this long, zero-filled past the bytes the file
// gave, so the fixed-offset heads (48-byte transform, 52-byte camera pose, 70-byte mesh head)
// can always be read in bounds. Variable parts (vertex and face blocks) are checked against
// that allocation (readMeshBlock, and the loader for every object track).
constexpr int32_t kKeyDataMinBytes = 72;

struct TrackKey {
    float time = -1.0f; // seconds
    int32_t size = 0;   // bytes after the time field in the file, kind byte included
    KeyKind kind = KeyKind::Hold;
    uint8_t* data = nullptr; // size - 1 bytes from the file; null when size <= 1
    int32_t dataBytes = 0;   // bytes of data that came from the file (size - 1, or 0)
};

struct Track {
    char name[64] = {}; // informational only
    int32_t keyCount = 0;
    TrackType type = TrackType::Object;
    TrackKey* keys = nullptr; // keyCount entries in file order; null when keyCount is 0
    // Tracks read by the loader keep all key data blocks in these chunks (one allocation for
    // many small keys). Null for tracks built by hand: their blocks are each malloc'd.
    struct KeyDataChunk* storage = nullptr;
};

// A block of key data in a track's storage; the bytes follow the header. Allocated with
// malloc by the loader, freed by destroyTrack.
struct KeyDataChunk {
    KeyDataChunk* next;
    int32_t used;
    int32_t capacity;
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

Track* createTrack();
// Frees the keys, their data blocks (storage, or each block when there is none) and the
// track; null is ignored.
void destroyTrack(Track* track);

// Little-endian reads from a key data block; the caller keeps offset + width within the
// allocation (dataBytes, or kKeyDataMinBytes when that is larger).
inline uint16_t readU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
float readF32(const uint8_t* p);
// Bytes a key's data block may be read at: what the file gave, padded to kKeyDataMinBytes;
// 0 when the key has no block.
int32_t keyDataAllocation(const TrackKey& key);
// Copies count floats from offset of the key's data; floats past the data read as 0, so a
// short or absent block yields zeros instead of an out-of-bounds read.
void readKeyFloats(const TrackKey& key, int offset, float* out, int count);
