// Scene model: creation and destruction, materials from their tracks, the one-time decoding of
// vertex keys, camera selection and the Mesh block readers shared with the topology builder.
#include "scene/scene.h"

#include "diag/console.h"
#include "image/texture.h"
#include "platform/message_box.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// float to int, truncating toward zero; values an int cannot hold (and NaN) give INT_MIN,
// as the x86 conversion instruction does, instead of undefined behaviour.
int32_t truncToInt(float value) {
    if (!(value > -2147483904.0f && value < 2147483648.0f)) return INT_MIN;
    return static_cast<int32_t>(value);
}

// Decodes count vertices of the vertex block at data + offset into out (zeroed by the caller).
void decodeVertexBlock(const uint8_t* block, int encoding, int32_t count, bool hasUV,
                       KeyVertex* out) {
    const int components = hasUV ? 5 : 3;
    if (encoding == 0) {
        const int stride = 4 * components;
        for (int32_t j = 0; j < count; ++j) {
            const uint8_t* p = block + size_t(j) * stride;
            KeyVertex& v = out[j];
            v.position[0] = readF32(p);
            v.position[1] = readF32(p + 4);
            v.position[2] = readF32(p + 8);
            if (hasUV) {
                v.texCoord[0] = readF32(p + 12);
                v.texCoord[1] = -readF32(p + 16);
            }
        }
    } else if (encoding == 1) {
        // step evaluated once per component; vertices filled in order, all planes at once
        float bases[5];
        float steps[5];
        const uint8_t* planes[5];
        for (int c = 0; c < components; ++c) {
            const float top = readF32(block + 8 * c);
            bases[c] = readF32(block + 8 * c + 4);
            steps[c] = (top - bases[c]) / 255.0f;
            planes[c] = block + 8 * components + size_t(c) * size_t(count);
        }
        for (int32_t j = 0; j < count; ++j) {
            KeyVertex& v = out[j];
            for (int c = 0; c < 3; ++c)
                v.position[c] = bases[c] + static_cast<float>(planes[c][j]) * steps[c];
        }
        if (hasUV) {
            for (int32_t j = 0; j < count; ++j) {
                KeyVertex& v = out[j];
                v.texCoord[0] = bases[3] + static_cast<float>(planes[3][j]) * steps[3];
                v.texCoord[1] = -(bases[4] + static_cast<float>(planes[4][j]) * steps[4]);
            }
        }
    }
    // other encodings carry no bytes: the vertices stay zero
}

// Decodes one Morph or Mesh key into entry; n is the count inherited from the previous
// vertex-bearing key of the track. Returns the count the next Morph key inherits.
int32_t decodeVertexKey(SceneObject& object, const TrackKey& key, VertexKey& entry, int32_t n) {
    int32_t count = n;
    int encoding = 0;
    int32_t blockOffset = kMorphHeadBytes;
    if (key.kind == KeyKind::Mesh) {
        MeshBlock mesh;
        readMeshBlock(key, mesh); // the head is always readable; the loader checked the rest
        object.hasUV = mesh.hasUV;
        count = mesh.vertexCount;
        encoding = mesh.encoding;
        blockOffset = mesh.vertexBlockOffset;
    } else if (key.data) {
        encoding = key.data[48];
    }
    const int32_t bytes = vertexBlockBytes(encoding, count, object.hasUV);
    // A block that does not hold its vertices (only possible in scenes not read by the
    // loader) decodes to an empty entry that nothing copies from.
    const bool fits = bytes == 0 || (key.data && blockOffset + bytes <= keyDataAllocation(key));
    entry.vertexCount = fits ? count : 0;
    if (entry.vertexCount > 0) {
        entry.vertices = new KeyVertex[size_t(entry.vertexCount)];
        if (bytes > 0)
            decodeVertexBlock(key.data + blockOffset, encoding, count, object.hasUV,
                              entry.vertices);
    }
    return count;
}

