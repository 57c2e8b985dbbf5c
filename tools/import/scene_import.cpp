// Assimp scene -> scene writer description. Positions stay in each mesh's own space with the
// node's world transform as the object's transform (sampled when a node above it moves);
// skinned and morphed meshes are evaluated here and stored as Morph keys.
#include "import/scene_import.h"

#include "import/materials.h"
#include "writers/byte_writer.h"

#include "image/png_writer.h"
#include "platform/paths.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

namespace sceneimport {

namespace {

using scenewriter::Key;
using scenewriter::Matrix12;

// The engine makes normals from the faces around shared vertices, so joining identical vertices
// (position, the source's normal, UV) keeps the source's hard edges split and its smooth
// surfaces shared; no normals are generated where the source has none.
constexpr unsigned kPostProcess = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                  aiProcess_SortByPType | aiProcess_LimitBoneWeights |
                                  aiProcess_GenUVCoords | aiProcess_TransformUVCoords |
                                  aiProcess_ValidateDataStructure;
// Deforming meshes write every vertex at every sample; past this the pose at 0 s is kept.
constexpr double kMaxDeformBytes = 256.0 * 1024 * 1024;
constexpr float kDefaultFov = 1.0f; // radians; the engine's fov is about the horizontal angle
constexpr float kDefaultAspect = 4.0f / 3.0f;

std::string nameOf(const aiString& s, const char* fallback, unsigned index) {
    if (s.length > 0) return std::string(s.C_Str(), s.length);
    return formatLine("%s%u", fallback, index);
}

bool finite3(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) &&
           std::fabs(v.x) <= kMaxCoordinate && std::fabs(v.y) <= kMaxCoordinate &&
           std::fabs(v.z) <= kMaxCoordinate;
}

Matrix12 toMatrix12(const aiMatrix4x4& m) {
    // Columns of the model matrix: X axis, Y axis, Z axis, position.
    Matrix12 out;
    const float values[12] = {m.a1, m.b1, m.c1, m.a2, m.b2, m.c2,
                              m.a3, m.b3, m.c3, m.a4, m.b4, m.c4};
    std::memcpy(out.m, values, sizeof values);
    return out;
}

bool matrixUsable(const aiMatrix4x4& m) {
    const float* v = &m.a1;
    for (int i = 0; i < 16; ++i)
        if (!std::isfinite(v[i]) || std::fabs(v[i]) > kMaxCoordinate) return false;
    return true;
}

template <typename KeyT> size_t keyBefore(const KeyT* keys, unsigned count, double ticks) {
    // Last key at or before ticks (0 when ticks is before the first).
    size_t lo = 0, hi = count;
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (keys[mid].mTime <= ticks)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

template <typename KeyT> float keyFactor(const KeyT* keys, size_t i, unsigned count, double ticks) {
    if (i + 1 >= count) return 0.0f;
    const double span = keys[i + 1].mTime - keys[i].mTime;
    if (!(span > 0)) return 0.0f;
    return float(std::clamp((ticks - keys[i].mTime) / span, 0.0, 1.0));
}

aiMatrix4x4 channelAt(const aiNodeAnim& c, const aiMatrix4x4& rest, double ticks) {
    aiVector3D restScale, restPosition;
    aiQuaternion restRotation;
    rest.Decompose(restScale, restRotation, restPosition);
    aiVector3D position = restPosition, scale = restScale;
    aiQuaternion rotation = restRotation;
    if (c.mNumPositionKeys > 0) {
        const size_t i = keyBefore(c.mPositionKeys, c.mNumPositionKeys, ticks);
        const float f = keyFactor(c.mPositionKeys, i, c.mNumPositionKeys, ticks);
        position = c.mPositionKeys[i].mValue;
        if (f > 0) position += (c.mPositionKeys[i + 1].mValue - position) * f;
    }
    if (c.mNumRotationKeys > 0) {
        const size_t i = keyBefore(c.mRotationKeys, c.mNumRotationKeys, ticks);
        const float f = keyFactor(c.mRotationKeys, i, c.mNumRotationKeys, ticks);
        rotation = c.mRotationKeys[i].mValue;
        if (f > 0) aiQuaternion::Interpolate(rotation, rotation, c.mRotationKeys[i + 1].mValue, f);
        rotation.Normalize();
    }
    if (c.mNumScalingKeys > 0) {
        const size_t i = keyBefore(c.mScalingKeys, c.mNumScalingKeys, ticks);
        const float f = keyFactor(c.mScalingKeys, i, c.mNumScalingKeys, ticks);
        scale = c.mScalingKeys[i].mValue;
        if (f > 0) scale += (c.mScalingKeys[i + 1].mValue - scale) * f;
    }
    return aiMatrix4x4(scale, rotation, position);
}

// Where one mesh instance goes: a split part of a mesh under one node.
struct Part {
    const aiNode* node = nullptr;
    const aiMesh* mesh = nullptr;
    std::vector<unsigned> sourceVertices; // part vertex -> mesh vertex
    std::vector<scenewriter::Face> faces;
    std::string name;
    int material = 0;
};

struct Importer {
    Importer(const aiScene& scene, const ImportOptions& o, const std::string& folder,
             ImportResult& result)
        : ai(scene), options(o), sourceFolder(folder), out(result) {}
    const aiScene& ai;
    ImportOptions options;
    std::string sourceFolder; // empty: external textures are not read
    ImportResult& out;

    const aiAnimation* animation = nullptr;
    double ticksPerSecond = 25.0;
    std::vector<double> sampleSeconds; // one entry (0) for a still scene
    std::unordered_map<const aiNode*, const aiNodeAnim*> channels;
    std::unordered_map<std::string, const aiNode*> nodesByName;
    // Nodes whose own scale is the exporter's unit scale, taken out of their transform.
    std::unordered_map<const aiNode*, float> unitScaled;
    // World positions of every vertex at 0 s, to tell whether a camera sees the model.
    std::vector<aiVector3D> firstFramePoints;
    std::vector<int> materialIndex; // Assimp material -> ours, -1 until used
    PictureTable pictures;
    std::vector<scenewriter::MaterialDesc> materialDescs;
    std::vector<scenewriter::Track> objectTracks, cameraTracks, lightTracks;
    std::vector<std::string> cameraLines; // each camera's report after its number
    std::vector<float> cameraFovs;        // each camera's first fov
    float boundsMin[3] = {1e30f, 1e30f, 1e30f};
    float boundsMax[3] = {-1e30f, -1e30f, -1e30f};

    bool fail(std::string line) {
        out.error = std::move(line);
        return false;
    }
    void note(std::string line) { out.notes.push_back(std::move(line)); }

    // The node's world transform at a sample, the import scale included.
    aiMatrix4x4 worldAt(const aiNode* node, double ticks) const {
        aiMatrix4x4 world;
        std::vector<const aiNode*> chain;
        for (const aiNode* n = node; n; n = n->mParent)
            chain.push_back(n);
        aiMatrix4x4::Scaling(aiVector3D(options.scale), world);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            auto c = channels.find(*it);
            world *= c != channels.end() ? channelAt(*c->second, (*it)->mTransformation, ticks)
                                         : (*it)->mTransformation;
            if (auto u = unitScaled.find(*it); u != unitScaled.end()) {
                aiMatrix4x4 undo;
                world *= aiMatrix4x4::Scaling(aiVector3D(1.0f / u->second), undo);
            }
        }
        return world;
    }
    bool moves(const aiNode* node) const {
        if (channels.empty()) return false;
        for (const aiNode* n = node; n; n = n->mParent)
            if (channels.count(n)) return true;
        return false;
    }
    double ticksAt(size_t sample) const { return sampleSeconds[sample] * ticksPerSecond; }

    void setUpAnimation();
    void collectNodes(const aiNode* node);
    void findUnitScale();
    bool seesModel(const Matrix12& pose, float fov) const;
    bool collectParts(const aiNode* node, std::vector<Part>& parts);
    int useMaterial(unsigned index);
    const aiMeshMorphAnim* morphChannelFor(const Part& part) const;
    bool positionsAt(const Part& part, size_t sample, std::vector<aiVector3D>& positions,
                     bool& worldSpace);
    bool addObject(const Part& part);
    bool addCameras();
    void addLights();
    void addFramingCamera(bool first);
    void addHeadlight();
    bool run();
};

void Importer::setUpAnimation() {
    sampleSeconds.assign(1, 0.0);
    if (ai.mNumAnimations == 0) return;
    animation = ai.mAnimations[0];
    if (ai.mNumAnimations > 1)
        note(formatLine("animations: only the first of %u is sampled ('%s'); the scene format "
                        "plays one timeline",
                        ai.mNumAnimations, animation->mName.C_Str()));
    ticksPerSecond = animation->mTicksPerSecond > 0 ? animation->mTicksPerSecond : 25.0;
    for (unsigned i = 0; i < animation->mNumChannels; ++i) {
        const aiNodeAnim* c = animation->mChannels[i];
        auto n = nodesByName.find(std::string(c->mNodeName.C_Str()));
        if (n != nodesByName.end()) channels[n->second] = c;
    }
    const double seconds = animation->mDuration / ticksPerSecond;
    if (!(seconds > 0) || !std::isfinite(seconds)) return;
    double count = std::ceil(seconds * options.fps - 1e-6) + 1;
    const int maxKeys = std::clamp(options.maxKeys, 1, kMaxTrackKeys);
    if (count > maxKeys) {
        note(formatLine("animation: %.1f s at %g fps needs %.0f keys; cut to the first %d", seconds,
                        double(options.fps), count, maxKeys));
        count = maxKeys;
    }
    sampleSeconds.clear();
    for (int i = 0; i < int(count); ++i)
        sampleSeconds.push_back(std::min(double(i) / options.fps, seconds));
}

void Importer::collectNodes(const aiNode* node) {
    nodesByName.emplace(std::string(node->mName.C_Str()), node);
    for (unsigned i = 0; i < node->mNumChildren; ++i)
        collectNodes(node->mChildren[i]);
}

// Some exporters give every node the same uniform scale (×100 from centimetres, say) while the
// positions of cameras and lights stay in the file's units, so models come out a hundred times
// too large around their own cameras. When every node that holds a mesh, camera or light shares
// one such scale, it is the file's unit scale and is taken out of those nodes.
void Importer::findUnitScale() {
    std::vector<const aiNode*> holders;
    bool hasMesh = false, hasView = false;
    for (const auto& [name, node] : nodesByName) {
        bool view = false;
        for (unsigned i = 0; i < ai.mNumCameras && !view; ++i)
            view = name == ai.mCameras[i]->mName.C_Str();
        for (unsigned i = 0; i < ai.mNumLights && !view; ++i)
            view = name == ai.mLights[i]->mName.C_Str();
        if (node->mNumMeshes == 0 && !view) continue;
        hasMesh = hasMesh || node->mNumMeshes > 0;
        hasView = hasView || view;
        holders.push_back(node);
    }
    if (!hasMesh || !hasView) return;
    float common = 0;
    for (const aiNode* node : holders) {
        const aiMatrix4x4& m = node->mTransformation;
        const float sx = aiVector3D(m.a1, m.b1, m.c1).Length();
        const float sy = aiVector3D(m.a2, m.b2, m.c2).Length();
        const float sz = aiVector3D(m.a3, m.b3, m.c3).Length();
        if (!std::isfinite(sx) || !(sx > 0)) return;
        if (common == 0) common = sx;
        for (float v : {sx, sy, sz})
            if (!(std::fabs(v - common) <= 1e-3f * common)) return;
    }
    if (std::fabs(common - 1.0f) <= 1e-3f || !(common < kMaxCoordinate)) return;
    for (const aiNode* node : holders)
        unitScaled[node] = common;
    note(formatLine("scale: every object, camera and light node carries the same x%g scale, the "
                    "exporter's unit scale; taken out so the models keep their size beside the "
                    "cameras and lights (--scale sizes the whole scene)",
                    double(common)));
}

int Importer::useMaterial(unsigned index) {
    if (index >= ai.mNumMaterials) return -1;
    if (materialIndex[index] >= 0) return materialIndex[index];
    const MaterialImport m = importMaterial(*ai.mMaterials[index], ai, sourceFolder, pictures, out);
    materialIndex[index] = int(materialDescs.size());
    materialDescs.push_back(m.desc);
    out.lines.push_back(formatLine("material %d '%s': %s", materialIndex[index], m.name.c_str(),
                                   m.summary.c_str()));
    return materialIndex[index];
}

bool Importer::collectParts(const aiNode* node, std::vector<Part>& parts) {
    for (unsigned k = 0; k < node->mNumMeshes; ++k) {
        if (node->mMeshes[k] >= ai.mNumMeshes) continue;
        const aiMesh* mesh = ai.mMeshes[node->mMeshes[k]];
        const std::string meshName = nameOf(mesh->mName, "mesh", node->mMeshes[k]);
        if (!(mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || mesh->mNumFaces == 0) {
            note(formatLine("mesh '%s': points or lines only, dropped (the engine draws "
                            "triangles)",
                            meshName.c_str()));
            continue;
        }
        for (unsigned v = 0; v < mesh->mNumVertices; ++v)
            if (!finite3(mesh->mVertices[v] * options.scale))
                return fail(formatLine("mesh '%s' has a coordinate that is not a number or "
                                       "beyond %g (after --scale)",
                                       meshName.c_str(), double(kMaxCoordinate)));
        std::string base = nameOf(node->mName, "node", unsigned(parts.size()));
        if (node->mNumMeshes > 1 || base != meshName) base += "." + meshName;
        const int material = useMaterial(mesh->mMaterialIndex);
        std::vector<int> partVertex(mesh->mNumVertices, -1);
        const size_t first = parts.size();
        Part* part = nullptr;
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3) continue;
            bool inRange = true;
            int fresh = 0;
            for (int c = 0; c < 3; ++c) {
                inRange = inRange && face.mIndices[c] < mesh->mNumVertices;
                if (inRange && (part == nullptr || partVertex[face.mIndices[c]] < 0)) ++fresh;
            }
            if (!inRange) continue;
            if (part == nullptr ||
                part->sourceVertices.size() + size_t(fresh) > size_t(kMaxObjectVertices) ||
                part->faces.size() >= size_t(kMaxObjectFaces)) {
                if (part)
                    for (unsigned s : part->sourceVertices)
                        partVertex[s] = -1;
                parts.push_back(Part{node, mesh, {}, {}, base, material});
                part = &parts.back();
            }
            scenewriter::Face out;
            uint16_t* corner[3] = {&out.a, &out.b, &out.c};
            for (int c = 0; c < 3; ++c) {
                int& slot = partVertex[face.mIndices[c]];
                if (slot < 0) {
                    slot = int(part->sourceVertices.size());
                    part->sourceVertices.push_back(face.mIndices[c]);
                }
                *corner[c] = uint16_t(slot);
            }
            part->faces.push_back(out);
        }
        const size_t made = parts.size() - first;
        if (made > 1) {
            for (size_t i = 0; i < made; ++i)
                parts[first + i].name += formatLine("#%zu", i + 1);
            note(formatLine("mesh '%s': %u vertices, %u faces split into %zu objects (at most "
                            "%d vertices and %d faces each)",
                            meshName.c_str(), mesh->mNumVertices, mesh->mNumFaces, made,
                            kMaxObjectVertices, kMaxObjectFaces));
        }
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i)
        if (!collectParts(node->mChildren[i], parts)) return false;
    return true;
}

