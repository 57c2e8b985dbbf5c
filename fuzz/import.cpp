// Fuzz target: our conversion of an Assimp scene, without Assimp's readers (import_parse fuzzes
// those, contained). The bytes build an aiScene in memory: nodes, meshes with faces, bones and
// morph targets, materials with embedded pictures, cameras, lights and an animation, every count
// and index taken from the input, so out-of-range indices and odd values reach the importer as
// a damaged reader's output would. A converted result must cross the process boundary and come
// back unchanged. One input in eight is a transfer record instead, for the decoder.
#include "import/scene_import.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t kMaxInput = 1 << 14;
constexpr unsigned kMaxNodes = 8;
constexpr int kFuzzKeys = 8;

struct Bytes {
    const uint8_t* at;
    size_t left;
    uint8_t u8() {
        if (left == 0) return 0;
        --left;
        return *at++;
    }
    unsigned below(unsigned n) { return n ? u8() % n : 0; }
    // Mostly small values on a grid, sometimes the ones that break arithmetic.
    float value() {
        const uint8_t kind = u8();
        if (kind == 255) return NAN;
        if (kind == 254) return INFINITY;
        if (kind == 253) return 3e38f;
        if (kind == 252) return 1e-30f;
        return float(int8_t(u8())) / 8.0f;
    }
    aiVector3D vector() {
        const float x = value(), y = value();
        return aiVector3D(x, y, value());
    }
};

std::string nodeName(unsigned i) {
    return "n" + std::to_string(i);
}

aiMesh* makeMesh(Bytes& in) {
    auto* mesh = new aiMesh();
    mesh->mName = aiString(nodeName(in.below(kMaxNodes)));
    mesh->mNumVertices = in.below(24) + 1;
    mesh->mVertices = new aiVector3D[mesh->mNumVertices];
    for (unsigned v = 0; v < mesh->mNumVertices; ++v)
        mesh->mVertices[v] = in.vector();
    if (in.u8() & 1) {
        mesh->mTextureCoords[0] = new aiVector3D[mesh->mNumVertices];
        mesh->mNumUVComponents[0] = 2;
        for (unsigned v = 0; v < mesh->mNumVertices; ++v)
            mesh->mTextureCoords[0][v] = in.vector();
    }
    mesh->mNumFaces = in.below(16);
    mesh->mFaces = mesh->mNumFaces ? new aiFace[mesh->mNumFaces] : nullptr;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        aiFace& face = mesh->mFaces[f];
        face.mNumIndices = in.below(5) + 1;
        face.mIndices = new unsigned[face.mNumIndices];
        for (unsigned c = 0; c < face.mNumIndices; ++c)
            face.mIndices[c] = in.below(mesh->mNumVertices + 2); // sometimes out of range
        mesh->mPrimitiveTypes |= face.mNumIndices == 3  ? aiPrimitiveType_TRIANGLE
                                 : face.mNumIndices < 3 ? aiPrimitiveType_LINE
                                                        : aiPrimitiveType_POLYGON;
    }
    mesh->mMaterialIndex = in.below(4);
    mesh->mNumBones = in.below(3);
    mesh->mBones = mesh->mNumBones ? new aiBone*[mesh->mNumBones] : nullptr;
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
        auto* bone = new aiBone();
        bone->mName = aiString(nodeName(in.below(kMaxNodes + 1)));
        bone->mNumWeights = in.below(4);
        bone->mWeights = bone->mNumWeights ? new aiVertexWeight[bone->mNumWeights] : nullptr;
        for (unsigned w = 0; w < bone->mNumWeights; ++w)
            bone->mWeights[w] = aiVertexWeight(in.below(mesh->mNumVertices + 1), in.value());
        if (in.u8() & 1) bone->mOffsetMatrix.a4 = in.value();
        mesh->mBones[b] = bone;
    }
    mesh->mNumAnimMeshes = in.below(3);
    mesh->mAnimMeshes = mesh->mNumAnimMeshes ? new aiAnimMesh*[mesh->mNumAnimMeshes] : nullptr;
    for (unsigned t = 0; t < mesh->mNumAnimMeshes; ++t) {
        auto* target = new aiAnimMesh();
        // A count that disagrees with the mesh's must be ignored, never read past.
        target->mNumVertices = (in.u8() & 3) == 0 ? mesh->mNumVertices + 1 : mesh->mNumVertices;
        target->mVertices = new aiVector3D[target->mNumVertices];
        for (unsigned v = 0; v < target->mNumVertices; ++v)
            target->mVertices[v] = in.vector();
        mesh->mAnimMeshes[t] = target;
    }
    return mesh;
}

