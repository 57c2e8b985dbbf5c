// Scene file loader: header, then tracks dispatched by type. Reads go through a block buffer
// (the layout is a long run of 2-, 4- and 9-byte fields) and every count, size and offset from
// the file is checked before it sizes an allocation or a read.
#include "scene/scene_file.h"

#include "diag/console.h"
#include "scene/envmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Byte source: a gzip stream, plain memory, or gzip data in memory ----

constexpr int kReadBlockBytes = 64 * 1024;

enum class SourceKind { stream, memory, inflateMemory };

struct ByteSource {
    SourceKind kind = SourceKind::stream;
    gzFile stream = nullptr;
    const uint8_t* memory = nullptr;
    size_t memorySize = 0;
    size_t memoryPos = 0;
    z_stream inflater{};
    bool inflaterReady = false;
    bool streamError = false; // decompression failed: not the same as a short file
    uint8_t* block = nullptr;
    int blockHave = 0;
    int blockPos = 0;
};

// Pulls up to length bytes straight from the underlying source. Returns the count delivered;
// fewer than asked means the end (or an error, flagged in streamError).
size_t pullRaw(ByteSource& src, uint8_t* out, size_t length) {
    size_t delivered = 0;
    switch (src.kind) {
    case SourceKind::stream:
        while (delivered < length) {
            const size_t chunk = std::min<size_t>(length - delivered, 1u << 30);
            const int got = gzread(src.stream, out + delivered, static_cast<unsigned>(chunk));
            if (got < 0) src.streamError = true;
            if (got <= 0) break;
            delivered += static_cast<size_t>(got);
        }
        break;
    case SourceKind::memory:
        delivered = std::min(length, src.memorySize - src.memoryPos);
        if (delivered > 0) std::memcpy(out, src.memory + src.memoryPos, delivered);
        src.memoryPos += delivered;
        break;
    case SourceKind::inflateMemory:
        while (delivered < length && src.inflaterReady) {
            const size_t chunk = std::min<size_t>(length - delivered, 1u << 30);
            src.inflater.next_out = out + delivered;
            src.inflater.avail_out = static_cast<uInt>(chunk);
            const int rc = inflate(&src.inflater, Z_NO_FLUSH);
            delivered += chunk - src.inflater.avail_out;
            if (rc == Z_STREAM_END) {
                // Concatenated gzip members continue the stream, as gzread does.
                if (src.inflater.avail_in == 0 || inflateReset(&src.inflater) != Z_OK) break;
            } else if (rc != Z_OK) {
                if (rc != Z_BUF_ERROR || src.inflater.avail_in != 0) src.streamError = true;
                break;
            }
        }
        break;
    }
    return delivered;
}

// Copies exactly length bytes or reports false (end of data or stream error).
bool readBytes(ByteSource& src, void* out, size_t length) {
    uint8_t* dst = static_cast<uint8_t*>(out);
    while (length > 0) {
        if (src.blockPos < src.blockHave) {
            const size_t take = std::min<size_t>(length, size_t(src.blockHave - src.blockPos));
            std::memcpy(dst, src.block + src.blockPos, take);
            src.blockPos += static_cast<int>(take);
            dst += take;
            length -= take;
            continue;
        }
        // Large blocks bypass the buffer; small fields refill it.
        if (length >= size_t(kReadBlockBytes)) {
            const size_t got = pullRaw(src, dst, length);
            return got == length;
        }
        src.blockHave = static_cast<int>(pullRaw(src, src.block, kReadBlockBytes));
        src.blockPos = 0;
        if (src.blockHave == 0) return false;
    }
    return true;
}

bool readInt32(ByteSource& src, int32_t& value) {
    uint8_t b[4];
    if (!readBytes(src, b, 4)) return false;
    value = static_cast<int32_t>(readU32(b));
    return true;
}

bool readUint16(ByteSource& src, int32_t& value) {
    uint8_t b[2];
    if (!readBytes(src, b, 2)) return false;
    value = readU16(b);
    return true;
}