const aiMeshMorphAnim* Importer::morphChannelFor(const Part& part) const {
    if (!animation || part.mesh->mNumAnimMeshes == 0) return nullptr;
    for (unsigned i = 0; i < animation->mNumMorphMeshChannels; ++i) {
        const aiMeshMorphAnim* c = animation->mMorphMeshChannels[i];
        const std::string name = c->mName.C_Str();
        if (name == part.node->mName.C_Str() || name == part.mesh->mName.C_Str() ||
            name.rfind(std::string(part.node->mName.C_Str()) + "*", 0) == 0)
            return c;
    }
    return nullptr;
}

// The part's vertex positions at a sample: the mesh's own for a rigid part, the morphed ones in
// mesh space, or the skinned ones in world space (worldSpace set).
bool Importer::positionsAt(const Part& part, size_t sample, std::vector<aiVector3D>& positions,
                           bool& worldSpace) {
    const aiMesh& mesh = *part.mesh;
    const double ticks = ticksAt(sample);
    positions.resize(part.sourceVertices.size());
    worldSpace = mesh.mNumBones > 0;
    if (worldSpace) {
        std::vector<aiVector3D> skinned(mesh.mNumVertices, aiVector3D(0, 0, 0));
        std::vector<float> weight(mesh.mNumVertices, 0.0f);
        for (unsigned b = 0; b < mesh.mNumBones; ++b) {
            const aiBone& bone = *mesh.mBones[b];
            const auto n = nodesByName.find(std::string(bone.mName.C_Str()));
            const aiMatrix4x4 m =
                (n != nodesByName.end() ? worldAt(n->second, ticks) : worldAt(part.node, ticks)) *
                bone.mOffsetMatrix;
            for (unsigned w = 0; w < bone.mNumWeights; ++w) {
                const aiVertexWeight& vw = bone.mWeights[w];
                if (vw.mVertexId >= mesh.mNumVertices || !std::isfinite(vw.mWeight)) continue;
                skinned[vw.mVertexId] += (m * mesh.mVertices[vw.mVertexId]) * vw.mWeight;
                weight[vw.mVertexId] += vw.mWeight;
            }
        }
        const aiMatrix4x4 rest = worldAt(part.node, ticks);
        for (size_t i = 0; i < positions.size(); ++i) {
            const unsigned s = part.sourceVertices[i];
            positions[i] = weight[s] > 0 ? skinned[s] / weight[s] : rest * mesh.mVertices[s];
        }
    } else {
        for (size_t i = 0; i < positions.size(); ++i)
            positions[i] = mesh.mVertices[part.sourceVertices[i]];
        if (const aiMeshMorphAnim* c = morphChannelFor(part); c && c->mNumKeys > 0) {
            const size_t k = keyBefore(c->mKeys, c->mNumKeys, ticks);
            const float f = keyFactor(c->mKeys, k, c->mNumKeys, ticks);
            std::vector<float> weights(mesh.mNumAnimMeshes, 0.0f);
            for (int side = 0; side < 2; ++side) {
                if (side == 1 && f <= 0) break;
                const aiMeshMorphKey& key = c->mKeys[k + side];
                const float share = side == 0 ? 1.0f - f : f;
                for (unsigned j = 0; j < key.mNumValuesAndWeights; ++j)
                    if (key.mValues[j] < mesh.mNumAnimMeshes)
                        weights[key.mValues[j]] += float(key.mWeights[j]) * share;
            }
            for (unsigned t = 0; t < mesh.mNumAnimMeshes; ++t) {
                const aiAnimMesh* target = mesh.mAnimMeshes[t];
                if (weights[t] == 0 || !target->mVertices ||
                    target->mNumVertices != mesh.mNumVertices)
                    continue;
                for (size_t i = 0; i < positions.size(); ++i) {
                    const unsigned s = part.sourceVertices[i];
                    positions[i] += (target->mVertices[s] - mesh.mVertices[s]) * weights[t];
                }
            }
        }
    }
    for (const aiVector3D& p : positions)
        if (!finite3(p))
            return fail(formatLine("mesh '%s' moves to a coordinate that is not a "
                                   "number or beyond %g",
                                   part.name.c_str(), double(kMaxCoordinate)));
    return true;
}