aiMaterial* makeMaterial(Bytes& in, unsigned textures) {
    auto* material = new aiMaterial();
    const aiColor4D diffuse(in.value(), in.value(), in.value(), in.value());
    material->AddProperty(&diffuse, 1, AI_MATKEY_COLOR_DIFFUSE);
    const aiColor3D specular(in.value(), in.value(), in.value());
    material->AddProperty(&specular, 1, AI_MATKEY_COLOR_SPECULAR);
    const float shininess = in.value() * 16.0f, opacity = in.value();
    material->AddProperty(&shininess, 1, AI_MATKEY_SHININESS);
    material->AddProperty(&opacity, 1, AI_MATKEY_OPACITY);
    const int twoSided = in.u8() & 1, blend = in.below(3);
    material->AddProperty(&twoSided, 1, AI_MATKEY_TWOSIDED);
    material->AddProperty(&blend, 1, AI_MATKEY_BLEND_FUNC);
    // "*N" names an embedded picture (one past the last, too); a file name is never read for a
    // scene in memory; or no texture at all.
    const unsigned pick = in.below(textures + 3);
    if (pick <= textures + 1) {
        const aiString path(pick <= textures ? "*" + std::to_string(pick) : "wood.png");
        material->AddProperty(&path, AI_MATKEY_TEXTURE_DIFFUSE(0));
    }
    return material;
}

aiTexture* makeTexture(Bytes& in) {
    auto* texture = new aiTexture();
    if (in.u8() & 1) {
        texture->mWidth = in.below(5) + 1;
        texture->mHeight = in.below(5) + 1;
        texture->pcData = new aiTexel[texture->mWidth * texture->mHeight];
        for (unsigned i = 0; i < texture->mWidth * texture->mHeight; ++i)
            texture->pcData[i] = aiTexel{in.u8(), in.u8(), in.u8(), uint8_t(in.u8() & 1 ? 0 : 255)};
    } else {
        // Compressed: mWidth bytes of a file, here the input's own (stb refuses most).
        const unsigned bytes = in.below(64) + 1;
        texture->mWidth = bytes;
        texture->pcData = new aiTexel[(bytes + 3) / 4];
        auto* raw = reinterpret_cast<uint8_t*>(texture->pcData);
        for (unsigned i = 0; i < bytes; ++i)
            raw[i] = in.u8();
        std::strcpy(texture->achFormatHint, "png");
    }
    return texture;
}

aiNodeAnim* makeChannel(Bytes& in) {
    auto* channel = new aiNodeAnim();
    channel->mNodeName = aiString(nodeName(in.below(kMaxNodes + 1)));
    channel->mNumPositionKeys = in.below(3);
    channel->mNumRotationKeys = in.below(3);
    channel->mNumScalingKeys = in.below(3);
    if (channel->mNumPositionKeys)
        channel->mPositionKeys = new aiVectorKey[channel->mNumPositionKeys];
    if (channel->mNumRotationKeys)
        channel->mRotationKeys = new aiQuatKey[channel->mNumRotationKeys];
    if (channel->mNumScalingKeys) channel->mScalingKeys = new aiVectorKey[channel->mNumScalingKeys];
    for (unsigned k = 0; k < channel->mNumPositionKeys; ++k)
        channel->mPositionKeys[k] = aiVectorKey(in.value(), in.vector());
    for (unsigned k = 0; k < channel->mNumRotationKeys; ++k)
        channel->mRotationKeys[k] =
            aiQuatKey(in.value(), aiQuaternion(in.value(), in.value(), in.value(), in.value()));
    for (unsigned k = 0; k < channel->mNumScalingKeys; ++k)
        channel->mScalingKeys[k] = aiVectorKey(in.value(), in.vector());
    return channel;
}

