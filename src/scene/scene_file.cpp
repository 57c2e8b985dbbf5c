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
constexpr int64_t kSceneHeaderBytes = 302;
constexpr int64_t kTrackHeadBytes = 68;

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
    int64_t budget = kSceneBudgetBytes;
    int64_t budgetUsed = 0;
    bool loadImages = true;
};

// Counts bytes against the scene budget; false (nothing counted) when they would pass it.
bool chargeBudget(ByteSource& src, int64_t bytes) {
    if (bytes > src.budget - src.budgetUsed) return false;
    src.budgetUsed += bytes;
    return true;
}

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

// Reads past length bytes without keeping them: the block buffer is the only memory used.
bool skipBytes(ByteSource& src, int64_t length) {
    while (length > 0) {
        if (src.blockPos < src.blockHave) {
            const int take = int(std::min<int64_t>(length, src.blockHave - src.blockPos));
            src.blockPos += take;
            length -= take;
            continue;
        }
        if (src.kind == SourceKind::memory) {
            const size_t take = std::min<size_t>(size_t(length), src.memorySize - src.memoryPos);
            src.memoryPos += take;
            return take == size_t(length);
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

enum class TrackResult { ok, truncated, negativeSize, overBudget };

// What the loader keeps of a track's keys; decided from its type before any key is read.
enum class KeyUse {
    keepAll,   // object, camera and light tracks that have a place in the scene
    keepFirst, // material tracks: key 0's block, up to the bytes a material reads
    skipAll,   // unknown types and tracks beyond the header's counts: read past, never stored
};

// A key's record, its padding and the decoded form count against the budget as well as its
// bytes: a few bytes in the file must not stand for much more in memory.
constexpr int64_t kKeyRecordBytes = int64_t(sizeof(TrackKey));

// The track head: name, key count, type and the reserved byte.
TrackResult readTrackHead(ByteSource& src, Track& track, int32_t& keyCount) {
    if (!chargeBudget(src, kTrackHeadBytes + int64_t(sizeof(Track))))
        return TrackResult::overBudget;
    if (!readBytes(src, track.name, 64)) return TrackResult::truncated;
    track.name[63] = 0;
    uint8_t typeAndReserved[2] = {};
    if (!readUint16(src, keyCount) || !readBytes(src, typeAndReserved, 2))
        return TrackResult::truncated;
    track.type = static_cast<TrackType>(typeAndReserved[0]);
    return TrackResult::ok;
}

// The keys of a track as use says. On failure the partial track is left for the caller to
// destroy (its key list is consistent: unread keys have no data).
TrackResult readTrackKeys(ByteSource& src, Track& track, int32_t keyCount, KeyUse use) {
    if (keyCount == 0) return TrackResult::ok;
    const int32_t listed = use == KeyUse::keepFirst ? 1 : use == KeyUse::skipAll ? 0 : keyCount;
    // The key list grows with the keys that really arrive (a short file may announce 65535).
    int32_t capacity = std::min(listed, 64);
    if (capacity > 0) track.keys = new TrackKey[size_t(capacity)];
    for (int32_t i = 0; i < keyCount; ++i) {
        uint8_t head[9]; // size, time in ticks, kind
        if (!readBytes(src, head, sizeof head)) return TrackResult::truncated;
        const int32_t size = static_cast<int32_t>(readU32(head));
        if (size < 0) return TrackResult::negativeSize;
        const int32_t dataBytes = size > 1 ? size - 1 : 0;
        if (i >= listed) {
            if (!chargeBudget(src, 9 + int64_t(dataBytes))) return TrackResult::overBudget;
            if (!skipBytes(src, dataBytes)) return TrackResult::truncated;
            continue;
        }
        const int32_t kept =
            use == KeyUse::keepFirst ? std::min(dataBytes, kMaterialBlockBytes) : dataBytes;
        const int64_t padding = kept > 0 ? std::max(0, kKeyDataMinBytes - kept) : 0;
        if (!chargeBudget(src, 9 + int64_t(dataBytes) + kKeyRecordBytes + padding))
            return TrackResult::overBudget;
        if (i == capacity) {
            capacity = std::min(listed, capacity * 4);
            TrackKey* grown = new TrackKey[size_t(capacity)];
            std::copy(track.keys, track.keys + i, grown);
            delete[] track.keys;
            track.keys = grown;
        }
        track.keyCount = i + 1; // the list always holds exactly the keys begun so far
        TrackKey& key = track.keys[i];
        key.size = size;
        key.time = static_cast<float>(static_cast<int32_t>(readU32(head + 4))) / kTicksPerSecond;
        key.kind = static_cast<KeyKind>(head[8]);
        if (kept > 0) {
            key.data = readKeyData(src, track, kept);
            if (!key.data) return TrackResult::truncated;
            key.dataBytes = kept;
        }
        if (kept < dataBytes && !skipBytes(src, dataBytes - kept)) return TrackResult::truncated;
    }
    return TrackResult::ok;
}

// Every vertex and face block of an object track must lie inside its key's data, with the
// vertex counts that Morph keys inherit in file order. Returns the offending key or -1, and
// adds to decodedBytes what decoding the vertex keys will allocate (prepareObjects).
int32_t checkVertexKeys(const Track& track, int64_t& decodedBytes) {
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
        } else {
            continue;
        }
        decodedBytes +=
            int64_t(sizeof(VertexKey)) + int64_t(inherited) * int64_t(sizeof(KeyVertex));
    }
    return -1;
}

// The reason a read failed, for the one error line: the system's or zlib's own text for a
// stream (for a directory: "Is a directory"), or a damaged gzip member in memory.
const char* streamErrorText(ByteSource& src) {
    if (src.kind == SourceKind::stream) {
        int code = Z_OK;
        const char* text = gzerror(src.stream, &code);
        if (text && text[0] != '\0') return text;
    }
    return "damaged compressed data";
}

void reportHeaderFailure(ByteSource& src) {
    if (src.streamError)
        consolePrint("Error: scene file cannot be read: %s \n", streamErrorText(src));
    else
        consolePrint("Error: scene file ends inside its header. \n");
}

// track -1 is the header (its element lists).
void reportBudget(const ByteSource& src, int32_t track) {
    if (track < 0)
        consolePrint("Error: scene file needs more than the %i MB scene budget (header). \n",
                     int(src.budget >> 20));
    else
        consolePrint("Error: scene file needs more than the %i MB scene budget (track %i). \n",
                     int(src.budget >> 20), track);
}

bool loadSceneFrom(Scene& scene, ByteSource& src) {
    int32_t startTicks = 0;
    int32_t endTicks = 0;
    // The two time lines come first, as each value is read.
    if (!readInt32(src, startTicks)) {
        reportHeaderFailure(src);
        return false;
    }
    consolePrint("Time starts at %i \n", startTicks);
    scene.timeStart = static_cast<float>(startTicks) / kTicksPerSecond;
    if (!readInt32(src, endTicks)) {
        reportHeaderFailure(src);
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
        reportHeaderFailure(src);
        return false;
    }
    // At most 65535 of each: tens of megabytes, within the default budget but not a small one.
    if (!chargeBudget(src, kSceneHeaderBytes + counts[0] * int64_t(sizeof(SceneObject)) +
                               counts[1] * int64_t(sizeof(Camera)) +
                               counts[2] * int64_t(sizeof(Light)) +
                               counts[3] * int64_t(sizeof(Material)))) {
        reportBudget(src, -1);
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

    scene.hasEnvMap = src.loadImages && loadEnvironmentMaps(scene);

    int32_t objectIndex = 0;
    int32_t cameraIndex = 0;
    int32_t lightIndex = 0;
    int32_t materialIndex = 0;
    int32_t dropped = 0;
    for (int32_t t = 0; t < trackTotal; ++t) {
        Track* track = createTrack();
        int32_t keyCount = 0;
        TrackResult result = readTrackHead(src, *track, keyCount);
        // Only tracks that have a place in the scene are stored.
        KeyUse use = KeyUse::skipAll;
        bool known = true;
        switch (track->type) {
        case TrackType::Object:
            if (objectIndex < scene.objectCount) use = KeyUse::keepAll;
            break;
        case TrackType::Camera:
            if (cameraIndex < scene.cameraCount) use = KeyUse::keepAll;
            break;
        case TrackType::Light:
            if (lightIndex < scene.lightCount) use = KeyUse::keepAll;
            break;
        case TrackType::Material:
            if (materialIndex < scene.materialCount) use = KeyUse::keepFirst;
            break;
        default:
            known = false;
            break;
        }
        if (result == TrackResult::ok) result = readTrackKeys(src, *track, keyCount, use);
        int64_t decodedBytes = 0;
        int32_t shortKey = -1;
        if (result == TrackResult::ok && use != KeyUse::skipAll &&
            track->type == TrackType::Object) {
            shortKey = checkVertexKeys(*track, decodedBytes);
            if (shortKey < 0 && !chargeBudget(src, decodedBytes)) result = TrackResult::overBudget;
        }
        if (result != TrackResult::ok || shortKey >= 0) {
            destroyTrack(track);
            if (shortKey >= 0)
                consolePrint("Error: key %i of track %i is shorter than its vertex and face "
                             "counts. \n",
                             shortKey, t);
            else if (result == TrackResult::overBudget)
                reportBudget(src, t);
            else if (result == TrackResult::negativeSize)
                consolePrint("Error: scene file has a key of negative size in track %i. \n", t);
            else if (src.streamError)
                consolePrint("Error: scene file cannot be read in track %i: %s \n", t,
                             streamErrorText(src));
            else
                consolePrint("Error: scene file ends inside track %i of %i. \n", t, trackTotal);
            return false;
        }
        if (use == KeyUse::skipAll) {
            if (known) ++dropped; // a known type beyond the header's count for it
            destroyTrack(track);
            continue;
        }
        switch (track->type) {
        case TrackType::Object:
            scene.objects[objectIndex++].track = track;
            break;
        case TrackType::Camera:
            scene.cameras[cameraIndex++].track = track;
            break;
        case TrackType::Light:
            scene.lights[lightIndex].glIndex = lightIndex;
            scene.lights[lightIndex++].track = track;
            break;
        default: // material: built at once, the track is not kept
            if (track->keyCount == 0 || track->keys[0].dataBytes < kMaterialBlockBytes) {
                consolePrint("Error: material track %i has no key 0 with a %i-byte block. \n", t,
                             kMaterialBlockBytes);
                destroyTrack(track);
                return false;
            }
            if (!src.loadImages) track->keys[0].data[0] = 0; // no texture name
            loadMaterial(scene.materials[materialIndex++], *track);
            destroyTrack(track);
            break;
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

bool loadScene(Scene& scene, gzFile stream, const SceneLoadOptions& options) {
    if (!stream) return false;
    ByteSource src;
    src.budget = options.budgetBytes;
    src.loadImages = options.loadImages;
    src.kind = SourceKind::stream;
    src.stream = stream;
    src.block = new uint8_t[kReadBlockBytes];
    const bool ok = loadSceneFrom(scene, src);
    delete[] src.block;
    return ok;
}

bool loadSceneFromMemory(Scene& scene, const uint8_t* bytes, size_t byteCount,
                         const SceneLoadOptions& options) {
    ByteSource src;
    src.budget = options.budgetBytes;
    src.loadImages = options.loadImages;
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
