// Environment maps: six faces by suffix, PNG before JPEG, all or nothing.
#include "scene/envmap.h"

#include "diag/console.h"
#include "image/image_loaders.h"
#include "image/texture.h"

#include <cstdio>
#include <cstring>

const char* const kEnvMapSuffixes[kEnvMapFaces] = {"_dn", "_up", "_fr", "_bk", "_lf", "_rt"};

namespace {

// In the current directory or the texture manager's search folder (the viewer's scene folder).
bool fileExists(const char* path) {
    char found[4096];
    return findImageFile(path, found, sizeof found);
}

} // namespace

bool loadEnvironmentMaps(Scene& scene) {
    if (scene.envMapName[0] == 0) return false;
    // Room for the longest base name the scene can hold plus suffix and extension, so no
    // name is ever cut.
    constexpr size_t kPathBytes = sizeof scene.envMapName + 8;
    const size_t baseLength = strnlen(scene.envMapName, sizeof scene.envMapName - 1);
    for (int i = 0; i < kEnvMapFaces; ++i) {
        char pngPath[kPathBytes];
        char jpgPath[kPathBytes];
        std::memcpy(pngPath, scene.envMapName, baseLength);
        std::snprintf(pngPath + baseLength, kPathBytes - baseLength, "%s.png", kEnvMapSuffixes[i]);
        std::memcpy(jpgPath, scene.envMapName, baseLength);
        std::snprintf(jpgPath + baseLength, kPathBytes - baseLength, "%s.jpg", kEnvMapSuffixes[i]);

        const char* path = nullptr;
        if (fileExists(pngPath))
            path = pngPath;
        else if (fileExists(jpgPath))
            path = jpgPath;
        Texture* texture = path ? loadTexture(path, true, true) : nullptr;
        scene.envMapTextures[i] = texture;
        if (texture) {
            consolePrint("  Envmap: %s \n", path);
            continue;
        }
        // A face that is there but cannot be used says why; "no matching file" alone would
        // send the user looking for a file that exists.
        if (path) consolePrint("Envmap %s cannot be used: %s \n", path, imageLoadFailure());
        consolePrint("No matching envmap file: %s or %s \n", jpgPath, pngPath);
        consolePrint("No envmap background will be renderd. \n");
        for (int j = 0; j < i; ++j) {
            releaseTexture(scene.envMapTextures[j]);
            scene.envMapTextures[j] = nullptr;
        }
        return false;
    }
    consolePrint("All  envmaps loaded. \n");
    return true;
}