bool Importer::addObject(const Part& part) {
    const aiMesh& mesh = *part.mesh;
    const bool deforms = mesh.mNumBones > 0 || morphChannelFor(part) != nullptr;
    const bool moving = moves(part.node);
    size_t samples = (deforms || moving) ? sampleSeconds.size() : 1;
    const bool hasUV = mesh.HasTextureCoords(0);
    const double bytesPerSample = double(part.sourceVertices.size()) * (hasUV ? 20 : 12);
    if (deforms && samples > 1 && bytesPerSample * double(samples) > kMaxDeformBytes) {
        note(formatLine("object '%s': its deformation would need %.0f MiB of keys; kept as "
                        "posed at 0 s",
                        part.name.c_str(), bytesPerSample * double(samples) / (1 << 20)));
        samples = moving ? samples : 1;
    }
    const bool deformKeys =
        deforms && (moving || samples > 1) && bytesPerSample * double(samples) <= kMaxDeformBytes;

    scenewriter::Mesh m;
    m.materialIndex = part.material >= 0 ? uint16_t(part.material) : uint16_t(0xEFFF);
    m.hasUV = hasUV;
    m.faces = part.faces;
    std::vector<aiVector3D> positions;
    bool worldSpace = false;
    if (!positionsAt(part, 0, positions, worldSpace)) return false;
    aiMatrix4x4 transform;
    if (worldSpace)
        aiMatrix4x4::Scaling(aiVector3D(1.0f), transform);
    else
        transform = worldAt(part.node, ticksAt(0));
    if (!matrixUsable(transform))
        return fail(formatLine("node of '%s' has a transform that is not a number or beyond %g",
                               part.name.c_str(), double(kMaxCoordinate)));
    m.transform = toMatrix12(transform);
    m.vertices.resize(positions.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        scenewriter::Vertex& v = m.vertices[i];
        v.x = positions[i].x;
        v.y = positions[i].y;
        v.z = positions[i].z;
        if (hasUV) {
            const aiVector3D& uv = mesh.mTextureCoords[0][part.sourceVertices[i]];
            v.u = std::isfinite(uv.x) ? uv.x : 0.0f;
            v.v = std::isfinite(uv.y) ? uv.y : 0.0f;
        }
        const aiVector3D world = transform * positions[i];
        firstFramePoints.push_back(world);
        for (int c = 0; c < 3; ++c) {
            boundsMin[c] = std::min(boundsMin[c], world[c]);
            boundsMax[c] = std::max(boundsMax[c], world[c]);
        }
    }
    scenewriter::Track track;
    track.name = part.name.substr(0, 63);
    track.type = scenewriter::kObjectTrack;
    track.keys.push_back(scenewriter::meshKey(sampleSeconds[0], m));
    for (size_t s = 1; s < samples; ++s) {
        aiMatrix4x4 at;
        if (!worldSpace) at = worldAt(part.node, ticksAt(s));
        if (!matrixUsable(at))
            return fail(formatLine("node of '%s' moves to a transform that is not a number or "
                                   "beyond %g",
                                   part.name.c_str(), double(kMaxCoordinate)));
        if (!deformKeys) {
            track.keys.push_back(scenewriter::transformKey(sampleSeconds[s], toMatrix12(at)));
            continue;
        }
        if (!positionsAt(part, s, positions, worldSpace)) return false;
        std::vector<scenewriter::Vertex> vertices(m.vertices);
        for (size_t i = 0; i < positions.size(); ++i) {
            vertices[i].x = positions[i].x;
            vertices[i].y = positions[i].y;
            vertices[i].z = positions[i].z;
        }
        track.keys.push_back(
            scenewriter::morphKey(sampleSeconds[s], toMatrix12(at), vertices, hasUV));
    }
    if (mesh.GetNumUVChannels() > 1)
        note(formatLine("object '%s': %u more texture coordinate sets dropped", part.name.c_str(),
                        mesh.GetNumUVChannels() - 1));
    if (mesh.mNumBones > 0 && mesh.mNumAnimMeshes > 0)
        note(formatLine("object '%s': skinned and morphed; only the skin is sampled",
                        part.name.c_str()));
    out.lines.push_back(
        formatLine("object %d '%s': %zu vertices, %zu faces, material %d, %zu keys%s",
                   int(objectTracks.size()), track.name.c_str(), m.vertices.size(), m.faces.size(),
                   part.material, track.keys.size(),
                   deformKeys ? (mesh.mNumBones > 0 ? " (skinned, sampled)" : " (morphed, sampled)")
                              : (samples > 1 ? " (moves)" : "")));
    out.keys += int(track.keys.size());
    objectTracks.push_back(std::move(track));
    return true;
}