aiScene* makeScene(Bytes& in) {
    auto* scene = new aiScene();
    const unsigned nodes = in.below(kMaxNodes) + 1;
    aiNode* made[kMaxNodes] = {};
    std::vector<aiNode*> children[kMaxNodes];
    scene->mNumMeshes = in.below(4) + 1;
    for (unsigned i = 0; i < nodes; ++i) {
        made[i] = new aiNode(nodeName(i));
        if (in.u8() & 1) {
            const float s = in.u8() & 1 ? 100.0f : 1.0f;
            made[i]->mTransformation =
                aiMatrix4x4(aiVector3D(s), aiQuaternion(in.vector(), in.value()), in.vector());
        }
        made[i]->mNumMeshes = in.below(3);
        if (made[i]->mNumMeshes) made[i]->mMeshes = new unsigned[made[i]->mNumMeshes];
        for (unsigned k = 0; k < made[i]->mNumMeshes; ++k)
            made[i]->mMeshes[k] = in.below(scene->mNumMeshes + 1);
        if (i > 0) {
            const unsigned parent = in.below(i);
            made[i]->mParent = made[parent];
            children[parent].push_back(made[i]);
        }
    }
    for (unsigned i = 0; i < nodes; ++i)
        if (!children[i].empty()) {
            made[i]->mNumChildren = unsigned(children[i].size());
            made[i]->mChildren = new aiNode*[children[i].size()];
            std::copy(children[i].begin(), children[i].end(), made[i]->mChildren);
        }
    scene->mRootNode = made[0];
    scene->mMeshes = new aiMesh*[scene->mNumMeshes];
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        scene->mMeshes[m] = makeMesh(in);
    scene->mNumTextures = in.below(3);
    if (scene->mNumTextures) scene->mTextures = new aiTexture*[scene->mNumTextures];
    for (unsigned t = 0; t < scene->mNumTextures; ++t)
        scene->mTextures[t] = makeTexture(in);
    scene->mNumMaterials = in.below(3) + 1;
    scene->mMaterials = new aiMaterial*[scene->mNumMaterials];
    for (unsigned m = 0; m < scene->mNumMaterials; ++m)
        scene->mMaterials[m] = makeMaterial(in, scene->mNumTextures);
    scene->mNumCameras = in.below(3);
    if (scene->mNumCameras) scene->mCameras = new aiCamera*[scene->mNumCameras];
    for (unsigned c = 0; c < scene->mNumCameras; ++c) {
        auto* camera = new aiCamera();
        camera->mName = aiString(nodeName(in.below(kMaxNodes + 1)));
        camera->mPosition = in.vector();
        camera->mLookAt = in.vector();
        camera->mUp = in.vector();
        camera->mHorizontalFOV = in.value();
        camera->mAspect = in.value();
        scene->mCameras[c] = camera;
    }
    scene->mNumLights = in.below(3);
    if (scene->mNumLights) scene->mLights = new aiLight*[scene->mNumLights];
    for (unsigned l = 0; l < scene->mNumLights; ++l) {
        auto* light = new aiLight();
        light->mName = aiString(nodeName(in.below(kMaxNodes + 1)));
        light->mType = aiLightSourceType(in.below(6));
        light->mPosition = in.vector();
        light->mDirection = in.vector();
        light->mColorDiffuse = aiColor3D(in.value(), in.value(), in.value());
        light->mAttenuationLinear = in.value();
        light->mAttenuationQuadratic = in.value();
        scene->mLights[l] = light;
    }
    if (in.u8() & 1) {
        auto* animation = new aiAnimation();
        animation->mDuration = in.value() * 4.0;
        animation->mTicksPerSecond = in.value();
        animation->mNumChannels = in.below(3);
        if (animation->mNumChannels)
            animation->mChannels = new aiNodeAnim*[animation->mNumChannels];
        for (unsigned c = 0; c < animation->mNumChannels; ++c)
            animation->mChannels[c] = makeChannel(in);
        animation->mNumMorphMeshChannels = in.below(2);
        if (animation->mNumMorphMeshChannels) {
            auto* morph = new aiMeshMorphAnim();
            morph->mName = aiString(nodeName(in.below(kMaxNodes)));
            morph->mNumKeys = in.below(3);
            if (morph->mNumKeys) morph->mKeys = new aiMeshMorphKey[morph->mNumKeys];
            for (unsigned k = 0; k < morph->mNumKeys; ++k) {
                aiMeshMorphKey& key = morph->mKeys[k];
                key.mTime = in.value();
                key.mNumValuesAndWeights = in.below(3);
                if (key.mNumValuesAndWeights) {
                    key.mValues = new unsigned[key.mNumValuesAndWeights];
                    key.mWeights = new double[key.mNumValuesAndWeights];
                }
                for (unsigned v = 0; v < key.mNumValuesAndWeights; ++v) {
                    key.mValues[v] = in.below(4);
                    key.mWeights[v] = in.value();
                }
            }
            animation->mMorphMeshChannels = new aiMeshMorphAnim* [1] { morph };
        }
        scene->mNumAnimations = 1;
        scene->mAnimations = new aiAnimation* [1] { animation };
    }
    return scene;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > kMaxInput) return 0;
    if (data[0] % 8 == 7) {
        sceneimport::ImportResult decoded;
        if (sceneimport::decodeResult(data + 1, size - 1, decoded)) {
            const std::vector<uint8_t> again = sceneimport::encodeResult(decoded);
            if (again.size() != size - 1 || std::memcmp(again.data(), data + 1, size - 1) != 0)
                __builtin_trap(); // a record that decodes must encode to the same bytes
        }
        return 0;
    }
    Bytes in{data + 1, size - 1};
    std::unique_ptr<aiScene> scene(makeScene(in));
    sceneimport::ImportOptions options;
    options.maxKeys = kFuzzKeys;
    options.fps = float(data[0] % 8 + 1);
    options.scale = data[0] & 0x80 ? 0.01f : 1.0f;
    sceneimport::ImportResult result;
    if (!sceneimport::importScene(*scene, options, result)) return 0;
    const std::vector<uint8_t> bytes = scenewriter::writeScene(result.scene);
    if (bytes.size() < 302) __builtin_trap(); // a written scene always has its header
    const std::vector<uint8_t> record = sceneimport::encodeResult(result);
    sceneimport::ImportResult back;
    if (!sceneimport::decodeResult(record.data(), record.size(), back) ||
        scenewriter::writeScene(back.scene) != bytes)
        __builtin_trap(); // the result must cross to the parent unchanged
    return 0;
}
