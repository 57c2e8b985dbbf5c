// Brings content from modelling tools (glTF, OBJ, FBX, Collada, ... through Assimp) into a scene
// description for the scene writer plus the pictures it names. Does not touch the engine and
// writes nothing until writeImport. Everything is owned by value in ImportResult.
#pragma once

#include "writers/scene_writer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct aiScene;

namespace sceneimport {

// The format's counts are 16 bits; the renderer's index list holds 192000 entries (64000
// faces) per object, so larger meshes are split into several objects.
constexpr int kMaxObjectVertices = 65535;
constexpr int kMaxObjectFaces = 64000;
constexpr int kMaxTrackKeys = 65535;
constexpr size_t kTextureNameChars = 127; // the material's name field holds 128 bytes
// Beyond this (after --scale) a coordinate is refused: products in the normal pass overflow.
constexpr float kMaxCoordinate = 1.0e9f;
// Pictures larger than this on a side are halved until they fit.
constexpr int kMaxPictureSide = 4096;

// The import budget: a model over it is refused before Assimp parses it (faces are counted
// from the file where the format allows, else right after the parse, before any other step).
// Assimp needs about 550 bytes and 5 us per face of an OBJ.
constexpr int64_t kDefaultMaxFileBytes = 256LL << 20;
constexpr int64_t kDefaultMaxFaces = 1000000;

struct ImportOptions {
    float fps = 30.0f;           // animation samples per second
    float scale = 1.0f;          // applied to every position
    int maxKeys = kMaxTrackKeys; // samples per track at most (the fuzz target asks for few)
    int64_t maxFileBytes = kDefaultMaxFileBytes;
    int64_t maxFaces = kDefaultMaxFaces;
};

// A picture written beside the scene: either the source file's bytes unchanged (PNG or JPEG of
// a usable size) or RGBA pixels to be written as PNG.
struct Picture {
    std::string name; // bare file name as the material names it
    std::vector<uint8_t> fileBytes;
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

struct ImportResult {
    scenewriter::Scene scene;
    std::vector<Picture> pictures;
    std::vector<std::string> lines; // one per object, material, camera and light
    std::vector<std::string> notes; // what was dropped or approximated, and why
    int objects = 0, materials = 0, cameras = 0, lights = 0;
    int keys = 0;      // keys of all object, camera and light tracks
    std::string error; // the one line that says why an import failed
};

// Reads a file through Assimp; textures are resolved beside it. False with result.error set.
bool importFile(const std::string& path, const ImportOptions& options, ImportResult& result);
// Reads from memory (hint: the format's usual extension); external textures count as missing.
bool importMemory(const uint8_t* data, size_t size, const char* hint, const ImportOptions& options,
                  ImportResult& result);

// Converts a scene already in memory (built by a caller, or read elsewhere); no textures are read
// from files. The scene is not changed.
bool importScene(const aiScene& scene, const ImportOptions& options, ImportResult& result);

// The result as bytes and back, to carry it out of the process that parsed the model.
// decodeResult checks every count and length against the bytes: false for anything damaged.
std::vector<uint8_t> encodeResult(const ImportResult& result);
bool decodeResult(const uint8_t* data, size_t size, ImportResult& result);

// The one line for a parse stopped at its time limit.
std::string timeLimitLine(float seconds);

#ifndef _WIN32
// Runs parse in a forked child and takes back its result as bytes, so that a crash or a hang of
// the library's readers cannot take this process with it. False with result.error naming the
// signal, the time limit (seconds) or a result that never came; else the child's result, which
// may itself be a failure with its error.
bool parseInChild(const std::function<void(ImportResult&)>& parse, float seconds,
                  ImportResult& result);
#endif

// The Assimp post-processing steps the import asks for (triangulation, shared vertices, ...),
// for comparing with a bare Assimp load.
unsigned assimpPostProcessFlags();

// Writes the scene to outPath, then each picture into the same folder. False with one line in
// error, naming the file and the system's reason, when a file cannot be written.
bool writeImport(const ImportResult& result, const std::string& outPath, bool gzip,
                 std::string& error);

} // namespace sceneimport