// Rotation rows of a camera at eye looking along forward with the given up.
Matrix12 cameraPose(const aiVector3D& eye, aiVector3D forward, const aiVector3D& upHint) {
    forward.Normalize();
    aiVector3D right = forward ^ upHint;
    if (right.SquareLength() < 1e-12f) right = forward ^ aiVector3D(0, 0, 1);
    if (right.SquareLength() < 1e-12f) right = aiVector3D(1, 0, 0);
    right.Normalize();
    const aiVector3D up = right ^ forward;
    Matrix12 m;
    const float values[12] = {right.x,    right.y,    right.z,    up.x,  up.y,  up.z,
                              -forward.x, -forward.y, -forward.z, eye.x, eye.y, eye.z};
    std::memcpy(m.m, values, sizeof values);
    return m;
}

bool Importer::addCameras() {
    for (unsigned i = 0; i < ai.mNumCameras; ++i) {
        const aiCamera& cam = *ai.mCameras[i];
        const std::string name = nameOf(cam.mName, "camera", i);
        const auto n = nodesByName.find(name);
        const aiNode* node = n != nodesByName.end() ? n->second : nullptr;
        // The engine's fov is the vertical angle times the window's aspect (4:3 by default).
        // Assimp's importers (Collada, glTF, FBX) fill mHorizontalFOV with the full angle.
        const float aspect =
            cam.mAspect > 0 && std::isfinite(cam.mAspect) ? cam.mAspect : kDefaultAspect;
        float fov = kDefaultFov;
        if (cam.mHorizontalFOV > 0 && cam.mHorizontalFOV < 3.1f)
            fov = 2.0f * std::atan(std::tan(cam.mHorizontalFOV / 2.0f) / aspect) * kDefaultAspect;
        if (cam.mOrthographicWidth > 0)
            note(formatLine("camera '%s': orthographic, shown in perspective", name.c_str()));
        scenewriter::Track track;
        track.name = name.substr(0, 63);
        track.type = scenewriter::kCameraTrack;
        const size_t samples = node && moves(node) ? sampleSeconds.size() : 1;
        // The camera's position, look-at and up are in its node's space. Some readers (3DS)
        // repeat the node's position in the camera: counted once.
        aiVector3D position = cam.mPosition;
        if (node && position.SquareLength() > 0) {
            const aiMatrix4x4& local = node->mTransformation;
            const aiVector3D offset(local.a4, local.b4, local.c4);
            if ((offset - position).Length() <= 1e-4f * std::max(1.0f, position.Length())) {
                position = aiVector3D(0, 0, 0);
                note(formatLine("camera '%s': its position repeats its node's; counted once",
                                name.c_str()));
            }
        }
        for (size_t s = 0; s < samples; ++s) {
            aiMatrix4x4 world;
            aiMatrix4x4::Scaling(aiVector3D(options.scale), world);
            if (node) world = worldAt(node, ticksAt(s));
            if (!matrixUsable(world))
                return fail(formatLine("camera '%s' has a transform that is not a number or "
                                       "beyond %g",
                                       name.c_str(), double(kMaxCoordinate)));
            aiMatrix3x3 turn(world);
            const aiVector3D eye = world * position;
            if (!finite3(eye))
                return fail(formatLine("camera '%s' stands at a coordinate that is not a number "
                                       "or beyond %g",
                                       name.c_str(), double(kMaxCoordinate)));
            aiVector3D look = turn * cam.mLookAt, up = turn * cam.mUp;
            if (!finite3(look) || look.SquareLength() < 1e-20f) look = aiVector3D(0, 0, -1);
            if (!finite3(up)) up = aiVector3D(0, 1, 0);
            track.keys.push_back(
                scenewriter::cameraKey(sampleSeconds[s], cameraPose(eye, look, up), fov));
        }
        cameraLines.push_back(formatLine("'%s': fov %.3f rad, %zu keys%s", track.name.c_str(),
                                         double(fov), track.keys.size(),
                                         samples > 1 ? " (moves)" : ""));
        cameraFovs.push_back(fov);
        out.keys += int(track.keys.size());
        cameraTracks.push_back(std::move(track));
    }
    return true;
}

