// Fuzz target: any bytes (plain or gzip) through the scene loader, then the one-time vertex
// decoding and the Mesh block readers, then destruction.
#include "scene/scene.h"
#include "scene/scene_file.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

// A small budget keeps every input cheap: layouts that announce more (huge header counts,
// large keys) are refused at once, and that refusal is itself a path worth covering. Images
// are not looked up; their loaders have targets of their own.
const SceneLoadOptions kFuzzOptions = {int64_t(64) << 10, false};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scene* scene = createScene();
    if (loadSceneFromMemory(*scene, data, size, kFuzzOptions)) {
        prepareObjects(*scene);
        std::vector<ObjectFace> faces;
        for (int32_t o = 0; o < scene->objectCount; ++o) {
            const Track* track = scene->objects[o].track;
            for (int32_t k = 0; track && k < track->keyCount; ++k) {
                MeshBlock mesh;
                if (track->keys[k].kind != KeyKind::Mesh || !readMeshBlock(track->keys[k], mesh))
                    continue;
                faces.resize(size_t(mesh.faceCount));
                readMeshFaces(track->keys[k], mesh, faces.data());
            }
        }
        setCamera(*scene, scene->cameraCount);
    }
    destroyScene(scene);
    return 0;
}