bool readFloats(ByteSource& src, float* out, int count) {
    uint8_t b[4];
    for (int i = 0; i < count; ++i) {
        if (!readBytes(src, b, 4)) return false;
        out[i] = readF32(b);
    }
    return true;
}

constexpr int32_t kChunkBytes = 64 * 1024;
constexpr int32_t kSharedKeyBytes = 16 * 1024; // larger blocks get a chunk of their own

KeyDataChunk* allocateChunk(int32_t capacity) {
    auto* chunk = static_cast<KeyDataChunk*>(std::malloc(sizeof(KeyDataChunk) + size_t(capacity)));
    if (chunk) *chunk = {nullptr, 0, capacity};
    return chunk;
}

// Reads a key data block of dataBytes announced by the file into the track's storage, padded
// with zeros to kKeyDataMinBytes. A large block's allocation grows with the bytes that really
// arrive, so a huge size in a short file costs at most about twice the file.
uint8_t* readKeyData(ByteSource& src, Track& track, int32_t dataBytes) {
    const int32_t padded = std::max(dataBytes, kKeyDataMinBytes);
    if (padded <= kSharedKeyBytes) {
        KeyDataChunk* chunk = track.storage;
        if (!chunk || chunk->capacity - chunk->used < padded) {
            chunk = allocateChunk(kChunkBytes);
            if (!chunk) return nullptr;
            chunk->next = track.storage;
            track.storage = chunk;
        }
        uint8_t* data = chunk->bytes() + chunk->used;
        if (!readBytes(src, data, size_t(dataBytes))) return nullptr;
        std::memset(data + dataBytes, 0, size_t(padded - dataBytes));
        chunk->used += padded;
        return data;
    }
    KeyDataChunk* chunk = allocateChunk(std::min(dataBytes, kChunkBytes));
    while (chunk && chunk->used < dataBytes) {
        if (chunk->used == chunk->capacity) {
            const int32_t grown =
                int32_t(std::min<int64_t>(int64_t(chunk->capacity) * 2, dataBytes));
            auto* bigger = static_cast<KeyDataChunk*>(
                std::realloc(chunk, sizeof(KeyDataChunk) + size_t(grown)));
            if (!bigger) break;
            chunk = bigger;
            chunk->capacity = grown;
        }
        const int32_t want = chunk->capacity - chunk->used;
        if (!readBytes(src, chunk->bytes() + chunk->used, size_t(want))) break;
        chunk->used += want;
    }
    if (!chunk || chunk->used < dataBytes) {
        std::free(chunk);
        return nullptr;
    }
    // kept behind the shared chunk at the head, which may still take small keys
    if (track.storage) {
        chunk->next = track.storage->next;
        track.storage->next = chunk;
    } else {
        track.storage = chunk;
    }
    return chunk->bytes();
}

enum class TrackResult { ok, truncated, negativeSize };

// One track head and its keys. On failure the partial track is left for the caller to
// destroy (its key list is consistent: unread keys have no data).
TrackResult readTrack(ByteSource& src, Track& track) {
    if (!readBytes(src, track.name, 64)) return TrackResult::truncated;
    track.name[63] = 0;
    int32_t keyCount = 0;
    uint8_t typeAndReserved[2] = {};
    if (!readUint16(src, keyCount) || !readBytes(src, typeAndReserved, 2))
        return TrackResult::truncated;
    track.type = static_cast<TrackType>(typeAndReserved[0]);
    if (keyCount == 0) return TrackResult::ok;
    // The key list grows with the keys that really arrive (a short file may announce 65535).
    int32_t capacity = std::min(keyCount, 64);
    track.keys = new TrackKey[size_t(capacity)];
    for (int32_t i = 0; i < keyCount; ++i) {
        if (i == capacity) {
            capacity = std::min(keyCount, capacity * 4);
            TrackKey* grown = new TrackKey[size_t(capacity)];
            std::copy(track.keys, track.keys + i, grown);
            delete[] track.keys;
            track.keys = grown;
        }
        track.keyCount = i + 1; // the list always holds exactly the keys begun so far
        TrackKey& key = track.keys[i];
        uint8_t head[9]; // size, time in ticks, kind
        if (!readBytes(src, head, sizeof head)) return TrackResult::truncated;
        const int32_t size = static_cast<int32_t>(readU32(head));
        if (size < 0) return TrackResult::negativeSize;
        key.size = size;
        key.time = static_cast<float>(static_cast<int32_t>(readU32(head + 4))) / kTicksPerSecond;
        key.kind = static_cast<KeyKind>(head[8]);
        if (size > 1) {
            key.data = readKeyData(src, track, size - 1);
            if (!key.data) return TrackResult::truncated;
            key.dataBytes = size - 1;
        }
    }
    return TrackResult::ok;
}