void Importer::addLights() {
    const aiVector3D centre((boundsMin[0] + boundsMax[0]) / 2, (boundsMin[1] + boundsMax[1]) / 2,
                            (boundsMin[2] + boundsMax[2]) / 2);
    const float radius =
        std::max(0.5f * std::sqrt((boundsMax[0] - boundsMin[0]) * (boundsMax[0] - boundsMin[0]) +
                                  (boundsMax[1] - boundsMin[1]) * (boundsMax[1] - boundsMin[1]) +
                                  (boundsMax[2] - boundsMin[2]) * (boundsMax[2] - boundsMin[2])),
                 1.0f);
    for (unsigned i = 0; i < ai.mNumLights; ++i) {
        const aiLight& light = *ai.mLights[i];
        const std::string name = nameOf(light.mName, "light", i);
        auto channel = [](float v) { return std::isfinite(v) ? std::max(v, 0.0f) : 0.0f; };
        const float colour[3] = {channel(light.mColorDiffuse.r), channel(light.mColorDiffuse.g),
                                 channel(light.mColorDiffuse.b)};
        if (light.mType == aiLightSource_AMBIENT) {
            for (int c = 0; c < 3; ++c)
                out.scene.ambient[c] = std::min(1.0f, out.scene.ambient[c] + colour[c]);
            out.lines.push_back(formatLine("light '%s': ambient, added to the scene's ambient "
                                           "colour",
                                           name.c_str()));
            continue;
        }
        const auto n = nodesByName.find(name);
        const aiNode* node = n != nodesByName.end() ? n->second : nullptr;
        float range = 0;
        const bool directional = light.mType == aiLightSource_DIRECTIONAL;
        if (!directional) {
            if (light.mAttenuationQuadratic > 0 && std::isfinite(light.mAttenuationQuadratic))
                range = 1.0f / std::sqrt(light.mAttenuationQuadratic);
            else if (light.mAttenuationLinear > 0 && std::isfinite(light.mAttenuationLinear)) {
                range = 1.0f / light.mAttenuationLinear;
                note(formatLine("light '%s': linear fall-off approximated as quadratic",
                                name.c_str()));
            }
            if (!(range < kMaxCoordinate)) range = 0;
        }
        if (light.mType == aiLightSource_SPOT || light.mType == aiLightSource_AREA)
            note(formatLine("light '%s': %s light shown as a point light", name.c_str(),
                            light.mType == aiLightSource_SPOT ? "spot" : "area"));
        if (directional)
            note(formatLine("light '%s': directional, placed far away along its direction "
                            "(the engine's lights have a position)",
                            name.c_str()));
        scenewriter::Track track;
        track.name = name.substr(0, 63);
        track.type = scenewriter::kLightTrack;
        const size_t samples = node && moves(node) ? sampleSeconds.size() : 1;
        bool usable = true;
        float shownRange = 0;
        for (size_t s = 0; s < samples && usable; ++s) {
            aiMatrix4x4 world;
            aiMatrix4x4::Scaling(aiVector3D(options.scale), world);
            if (node) world = worldAt(node, ticksAt(s));
            aiVector3D position = world * light.mPosition;
            if (directional) {
                aiVector3D direction = aiMatrix3x3(world) * light.mDirection;
                if (!finite3(direction) || direction.SquareLength() < 1e-20f)
                    direction = aiVector3D(0, -1, 0);
                direction.Normalize();
                position = centre - direction * (radius * 100.0f);
            }
            usable = matrixUsable(world) && finite3(position);
            // The range is in the light's space: it grows and shrinks with the geometry.
            const float size = aiVector3D(world.a1, world.b1, world.c1).Length();
            const float reach = range * size;
            const float at[3] = {position.x, position.y, position.z};
            track.keys.push_back(scenewriter::lightKey(sampleSeconds[s], at, colour,
                                                       reach < kMaxCoordinate ? reach : 0.0f));
            if (s == 0) shownRange = reach < kMaxCoordinate ? reach : 0.0f;
        }
        if (!usable) {
            note(formatLine("light '%s': dropped, its position is not a number or too far",
                            name.c_str()));
            continue;
        }
        out.lines.push_back(formatLine(
            "light %d '%s': %s, colour %.2f %.2f %.2f, range %g, %zu keys%s",
            int(lightTracks.size()), track.name.c_str(), directional ? "directional" : "point",
            double(colour[0]), double(colour[1]), double(colour[2]), double(shownRange),
            track.keys.size(), samples > 1 ? " (moves)" : ""));
        out.keys += int(track.keys.size());
        lightTracks.push_back(std::move(track));
    }
    if (lightTracks.size() > 9)
        note(formatLine("lights: %zu, but the engine lights at most 9", lightTracks.size()));
}

// Whether any vertex at 0 s lies in the view of a camera at pose (rows right, up, back, then
// the eye): between the engine's near and far planes, inside the angles at a 4:3 window.
bool Importer::seesModel(const Matrix12& pose, float fov) const {
    const float* m = pose.m;
    const aiVector3D right(m[0], m[1], m[2]), up(m[3], m[4], m[5]), back(m[6], m[7], m[8]);
    const aiVector3D eye(m[9], m[10], m[11]);
    const float tanY = std::tan(fov / kDefaultAspect / 2.0f);
    const float tanX = tanY * kDefaultAspect;
    for (const aiVector3D& p : firstFramePoints) {
        const aiVector3D d = p - eye;
        const float depth = -(d * back);
        if (depth < 1.0f || depth > 20000.0f) continue;
        if (std::fabs(d * right) <= depth * tanX && std::fabs(d * up) <= depth * tanY) return true;
    }
    return false;
}

void Importer::addFramingCamera(bool first) {
    const aiVector3D centre((boundsMin[0] + boundsMax[0]) / 2, (boundsMin[1] + boundsMax[1]) / 2,
                            (boundsMin[2] + boundsMax[2]) / 2);
    const aiVector3D size(boundsMax[0] - boundsMin[0], boundsMax[1] - boundsMin[1],
                          boundsMax[2] - boundsMin[2]);
    const float radius = std::max(0.5f * size.Length(), 1e-3f);
    // Half the vertical angle at the default window's aspect; the engine's near plane is 1.
    const float half = kDefaultFov / kDefaultAspect / 2.0f;
    const float distance = std::max(radius / std::sin(half) * 1.05f, radius + 1.5f);
    aiVector3D from(1.0f, 0.6f, 1.4f);
    from.Normalize();
    const aiVector3D eye = centre + from * distance;
    scenewriter::Track track;
    track.name = "framing camera";
    track.type = scenewriter::kCameraTrack;
    track.keys.push_back(scenewriter::cameraKey(
        0.0, cameraPose(eye, centre - eye, aiVector3D(0, 1, 0)), kDefaultFov));
    note(formatLine("camera: %s; added one framing the bounding box (centre %.3g %.3g %.3g, "
                    "radius %.3g)%s",
                    first ? "the source's cameras see none of the model at 0 s"
                          : "the source has none",
                    double(centre.x), double(centre.y), double(centre.z), double(radius),
                    first ? " as camera 1, before them" : ""));
    if (radius < 0.5f)
        note(formatLine("scene: only %.3g units across, small for the viewer's near plane at 1 "
                        "unit; --scale enlarges it",
                        double(2 * radius)));
    if (distance + radius > 20000.0f)
        note(formatLine("scene: %.3g units across, beyond the viewer's far plane at 20000 units; "
                        "--scale shrinks it",
                        double(2 * radius)));
    const std::string line =
        formatLine("'%s': fov %.3f rad, 1 keys (added)", track.name.c_str(), double(kDefaultFov));
    out.keys += 1;
    const size_t at = first ? 0 : cameraTracks.size();
    cameraLines.insert(cameraLines.begin() + long(at), line);
    cameraFovs.insert(cameraFovs.begin() + long(at), kDefaultFov);
    cameraTracks.insert(cameraTracks.begin() + long(at), std::move(track));
}

void Importer::addHeadlight() {
    // Without a light the fixed-function scene would show only its ambient term.
    scenewriter::Track track;
    track.name = "headlight";
    track.type = scenewriter::kLightTrack;
    const float* pose = nullptr;
    const std::vector<uint8_t>& first = cameraTracks[0].keys[0].data;
    float values[12] = {};
    std::memcpy(values, first.data(), sizeof values);
    pose = values + 9;
    const float white[3] = {1, 1, 1};
    track.keys.push_back(scenewriter::lightKey(0.0, pose, white, 0.0f));
    note("light: the source has none; added a white light at the first camera's position");
    out.lines.push_back(formatLine("light %d 'headlight': point, colour 1.00 1.00 1.00, range 0, "
                                   "1 keys (added)",
                                   int(lightTracks.size())));
    out.keys += 1;
    lightTracks.push_back(std::move(track));
}

