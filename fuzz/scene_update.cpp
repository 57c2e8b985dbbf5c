// Loads arbitrary bytes as a scene, prepares it and evaluates every object, camera and light at
// a few timecodes (before, inside and after the range, and on the first key times), under the
// sanitizers. Also gives the objects a hidetrack block so the visibility test runs.
#include "scene/camera_light.h"
#include "scene/object_update.h"
#include "scene/scene_file.h"

#include <cstddef>
#include <cstdint>

namespace {

void evaluate(Scene& scene, float t, bool sceneChanged) {
    for (int32_t i = 0; i < scene.objectCount; ++i)
        updateObject(scene.objects[i], t, sceneChanged);
    for (int32_t i = 0; i < scene.cameraCount; ++i)
        updateCamera(scene.cameras[i], t);
    for (int32_t i = 0; i < scene.lightCount; ++i)
        updateLight(scene.lights[i], t);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small budget refuses huge header counts and keys at once (the loader's own target
    // covers that); images are not looked up.
    const SceneLoadOptions options = {int64_t(64) << 10, false};
    Scene* scene = createScene();
    if (loadSceneFromMemory(*scene, data, size, options)) {
        prepareObjects(*scene);
        // A small hidetrack for half the objects: bits from the input's first bytes.
        scene->hideFrameRate = 30;
        scene->hideBitsPerCamera = 7;
        if (scene->cameraCount > 0) scene->currentCamera = scene->cameraCount - 1;
        for (int32_t i = 0; i < scene->objectCount; i += 2) {
            scene->objects[i].hideBits = new uint8_t[4]();
            scene->objects[i].hideBitsBytes = 4;
            for (int b = 0; b < 4 && size_t(b) < size; ++b)
                scene->objects[i].hideBits[b] = data[b];
        }
        const float times[] = {-1.0f, scene->timeStart, 0.0f,  0.5f, 1.0f, 1.5f, 2.0f,
                               3.25f, scene->timeEnd,   100.0f};
        bool first = true;
        for (float t : times) {
            evaluate(*scene, wrapSceneTime(*scene, t), first);
            first = false;
        }
        // Every key time of the first object's track, in stored order (the track may be
        // gone after a topology error).
        for (int32_t i = 0; i < scene->objectCount && i < 4; ++i)
            for (int32_t k = 0;
                 scene->objects[i].track && k < scene->objects[i].track->keyCount && k < 16; ++k)
                evaluate(*scene, scene->objects[i].track->keys[k].time, false);
    }
    destroyScene(scene);
    return 0;
}
