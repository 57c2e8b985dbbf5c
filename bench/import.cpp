// Model import time beside Assimp's own load of the same file: a bare load (no post-processing)
// and a load with the steps the import asks for. Defaults to the largest test models Debian's
// assimp-testmodels ships; processor time, median of the repetitions.
//   bench_import [repetitions] [model ...]
#include "bench_timing.h"
#include "import/scene_import.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kDefaultModels[] = {
    "/usr/share/assimp/models/IFC/AC14-FZK-Haus.ifc",
    "/usr/share/assimp/models/FBX/embedded_ascii/box_embedded_texture_fragmented.fbx",
    "/usr/share/assimp/models/glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb",
    "/usr/share/assimp/models/Collada/COLLADA.dae",
};

double assimpLoadMs(const std::string& path, unsigned flags, int repetitions, bool& ok) {
    ok = true;
    return bench::medianMs(repetitions, [&] {
        const aiScene* scene = aiImportFile(path.c_str(), flags);
        ok = ok && scene != nullptr;
        aiReleaseImport(scene);
    });
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<std::string> models;
    for (int i = 2; i < argc; ++i)
        models.push_back(argv[i]);
    if (models.empty()) models.assign(std::begin(kDefaultModels), std::end(kDefaultModels));

    std::printf("%-28s %10s %10s %10s %8s %8s\n", "model", "bare ms", "steps ms", "import ms",
                "/bare", "/steps");
    for (const std::string& path : models) {
        bool bareOk = false, stepsOk = false, importOk = true;
        const double bare = assimpLoadMs(path, 0, repetitions, bareOk);
        const double steps =
            assimpLoadMs(path, sceneimport::assimpPostProcessFlags(), repetitions, stepsOk);
        std::string error;
        const double import = bench::medianMs(repetitions, [&] {
            sceneimport::ImportResult result;
            importOk = importOk && sceneimport::importFile(path, {}, result);
            if (!result.error.empty()) error = result.error;
        });
        const std::string name = path.substr(path.find_last_of('/') + 1);
        if (!bareOk || !stepsOk || !importOk) {
            std::printf("%-28s failed: %s\n", name.c_str(), error.c_str());
            continue;
        }
        std::printf("%-28s %10.1f %10.1f %10.1f %7.2fx %7.2fx\n", name.c_str(), bare, steps, import,
                    import / bare, import / steps);
    }
    return 0;
}