bool Importer::run() {
    if (!ai.mRootNode) return fail("the file holds no scene");
    collectNodes(ai.mRootNode);
    findUnitScale();
    materialIndex.assign(ai.mNumMaterials, -1);
    setUpAnimation();
    std::vector<Part> parts;
    if (!collectParts(ai.mRootNode, parts)) return false;
    if (parts.empty()) return fail("the file holds no triangle meshes");
    for (const Part& part : parts)
        if (!addObject(part)) return false;
    if (!addCameras()) return false;
    bool seen = cameraTracks.empty();
    for (size_t i = 0; i < cameraTracks.size() && !seen; ++i) {
        Matrix12 pose;
        std::memcpy(pose.m, cameraTracks[i].keys[0].data.data(), sizeof pose.m);
        seen = seesModel(pose, cameraFovs[i]);
    }
    if (cameraTracks.empty() || !seen) addFramingCamera(!cameraTracks.empty());
    for (size_t i = 0; i < cameraLines.size(); ++i)
        out.lines.push_back(formatLine("camera %zu %s", i, cameraLines[i].c_str()));
    addLights();
    if (lightTracks.empty()) addHeadlight();
    if (animation && channels.empty() && animation->mNumMorphMeshChannels == 0)
        note("animation: its channels name no node of the scene; nothing moves");
    if (ai.mNumAnimations > 0 && animation && animation->mNumMeshChannels > 0)
        note("animation: mesh-replacement channels dropped");

    scenewriter::Scene& scene = out.scene;
    const double end = sampleSeconds.size() > 1 ? sampleSeconds.back() : 1.0;
    scenewriter::setStartEnd(scene, 0.0, end);
    if (scene.ambient[0] == 0 && scene.ambient[1] == 0 && scene.ambient[2] == 0)
        scene.ambient[0] = scene.ambient[1] = scene.ambient[2] = 0.2f;
    for (auto* list : {&objectTracks, &cameraTracks, &lightTracks})
        for (scenewriter::Track& t : *list)
            scene.tracks.push_back(std::move(t));
    for (size_t i = 0; i < materialDescs.size(); ++i)
        scene.tracks.push_back(
            scenewriter::materialTrack(formatLine("material %zu", i), materialDescs[i]));
    out.objects = int(objectTracks.size());
    out.cameras = int(cameraTracks.size());
    out.lights = int(lightTracks.size());
    out.materials = int(materialDescs.size());
    if (out.objects > 65535 || out.materials > 65535)
        return fail("the scene has more objects or materials than the format counts (65535)");
    return true;
}

std::string oneLine(const char* text) {
    std::string s = text ? text : "";
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s.empty() ? "Assimp gave no reason" : s;
}

bool validOptions(const ImportOptions& options, ImportResult& result) {
    if (!(options.fps > 0 && options.fps <= 1000)) {
        result.error = "--fps must lie in (0, 1000]";
        return false;
    }
    if (!(options.scale > 0 && options.scale < 1e9f)) {
        result.error = "--scale must be a positive number";
        return false;
    }
    return true;
}

// Assimp 5.2's PLY reader never returns on a header without its end line; such files are
// refused before it sees them.
constexpr size_t kPlyHeaderBytes = 1 << 16;
bool damagedPlyHeader(const uint8_t* data, size_t size) {
    if (size < 3 || std::memcmp(data, "ply", 3) != 0) return false;
    const std::string head(reinterpret_cast<const char*>(data), std::min(size, kPlyHeaderBytes));
    return head.find("end_header") == std::string::npos;
}

// The reader's output is validated and its primitive flags recomputed from the faces before any
// other step runs: Assimp's triangulation aborts when a damaged file leaves the flags wrong, and
// other steps on indices past a mesh's vertices, which validation refuses.
const aiScene* readThenProcess(Assimp::Importer& assimp, const aiScene* read, std::string& why) {
    if (!read) return nullptr;
    // The importer owns the scene; the steps below change it in place anyway.
    aiScene* scene = const_cast<aiScene*>(read);
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        aiMesh* mesh = scene->mMeshes[m];
        unsigned types = 0;
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const unsigned n = mesh->mFaces[f].mNumIndices;
            types |= n == 0   ? 0u
                     : n == 1 ? unsigned(aiPrimitiveType_POINT)
                     : n == 2 ? unsigned(aiPrimitiveType_LINE)
                     : n == 3 ? unsigned(aiPrimitiveType_TRIANGLE)
                              : unsigned(aiPrimitiveType_POLYGON);
            if (n == 0) {
                why = "a face without corners";
                return nullptr;
            }
        }
        mesh->mPrimitiveTypes = types;
    }
    return assimp.ApplyPostProcessing(kPostProcess & ~unsigned(aiProcess_ValidateDataStructure));
}

bool convert(const aiScene* scene, const char* reason, const ImportOptions& options,
             const std::string& folder, const std::string& stem, ImportResult& result) {
    if (!scene) {
        result.error = "Assimp cannot read it: " + oneLine(reason);
        return false;
    }
    if (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) {
        result.error = "the file holds no complete scene (no meshes)";
        return false;
    }
    Importer importer{*scene, options, folder, result};
    importer.pictures.modelStem = stem;
    return importer.run();
}

bool overBudget(int64_t faces, const ImportOptions& options, ImportResult& result) {
    if (faces <= options.maxFaces) return false;
    result.error = formatLine("%lld faces, over the import budget of %lld faces (--max-faces N "
                              "raises it)",
                              (long long)faces, (long long)options.maxFaces);
    return true;
}

bool overByteBudget(uint64_t bytes, const ImportOptions& options, ImportResult& result) {
    if (bytes <= uint64_t(options.maxFileBytes)) return false;
    result.error = formatLine("%llu bytes, over the import budget of %lld bytes (--max-bytes N "
                              "raises it)",
                              (unsigned long long)bytes, (long long)options.maxFileBytes);
    return true;
}

// Faces counted from the file before the parse, for the formats whose faces are cheap to count
// (OBJ: "f" lines; STL: the binary count or "endfacet" lines; PLY: the header's face count).
// -1 for other formats: their faces are counted after the parse.
struct FaceCounter {
    enum Kind { kNone, kObj, kStl, kPly } kind = kNone;
    int64_t faces = 0;
    bool lineStart = true; // the next byte starts a line
    int state = 0;         // OBJ: 1 after 'f' at a line start; STL: bytes of "endfacet" matched
    std::string head;      // PLY's header or STL's first bytes
};

FaceCounter::Kind kindOf(const std::string& extension) {
    std::string e;
    for (char c : extension)
        e += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (e == "obj") return FaceCounter::kObj;
    if (e == "stl") return FaceCounter::kStl;
    if (e == "ply") return FaceCounter::kPly;
    return FaceCounter::kNone;
}

