#include "scene/object_update.h"

#include "diag/console.h"
#include "scene/keyframes.h"

#include <cmath>
#include <cstring>

namespace {

// The four results of the key search in one pass over the track; identical to findActiveKey
// for each filter plus findSegment.
struct KeySearch {
    int topology = -1;
    int transform = -1;
    int vertex = -1;
    int segment = -1;
};

KeySearch searchKeys(const Track& track, float t) {
    KeySearch s;
    const TrackKey* keys = track.keys;
    for (int i = 0; i < track.keyCount; ++i) {
        if (keys[i].time <= t) {
            const KeyKind kind = keys[i].kind;
            if (kind == KeyKind::Mesh) s.topology = i;
            if (kind == KeyKind::Mesh || kind == KeyKind::Morph) s.vertex = i;
            if (kind == KeyKind::Mesh || kind == KeyKind::Morph || kind == KeyKind::Transform)
                s.transform = i;
        }
        if (i > 0 && keys[i - 1].time <= t && keys[i].time > t) s.segment = i - 1;
    }
    if (s.segment == -1 && track.keyCount > 0 && keys[track.keyCount - 1].time <= t)
        s.segment = track.keyCount - 1;
    return s;
}

// Largest vertex and face counts among the track's Mesh keys: the working lists are sized for
// them on the first build so later topology changes reuse the memory.
void largestMesh(const Track& track, int32_t& vertices, int32_t& faces) {
    vertices = 0;
    faces = 0;
    for (int i = 0; i < track.keyCount; ++i) {
        MeshBlock mesh;
        if (track.keys[i].kind != KeyKind::Mesh || !readMeshBlock(track.keys[i], mesh)) continue;
        if (mesh.vertexCount > vertices) vertices = mesh.vertexCount;
        if (mesh.faceCount > faces) faces = mesh.faceCount;
    }
}

void copyVertices(SceneObject& object, const VertexKey& a) {
    for (int32_t i = 0; i < object.vertexCount; ++i) {
        ObjectVertex& v = object.vertices[i];
        const KeyVertex& k = a.vertices[i];
        std::memcpy(v.position, k.position, sizeof v.position);
        std::memcpy(v.texCoord, k.texCoord, sizeof v.texCoord);
        v.normal[0] = v.normal[1] = v.normal[2] = 0.0f;
    }
}

void blendVertices(SceneObject& object, const VertexKey& a, const VertexKey& b, float f) {
    for (int32_t i = 0; i < object.vertexCount; ++i) {
        ObjectVertex& v = object.vertices[i];
        lerpFloats(a.vertices[i].position, b.vertices[i].position, f, 3, v.position);
        lerpFloats(a.vertices[i].texCoord, b.vertices[i].texCoord, f, 3, v.texCoord);
        v.normal[0] = v.normal[1] = v.normal[2] = 0.0f;
    }
}

bool readBit(const uint8_t* bits, int32_t bytes, int64_t index) {
    if (index < 0 || index >= int64_t(bytes) * 8) return false;
    return (bits[index / 8] >> (index % 8)) & 1;
}

} // namespace

float wrapSceneTime(const Scene& scene, float t) {
    if (t < scene.timeStart) t = scene.timeStart;
    if (t >= scene.timeEnd) {
        if (scene.timeEnd <= scene.timeStart) return scene.timeStart;
        t = float(scene.timeStart +
                  std::fmod(double(t - scene.timeStart), double(scene.timeEnd - scene.timeStart)));
    }
    return t;
}

bool isVisibleAt(const Scene& scene, float t, const uint8_t* hideBits, int32_t hideBitsBytes) {
    if (t < scene.timeStart || t >= scene.timeEnd) return true;
    if (scene.currentCamera < 0 || scene.currentCamera >= scene.cameraCount) return true;
    const float step = 1.0f / scene.hideFrameRate;
    const float frame = (t - scene.timeStart) / step;
    // A rate the file got wrong (zero, negative) gives no usable sample: draw the object.
    if (!(frame >= 0.0f && frame < 2147483648.0f)) return true;
    const int64_t b = int64_t(frame) + int64_t(scene.currentCamera) * scene.hideBitsPerCamera;
    return readBit(hideBits, hideBitsBytes, b) || readBit(hideBits, hideBitsBytes, b + 1);
}

void buildTopology(SceneObject& object, int meshKeyIndex) {
    const TrackKey& key = object.track->keys[meshKeyIndex];
    if (object.vertices == nullptr) {
        int32_t maxVertices, maxFaces;
        largestMesh(*object.track, maxVertices, maxFaces);
        object.vertices = new ObjectVertex[maxVertices > 0 ? maxVertices : 1];
        object.faces = new ObjectFace[maxFaces > 0 ? maxFaces : 1];
    }
    object.vertexCount = 0;
    object.faceCount = 0;
    MeshBlock mesh;
    // A block too short for what it announces (the loader refuses such files) builds an empty
    // topology: the object draws nothing until the next Mesh key.
    if (readMeshBlock(key, mesh)) {
        object.materialIndex = mesh.materialIndex;
        object.hasUV = mesh.hasUV;
        object.flipNormals = mesh.flipNormals;
        object.vertexCount = mesh.vertexCount;
        // Zeroed so that a key too short to copy from leaves defined vertices behind.
        for (int32_t i = 0; i < mesh.vertexCount; ++i)
            object.vertices[i] = ObjectVertex{};
        object.faceCount = readMeshFaces(key, mesh, object.faces);
    }
    object.geometryDirty = true;
}

