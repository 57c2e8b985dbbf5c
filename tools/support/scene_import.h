// Brings content from modelling tools (glTF, OBJ, FBX, Collada, ... through Assimp) into a scene
// description for the scene writer plus the pictures it names. Does not touch the engine and
// writes nothing until writeImport. Everything is owned by value in ImportResult.
#pragma once

#include "support/scene_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

struct ImportOptions {
    float fps = 30.0f;           // animation samples per second
    float scale = 1.0f;          // applied to every position
    int maxKeys = kMaxTrackKeys; // samples per track at most (the fuzz target asks for few)
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

// The Assimp post-processing steps the import asks for (triangulation, shared vertices, ...),
// for comparing with a bare Assimp load.
unsigned assimpPostProcessFlags();

// Writes the scene to outPath, then each picture into the same folder. False with one line in
// error when a file cannot be written.
bool writeImport(const ImportResult& result, const std::string& outPath, bool gzip,
                 std::string& error);

} // namespace sceneimport