void countFaces(FaceCounter& counter, const uint8_t* data, size_t size) {
    static const char kEndFacet[] = "endfacet";
    if (counter.kind == FaceCounter::kPly || counter.kind == FaceCounter::kStl)
        counter.head.append(
            reinterpret_cast<const char*>(data),
            std::min(size, kPlyHeaderBytes - std::min(kPlyHeaderBytes, counter.head.size())));
    for (size_t i = 0; i < size; ++i) {
        const char c = char(data[i]);
        if (counter.kind == FaceCounter::kObj) {
            if (counter.state == 1 && (c == ' ' || c == '\t')) ++counter.faces;
            counter.state = counter.lineStart && c == 'f' ? 1 : 0;
            counter.lineStart = c == '\n';
        } else if (counter.kind == FaceCounter::kStl) {
            counter.state = c == kEndFacet[counter.state] ? counter.state + 1 : (c == 'e' ? 1 : 0);
            if (counter.state == 8) {
                ++counter.faces;
                counter.state = 0;
            }
        }
    }
}

int64_t countedFaces(const FaceCounter& counter, uint64_t fileBytes) {
    const std::string& head = counter.head;
    if (counter.kind == FaceCounter::kObj) return counter.faces;
    if (counter.kind == FaceCounter::kStl) {
        if (head.size() >= 84) {
            uint32_t n = 0;
            for (int i = 0; i < 4; ++i)
                n |= uint32_t(uint8_t(head[size_t(80 + i)])) << (8 * i);
            if (uint64_t(n) * 50 + 84 == fileBytes) return int64_t(n);
        }
        return counter.faces;
    }
    if (counter.kind == FaceCounter::kPly && head.rfind("ply", 0) == 0) {
        const size_t end = head.find("end_header");
        const size_t at = head.find("element face ");
        if (at == std::string::npos || at > end) return 0;
        return std::strtoll(head.c_str() + at + 13, nullptr, 10);
    }
    return -1;
}

std::string extensionOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return path.substr(dot + 1);
}

bool facesOverBudget(const aiScene* scene, const ImportOptions& options, ImportResult& result) {
    if (!scene) return false;
    int64_t faces = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        faces += scene->mMeshes[m]->mNumFaces;
    return overBudget(faces, options, result);
}

// Little-endian records for encodeResult: a tag, then counts and lengths before what they count.
constexpr char kResultTag[8] = {'Q', 'I', 'M', 'P', 'O', 'R', 'T', '1'};

struct Reader {
    const uint8_t* at;
    size_t left;
    bool ok = true;
    uint32_t u32() {
        if (left < 4) ok = false;
        if (!ok) return 0;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(at[i]) << (8 * i);
        at += 4;
        left -= 4;
        return v;
    }
    int32_t i32() { return int32_t(u32()); }
    // A field written from a narrower one: anything wider is damage.
    uint32_t upTo(uint32_t most) {
        const uint32_t v = u32();
        if (v > most) ok = false;
        return v;
    }
    float f32() {
        const uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    // A count of items of at least minBytes each, refused when the rest cannot hold them.
    uint32_t count(size_t minBytes) {
        const uint32_t n = u32();
        if (ok && uint64_t(n) * minBytes > left) ok = false;
        return ok ? n : 0;
    }
    void bytes(std::string& s) {
        const uint32_t n = count(1);
        s.assign(reinterpret_cast<const char*>(at), n);
        at += n;
        left -= n;
    }
    void blob(std::vector<uint8_t>& v) {
        const uint32_t n = count(1);
        v.assign(at, at + n);
        at += n;
        left -= n;
    }
};

} // namespace

unsigned assimpPostProcessFlags() {
    return kPostProcess;
}

bool importFile(const std::string& path, const ImportOptions& options, ImportResult& result) {
    if (!validOptions(options, result)) return false;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        // The budget before the parse: the file's size, then its faces where they can be
        // counted in one pass over the bytes.
        FaceCounter counter;
        counter.kind = kindOf(extensionOf(path));
        std::vector<uint8_t> chunk(1 << 20);
        std::vector<uint8_t> head;
        uint64_t total = 0;
        bool refused = false;
        for (size_t got; !refused && (got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0;) {
            if (head.size() < kPlyHeaderBytes)
                head.insert(head.end(), chunk.begin(),
                            chunk.begin() + long(std::min(got, kPlyHeaderBytes - head.size())));
            total += got;
            refused = overByteBudget(total, options, result);
            if (!refused) countFaces(counter, chunk.data(), got);
        }
        std::fclose(file);
        if (refused) return false;
        if (damagedPlyHeader(head.data(), head.size())) {
            result.error = "a PLY file whose header never ends";
            return false;
        }
        if (overBudget(countedFaces(counter, total), options, result)) return false;
    }
    Assimp::Importer assimp;
    std::string why;
    const aiScene* read = assimp.ReadFile(path, aiProcess_ValidateDataStructure);
    if (facesOverBudget(read, options, result)) return false;
    const aiScene* scene = readThenProcess(assimp, read, why);
    // Windows paths may separate with either slash; the textures are looked for in this folder.
    const char* separator = lastPathSeparator(path.c_str());
    const size_t slash = separator ? size_t(separator - path.c_str()) : std::string::npos;
    const std::string folder =
        slash == std::string::npos ? "." : path.substr(0, slash + (slash == 0));
    std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
    stem = stem.substr(0, stem.find_last_of('.'));
    return convert(scene, why.empty() ? assimp.GetErrorString() : why.c_str(), options, folder,
                   stem.empty() ? "model" : stem, result);
}

bool importMemory(const uint8_t* data, size_t size, const char* hint, const ImportOptions& options,
                  ImportResult& result) {
    if (!validOptions(options, result)) return false;
    if (overByteBudget(size, options, result)) return false;
    if (damagedPlyHeader(data, size)) {
        result.error = "a PLY file whose header never ends";
        return false;
    }
    FaceCounter counter;
    counter.kind = kindOf(hint ? hint : "");
    countFaces(counter, data, size);
    if (overBudget(countedFaces(counter, size), options, result)) return false;
    Assimp::Importer assimp;
    std::string why;
    const aiScene* read =
        assimp.ReadFileFromMemory(data, size, aiProcess_ValidateDataStructure, hint);
    if (facesOverBudget(read, options, result)) return false;
    const aiScene* scene = readThenProcess(assimp, read, why);
    return convert(scene, why.empty() ? assimp.GetErrorString() : why.c_str(), options, "", "model",
                   result);
}

bool importScene(const aiScene& scene, const ImportOptions& options, ImportResult& result) {
    if (!validOptions(options, result)) return false;
    if (facesOverBudget(&scene, options, result)) return false;
    return convert(&scene, "", options, "", "model", result);
}

std::vector<uint8_t> encodeResult(const ImportResult& r) {
    std::vector<uint8_t> bytes(kResultTag, kResultTag + sizeof kResultTag);
    ByteWriter w{bytes};
    w.sized(r.error);
    for (int v : {r.objects, r.materials, r.cameras, r.lights, r.keys})
        w.u32(uint32_t(v));
    for (const auto* list : {&r.lines, &r.notes}) {
        w.u32(uint32_t(list->size()));
        for (const std::string& line : *list)
            w.sized(line);
    }
    const scenewriter::Scene& s = r.scene;
    w.u32(uint32_t(s.startTicks));
    w.u32(uint32_t(s.endTicks));
    for (int c = 0; c < 3; ++c) {
        w.f32(s.background[c]);
        w.f32(s.ambient[c]);
    }
    w.sized(s.envMapName);
    for (int32_t v : {s.trackTotal, s.objectCount, s.cameraCount, s.lightCount, s.materialCount})
        w.u32(uint32_t(v));
    w.u32(uint32_t(s.tracks.size()));
    for (const scenewriter::Track& t : s.tracks) {
        w.sized(t.name);
        w.u32(t.type);
        w.u32(uint32_t(t.keyCountOverride));
        w.u32(uint32_t(t.keys.size()));
        for (const Key& k : t.keys) {
            w.u32(uint32_t(k.ticks));
            w.u32(k.kind);
            w.u32(k.sizeOverridden ? 1u : 0u);
            w.u32(uint32_t(k.sizeOverride));
            w.sized(k.data);
        }
    }
    w.u32(uint32_t(r.pictures.size()));
    for (const Picture& p : r.pictures) {
        w.sized(p.name);
        w.sized(p.fileBytes);
        w.u32(uint32_t(p.width));
        w.u32(uint32_t(p.height));
        w.sized(p.rgba);
    }
    return bytes;
}