// Every vertex and face block of an object track must lie inside its key's data, with the
// vertex counts that Morph keys inherit in file order. Returns the offending key or -1.
int32_t findShortVertexKey(const Track& track) {
    int32_t inherited = 0;
    bool hasUV = false;
    for (int32_t i = 0; i < track.keyCount; ++i) {
        const TrackKey& key = track.keys[i];
        if (key.kind == KeyKind::Mesh) {
            MeshBlock mesh;
            if (!readMeshBlock(key, mesh)) return i;
            inherited = mesh.vertexCount;
            hasUV = mesh.hasUV;
        } else if (key.kind == KeyKind::Morph) {
            const int32_t available = keyDataAllocation(key);
            const int encoding = key.data ? key.data[48] : 0;
            const int32_t bytes = vertexBlockBytes(encoding, inherited, hasUV);
            if (inherited > 0 && kMorphHeadBytes + bytes > available) return i;
        }
    }
    return -1;
}

bool loadSceneFrom(Scene& scene, ByteSource& src) {
    int32_t startTicks = 0;
    int32_t endTicks = 0;
    // The two time lines come first, as each value is read.
    if (!readInt32(src, startTicks)) {
        consolePrint("Error: scene file ends inside its header. \n");
        return false;
    }
    consolePrint("Time starts at %i \n", startTicks);
    scene.timeStart = static_cast<float>(startTicks) / kTicksPerSecond;
    if (!readInt32(src, endTicks)) {
        consolePrint("Error: scene file ends inside its header. \n");
        return false;
    }
    consolePrint("Time ends at %i \n", endTicks);
    scene.timeEnd = static_cast<float>(endTicks) / kTicksPerSecond;
    scene.duration = scene.timeEnd - scene.timeStart;

    int32_t trackTotal = 0;
    int32_t counts[4] = {};
    float colors[6] = {};
    if (!readUint16(src, trackTotal) || !readUint16(src, counts[0]) ||
        !readUint16(src, counts[1]) || !readUint16(src, counts[2]) || !readUint16(src, counts[3]) ||
        !readFloats(src, colors, 6) || !readBytes(src, scene.envMapName, sizeof scene.envMapName)) {
        consolePrint("Error: scene file ends inside its header. \n");
        return false;
    }
    scene.envMapName[sizeof scene.envMapName - 1] = 0;
    scene.objectCount = counts[0];
    if (counts[0] > 0) scene.objects = new SceneObject[size_t(counts[0])];
    scene.cameraCount = counts[1];
    if (counts[1] > 0) scene.cameras = new Camera[size_t(counts[1])];
    scene.lightCount = counts[2];
    if (counts[2] > 0) scene.lights = new Light[size_t(counts[2])];
    scene.materialCount = counts[3];
    if (counts[3] > 0) scene.materials = new Material[size_t(counts[3])];
    std::memcpy(scene.backgroundColor, colors, sizeof scene.backgroundColor);
    std::memcpy(scene.ambientColor, colors + 3, 3 * sizeof(float));

    scene.hasEnvMap = loadEnvironmentMaps(scene);

    int32_t objectIndex = 0;
    int32_t cameraIndex = 0;
    int32_t lightIndex = 0;
    int32_t materialIndex = 0;
    int32_t dropped = 0;
    for (int32_t t = 0; t < trackTotal; ++t) {
        Track* track = createTrack();
        const TrackResult result = readTrack(src, *track);
        if (result != TrackResult::ok) {
            destroyTrack(track);
            if (result == TrackResult::negativeSize)
                consolePrint("Error: scene file has a key of negative size in track %i. \n", t);
            else if (src.streamError)
                consolePrint("Error: scene stream cannot be decompressed (track %i). \n", t);
            else
                consolePrint("Error: scene file ends inside track %i of %i. \n", t, trackTotal);
            return false;
        }
        switch (track->type) {
        case TrackType::Object:
            if (objectIndex < scene.objectCount) {
                const int32_t shortKey = findShortVertexKey(*track);
                if (shortKey >= 0) {
                    consolePrint("Error: key %i of track %i is shorter than its vertex and "
                                 "face counts. \n",
                                 shortKey, t);
                    destroyTrack(track);
                    return false;
                }
                scene.objects[objectIndex++].track = track;
                track = nullptr;
            }
            break;
        case TrackType::Camera:
            if (cameraIndex < scene.cameraCount) {
                scene.cameras[cameraIndex++].track = track;
                track = nullptr;
            }
            break;
        case TrackType::Light:
            if (lightIndex < scene.lightCount) {
                scene.lights[lightIndex].glIndex = lightIndex;
                scene.lights[lightIndex++].track = track;
                track = nullptr;
            }
            break;
        case TrackType::Material:
            if (materialIndex < scene.materialCount) {
                if (track->keyCount == 0 || track->keys[0].dataBytes < kMaterialBlockBytes) {
                    consolePrint("Error: material track %i has no key 0 with a %i-byte "
                                 "block. \n",
                                 t, kMaterialBlockBytes);
                    destroyTrack(track);
                    return false;
                }
                loadMaterial(scene.materials[materialIndex++], *track);
            } else {
                ++dropped;
            }
            destroyTrack(track);
            track = nullptr;
            break;
        default:
            destroyTrack(track);
            track = nullptr;
            break;
        }
        if (track) {
            // a known type beyond the header's count for it: dropped
            ++dropped;
            destroyTrack(track);
        }
    }
    if (dropped > 0) consolePrint("Dropped %i tracks beyond the header's counts. \n", dropped);

    if (scene.cameraCount > 0) setCamera(scene, 0);
    consolePrint("Scene has %i objects, %i lights, %i cams %i materials \n", scene.objectCount,
                 scene.lightCount, scene.cameraCount, scene.materialCount);
    if (scene.hasEnvMap)
        consolePrint("Scene environment map is: %s \n", scene.envMapName);
    else
        consolePrint("Scene does not have an environment map! \n");
    return true;
}

} // namespace

bool loadScene(Scene& scene, gzFile stream) {
    if (!stream) return false;
    ByteSource src;
    src.kind = SourceKind::stream;
    src.stream = stream;
    src.block = new uint8_t[kReadBlockBytes];
    const bool ok = loadSceneFrom(scene, src);
    delete[] src.block;
    return ok;
}

bool loadSceneFromMemory(Scene& scene, const uint8_t* bytes, size_t byteCount) {
    ByteSource src;
    src.memory = bytes;
    src.memorySize = bytes ? byteCount : 0;
    if (byteCount >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b) {
        src.kind = SourceKind::inflateMemory;
        src.inflater.next_in = const_cast<Bytef*>(bytes);
        src.inflater.avail_in = static_cast<uInt>(std::min<size_t>(byteCount, 0xffffffffu));
        src.inflaterReady = inflateInit2(&src.inflater, 16 + MAX_WBITS) == Z_OK;
    } else {
        src.kind = SourceKind::memory;
    }
    src.block = new uint8_t[kReadBlockBytes];
    const bool ok = loadSceneFrom(scene, src);
    if (src.inflaterReady) inflateEnd(&src.inflater);
    delete[] src.block;
    return ok;
}
