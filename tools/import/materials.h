// Materials and their pictures for the importer: an Assimp material becomes a MaterialDesc, its
// diffuse texture a Picture under a bare, unique name of at most kTextureNameChars. Reads
// texture files only inside the source's folder; writes nothing. Results are owned by value.
#pragma once

#include "diag/printf_check.h"
#include "import/scene_import.h"

#include <map>
#include <set>
#include <string>

struct aiMaterial;
struct aiScene;

namespace sceneimport {

std::string formatLine(const char* fmt, ...) QUILM_PRINTF_CHECK(1, 2);

// Pictures already made, so a texture used by several materials is written once.
struct KnownPicture {
    std::string name;
    bool hasAlpha = false; // some texel is not opaque
};
struct PictureTable {
    std::map<std::string, KnownPicture> bySource; // source key -> picture made from it
    std::set<std::string> usedNames;              // lower case, for clashes
    std::string modelStem = "model";              // names embedded pictures that come without one
};

struct MaterialImport {
    scenewriter::MaterialDesc desc;
    std::string name;
    std::string summary; // the material's report line after its name
};

// sourceFolder empty: external textures are not read (imports from memory).
MaterialImport importMaterial(const aiMaterial& material, const aiScene& scene,
                              const std::string& sourceFolder, PictureTable& table,
                              ImportResult& result);

// The bare, unique picture name for a source name: letters, digits, '-', '_' and '.' kept,
// others replaced by '_', shortened to the field, "_2", "_3", ... on a clash (any case).
std::string uniquePictureName(const std::string& sourceName, const char* extension,
                              PictureTable& table);

} // namespace sceneimport