bool decodeResult(const uint8_t* data, size_t size, ImportResult& r) {
    r = ImportResult{};
    if (size < sizeof kResultTag || std::memcmp(data, kResultTag, sizeof kResultTag) != 0)
        return false;
    Reader in{data + sizeof kResultTag, size - sizeof kResultTag};
    in.bytes(r.error);
    for (int* v : {&r.objects, &r.materials, &r.cameras, &r.lights, &r.keys})
        *v = in.i32();
    for (auto* list : {&r.lines, &r.notes}) {
        list->resize(in.count(4));
        for (std::string& line : *list)
            in.bytes(line);
    }
    scenewriter::Scene& s = r.scene;
    s.startTicks = in.i32();
    s.endTicks = in.i32();
    for (int c = 0; c < 3; ++c) {
        s.background[c] = in.f32();
        s.ambient[c] = in.f32();
    }
    in.bytes(s.envMapName);
    for (int32_t* v :
         {&s.trackTotal, &s.objectCount, &s.cameraCount, &s.lightCount, &s.materialCount})
        *v = in.i32();
    s.tracks.resize(in.count(16));
    for (scenewriter::Track& t : s.tracks) {
        in.bytes(t.name);
        t.type = uint8_t(in.upTo(255));
        t.keyCountOverride = in.i32();
        t.keys.resize(in.count(20));
        for (Key& k : t.keys) {
            k.ticks = in.i32();
            k.kind = uint8_t(in.upTo(255));
            k.sizeOverridden = in.upTo(1) != 0;
            k.sizeOverride = in.i32();
            in.blob(k.data);
        }
    }
    r.pictures.resize(in.count(20));
    for (Picture& p : r.pictures) {
        in.bytes(p.name);
        in.blob(p.fileBytes);
        p.width = in.i32();
        p.height = in.i32();
        in.blob(p.rgba);
        // A picture is either its file's bytes or w x h RGBA pixels of a sane size.
        const bool pixelsFit = p.width > 0 && p.height > 0 && p.width <= kMaxPictureSide &&
                               p.height <= kMaxPictureSide &&
                               p.rgba.size() == size_t(p.width) * size_t(p.height) * 4;
        if (p.fileBytes.empty() && !pixelsFit) in.ok = false;
        // Names travel to the file system: bare names only.
        if (p.name.empty() || p.name.find_first_of("/\\:") != std::string::npos || p.name == "." ||
            p.name == "..")
            in.ok = false;
    }
    if (!in.ok || in.left != 0) {
        r = ImportResult{};
        return false;
    }
    return true;
}

namespace {

// Writes bytes to path; false with the system's reason in error.
bool writeWhole(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
    errno = 0;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        // Windows says "Permission denied" for a folder; the folder is the reason.
        error = "cannot write '" + path + "': " + std::strerror(openErrorCode(path.c_str(), errno));
        return false;
    }
    const bool wrote = size == 0 || std::fwrite(data, 1, size, file) == size;
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (wrote && closed) return true;
    error = "cannot write '" + path + "': " + std::strerror(wrote ? errno : writeErrno);
    std::remove(path.c_str());
    return false;
}

} // namespace

bool writeImport(const ImportResult& result, const std::string& outPath, bool gzip,
                 std::string& error) {
    const std::vector<uint8_t> plain = scenewriter::writeScene(result.scene);
    const std::vector<uint8_t> bytes = gzip ? scenewriter::gzipBytes(plain) : plain;
    if (!writeWhole(outPath, bytes.data(), bytes.size(), error)) return false;
    const char* separator = lastPathSeparator(outPath.c_str());
    const std::string folder =
        separator ? outPath.substr(0, size_t(separator - outPath.c_str()) + 1) : "";
    for (const Picture& p : result.pictures) {
        // Names are bare (no separator), so every picture lands in the scene's folder.
        const std::string path = folder + p.name;
        if (!p.fileBytes.empty()) {
            if (!writeWhole(path, p.fileBytes.data(), p.fileBytes.size(), error)) return false;
            continue;
        }
        errno = 0;
        if (!writePngRgba(path.c_str(), p.width, p.height, p.rgba.data())) {
            error = "cannot write '" + path + "'" +
                    (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
            return false;
        }
    }
    return true;
}

std::string timeLimitLine(float seconds) {
    return formatLine("not read within %g s; the file may be damaged (--max-seconds S raises it)",
                      double(seconds));
}

#ifndef _WIN32

namespace {

const char* signalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGKILL:
        return "SIGKILL";
    default:
        return "signal";
    }
}

double nowSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

bool parseInChild(const std::function<void(ImportResult&)>& parse, float seconds,
                  ImportResult& result) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        result.error = std::string("cannot start the reader: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        result.error = std::string("cannot start the reader: ") + std::strerror(errno);
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    if (pid == 0) {
        close(ends[0]);
        // A parent gone early must not kill the child halfway through a write with SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        // The library's own last words (glibc's "double free detected", ...) would make a
        // second line; the parent's one line names the signal. Sent to stderr, not the tty.
        setenv("LIBC_FATAL_STDERR_", "1", 1);
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDERR_FILENO);
        ImportResult parsed;
        parse(parsed);
        const std::vector<uint8_t> bytes = encodeResult(parsed);
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(ends[1], bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(3);
            done += size_t(n);
        }
        _exit(0);
    }
    close(ends[1]);
    std::vector<uint8_t> data;
    const double deadline = nowSeconds() + double(seconds);
    bool timedOut = false;
    for (;;) {
        const double left = deadline - nowSeconds();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd wait = {ends[0], POLLIN, 0};
        const int ready = poll(&wait, 1, int(std::min(left * 1000.0 + 1.0, 60000.0)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        uint8_t chunk[65536];
        const ssize_t got = read(ends[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        data.insert(data.end(), chunk, chunk + got);
    }
    close(ends[0]);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    pid_t got;
    do {
        got = waitpid(pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    if (timedOut) {
        result.error = timeLimitLine(seconds);
        return false;
    }
    if (got == pid && WIFSIGNALED(status)) {
        char line[160];
        std::snprintf(line, sizeof line, "the model reader crashed on it (%s, %s)",
                      signalName(WTERMSIG(status)), strsignal(WTERMSIG(status)));
        result.error = line;
        return false;
    }
    if (got != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        !decodeResult(data.data(), data.size(), result)) {
        result = ImportResult{};
        char line[160];
        std::snprintf(line, sizeof line, "the model reader ended without a result (status %d)",
                      got == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        result.error = line;
        return false;
    }
    return result.error.empty();
}

#endif

} // namespace sceneimport