void releaseObject(SceneObject& object) {
    destroyTrack(object.track);
    object.track = nullptr;
    delete[] object.vertices;
    delete[] object.faces;
    for (int32_t i = 0; i < object.vertexKeyCount; ++i)
        delete[] object.vertexKeys[i].vertices;
    delete[] object.vertexKeys;
    delete[] object.hideBits;
    object.vertices = nullptr;
    object.faces = nullptr;
    object.vertexKeys = nullptr;
    object.hideBits = nullptr;
    object.vertexCount = object.faceCount = object.vertexKeyCount = 0;
}

} // namespace

Scene* createScene() {
    return new Scene();
}

void loadMaterial(Material& material, const Track& track) {
    // A short or missing block reads as zeros (the loader refuses such files before this).
    uint8_t block[kMaterialBlockBytes] = {};
    if (track.keyCount > 0 && track.keys[0].data)
        std::memcpy(block, track.keys[0].data,
                    size_t(std::min(track.keys[0].dataBytes, kMaterialBlockBytes)));
    std::memcpy(material.textureName, block, 128);
    std::memcpy(material.secondMapName, block + 128, 128);
    material.textureName[127] = 0;
    material.secondMapName[127] = 0;

    float specularColor[3];
    for (int i = 0; i < 3; ++i) {
        material.diffuse[i] = readF32(block + 256 + 4 * i);
        material.ambient[i] = readF32(block + 268 + 4 * i);
        specularColor[i] = readF32(block + 280 + 4 * i);
    }
    material.specularLevel = readF32(block + 292);
    material.shininess = readF32(block + 296);
    material.opacity = readF32(block + 300);
    material.selfIllumination = readF32(block + 304);
    material.flags = readU32(block + 308);

    consolePrint("Specular: %i Shininess: %i \n", truncToInt(material.specularLevel * 100.0f),
                 truncToInt(material.shininess * 100.0f));

    material.textured = false;
    material.texture = nullptr;
    if (material.textureName[0] != 0) {
        errno = 0;
        Texture* texture = loadTexture(material.textureName, true, true);
        if (!texture) {
            // An open that failed leaves the system's reason; a picture that would not decode
            // leaves none.
            const int reason = errno;
            char detail[sizeof material.textureName + 128];
            std::snprintf(detail, sizeof detail, "%s: %s", material.textureName,
                          reason != 0 ? std::strerror(reason) : "cannot be decoded");
            consolePrint("  Error. \n");
            showMessageBox("Error loading texture!", "Caption", MessageBoxIcon::none, detail);
        } else {
            material.texture = texture;
            material.textured = true;
        }
    }

    material.transparent = material.opacity < 0.99f;
    if ((material.flags & AlphaTest) && material.textured) material.transparent = true;
    if (material.textured) material.diffuse[0] = material.diffuse[1] = material.diffuse[2] = 1.0f;
    material.diffuse[3] = material.opacity;
    material.ambient[3] = material.opacity;
    material.specular[3] = 1.0f;
    for (int i = 0; i < 3; ++i)
        material.specular[i] = specularColor[i] * material.specularLevel;
    if (material.textured) {
        for (float& e : material.emission)
            e = 0.0f;
    } else {
        for (int i = 0; i < 3; ++i)
            material.emission[i] = material.selfIllumination * material.diffuse[i];
        material.emission[3] = material.selfIllumination * material.opacity;
    }
}

void prepareObjects(Scene& scene) {
    if (scene.objectsPrepared) return;
    for (int32_t o = 0; o < scene.objectCount; ++o) {
        SceneObject& object = scene.objects[o];
        object.scene = &scene;
        const Track* track = object.track;
        if (!track || object.vertexKeys) continue;
        int32_t entries = 0;
        for (int32_t j = 0; j < track->keyCount; ++j)
            if (track->keys[j].kind == KeyKind::Morph || track->keys[j].kind == KeyKind::Mesh)
                ++entries;
        if (entries == 0) continue;
        object.vertexKeys = new VertexKey[size_t(entries)];
        object.vertexKeyCount = entries;
        int32_t n = 0;
        int32_t e = 0;
        for (int32_t j = 0; j < track->keyCount; ++j) {
            const TrackKey& key = track->keys[j];
            if (key.kind != KeyKind::Morph && key.kind != KeyKind::Mesh) continue;
            VertexKey& entry = object.vertexKeys[e++];
            n = decodeVertexKey(object, key, entry, n);
            entry.keyIndex = j;
            entry.time = key.time;
        }
    }
    scene.objectsPrepared = true;
}