void computeNormals(SceneObject& object) {
    ObjectVertex* vertices = object.vertices;
    ObjectFace* faces = object.faces;
    const float flip = object.flipNormals ? -1.0f : 1.0f;
    // Face normals first: faces are independent, so their square roots and divisions overlap
    // instead of waiting on the corner sums of the face before.
    for (int32_t f = 0; f < object.faceCount; ++f) {
        ObjectFace& face = faces[f];
        const float* a = vertices[face.indices[0]].position;
        const float* b = vertices[face.indices[1]].position;
        const float* c = vertices[face.indices[2]].position;
        const float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        // Negation is exact, so flipping by a factor of -1 gives the same bits as negating.
        const float n[3] = {(e1[1] * e2[2] - e1[2] * e2[1]) * flip,
                            (e1[2] * e2[0] - e1[0] * e2[2]) * flip,
                            (e1[0] * e2[1] - e1[1] * e2[0]) * flip};
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        float unit[3] = {1.0f, 0.0f, 0.0f};
        if (length != 0.0f) {
            const float inverse = 1.0f / length;
            unit[0] = n[0] * inverse;
            unit[1] = n[1] * inverse;
            unit[2] = n[2] * inverse;
        }
        face.normal[0] = unit[0];
        face.normal[1] = unit[1];
        face.normal[2] = unit[2];
    }
    // Then the corner sums, in face order as before.
    for (int32_t i = 0; i < object.vertexCount; ++i)
        vertices[i].normal[0] = vertices[i].normal[1] = vertices[i].normal[2] = 0.0f;
    for (int32_t f = 0; f < object.faceCount; ++f) {
        const ObjectFace& face = faces[f];
        for (int corner = 0; corner < 3; ++corner) {
            float* sum = vertices[face.indices[corner]].normal;
            sum[0] += face.normal[0];
            sum[1] += face.normal[1];
            sum[2] += face.normal[2];
        }
    }
    for (int32_t i = 0; i < object.vertexCount; ++i) {
        float* n = vertices[i].normal;
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length == 0.0f) {
            n[0] = 1.0f;
            n[1] = 0.0f;
            n[2] = 0.0f;
        } else {
            const float inverse = 1.0f / length;
            n[0] *= inverse;
            n[1] *= inverse;
            n[2] *= inverse;
        }
    }
    object.geometryDirty = true;
}

int updateObject(SceneObject& object, float t, bool sceneChanged) {
    if (object.hideBits != nullptr && object.scene != nullptr) {
        const bool v = isVisibleAt(*object.scene, t, object.hideBits, object.hideBitsBytes);
        if (v != object.visible) object.geometryDirty = true;
        object.visible = v;
    } else {
        object.visible = true;
    }
    if (!object.visible) return 0;

    object.time = t;
    if (object.track == nullptr) return 0;
    if (sceneChanged) object.geometryDirty = true;

    const Track& track = *object.track;
    const KeySearch keys = searchKeys(track, t);
    if (keys.topology == -1 || keys.segment == -1) {
        object.vertexCount = 0;
        object.faceCount = 0;
        destroyTrack(object.track);
        object.track = nullptr;
        consolePrint("Error: object has no topology to use at this timecode. \n");
        return 0;
    }
    const int next = keys.segment + 1 < track.keyCount ? keys.segment + 1 : -1;

    const bool topologyChanged = object.currentMeshKey != keys.topology;
    if (topologyChanged) {
        buildTopology(object, keys.topology);
        object.currentMeshKey = keys.topology;
    }

    const bool holdAhead = next == -1 || track.keys[next].kind == KeyKind::Hold;
    if (holdAhead) {
        readKeyFloats(track.keys[keys.transform], 0, object.transform, 12);
    } else {
        float a[12], b[12];
        readKeyFloats(track.keys[keys.transform], 0, a, 12);
        readKeyFloats(track.keys[next], 0, b, 12);
        lerpFloats(a, b, blendFactor(track, keys.segment, object.time), 12, object.transform);
    }

    int vertexKey = keys.vertex;
    bool vertexChanged = object.currentVertexKey == -1 || object.currentVertexKey != vertexKey;
    bool blend = false;
    if (next != -1 &&
        (track.keys[next].kind == KeyKind::Morph || track.keys[next].kind == KeyKind::Mesh)) {
        vertexChanged = true;
        blend = true;
    }
    if (topologyChanged) {
        vertexKey = keys.topology;
        blend = false;
    }
    if (topologyChanged || vertexChanged) {
        object.currentVertexKey = vertexKey;
        // Keys holding fewer vertices than the topology (damaged files) are never read: a short
        // blend target degrades to a copy, a short source leaves the vertices as they were.
        const VertexKey* a = findVertexKey(object, vertexKey);
        const VertexKey* b = blend ? findVertexKey(object, next) : nullptr;
        if (vertexKeyCovers(a, object.vertexCount)) {
            if (blend && vertexKeyCovers(b, object.vertexCount))
                blendVertices(object, *a, *b, blendFactor(track, keys.segment, object.time));
            else
                copyVertices(object, *a);
        }
        computeNormals(object);
    }

    const Scene* scene = object.scene;
    object.material = scene != nullptr && object.materialIndex < scene->materialCount
                          ? &scene->materials[object.materialIndex]
                          : nullptr;
    return object.vertexCount;
}