void setCamera(Scene& scene, int index) {
    if (index >= scene.cameraCount || index < -1) {
        consolePrint("Wrong cam id %i, switching to interactive cam. \n", index);
        index = -1;
    }
    scene.currentCamera = index;
}

Camera& activeCamera(Scene& scene) {
    if (scene.currentCamera < 0 || scene.currentCamera >= scene.cameraCount)
        return scene.interactiveCamera;
    return scene.cameras[scene.currentCamera];
}

void destroyScene(Scene* scene) {
    if (!scene) return;
    for (int32_t i = 0; i < scene->objectCount; ++i)
        releaseObject(scene->objects[i]);
    delete[] scene->objects;
    for (int32_t i = 0; i < scene->cameraCount; ++i)
        destroyTrack(scene->cameras[i].track);
    delete[] scene->cameras;
    for (int32_t i = 0; i < scene->lightCount; ++i)
        destroyTrack(scene->lights[i].track);
    delete[] scene->lights;
    for (int32_t i = 0; i < scene->materialCount; ++i)
        if (scene->materials[i].texture) releaseTexture(scene->materials[i].texture);
    delete[] scene->materials;
    for (Texture* face : scene->envMapTextures)
        if (face) releaseTexture(face);
    destroyTrack(scene->interactiveCamera.track);
    delete scene;
}

int32_t vertexBlockBytes(int encoding, int32_t vertexCount, bool hasUV) {
    if (encoding == 0) return vertexCount * (hasUV ? 20 : 12);
    if (encoding == 1) return hasUV ? 40 + 5 * vertexCount : 24 + 3 * vertexCount;
    return 0;
}

bool readMeshBlock(const TrackKey& key, MeshBlock& out) {
    out = MeshBlock();
    if (!key.data) return false;
    const uint8_t* d = key.data;
    out.materialIndex = readU16(d + 48);
    out.hasUV = d[50] != 0;
    out.flipNormals = d[52] != 0;
    out.vertexCount = readU16(d + 65);
    out.faceCount = readU16(d + 67);
    out.encoding = d[69];
    out.vertexBlockOffset = kMeshHeadBytes;
    out.faceBlockOffset =
        kMeshHeadBytes + vertexBlockBytes(out.encoding, out.vertexCount, out.hasUV);
    return out.faceBlockOffset + 12 * out.faceCount <= keyDataAllocation(key);
}

int32_t readMeshFaces(const TrackKey& key, const MeshBlock& mesh, ObjectFace* faces) {
    if (!key.data || mesh.faceBlockOffset + 12 * mesh.faceCount > keyDataAllocation(key)) return 0;
    int32_t kept = 0;
    for (int32_t f = 0; f < mesh.faceCount; ++f) {
        const uint8_t* p = key.data + mesh.faceBlockOffset + 12 * f;
        ObjectFace face;
        bool inRange = true;
        for (int i = 0; i < 3; ++i) {
            face.indices[i] = readU16(p + 2 * i);
            inRange = inRange && face.indices[i] < mesh.vertexCount;
            const int32_t neighbour = readU16(p + 6 + 2 * i);
            face.neighbours[i] = neighbour == 0xFFFF ? -1 : neighbour;
        }
        if (inRange) faces[kept++] = face;
    }
    return kept;
}

const VertexKey* findVertexKey(const SceneObject& object, int32_t keyIndex) {
    for (int32_t i = 0; i < object.vertexKeyCount; ++i)
        if (object.vertexKeys[i].keyIndex == keyIndex) return &object.vertexKeys[i];
    return nullptr;
}
