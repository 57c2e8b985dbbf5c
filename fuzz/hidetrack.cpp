// Fuzz target: any bytes (plain or gzip) as a hidetrack for a fixed scene of three objects and
// two cameras over one second, then the playback test at times across the range.
#include "hidetrack/hidetrack_file.h"
#include "scene/object_update.h"
#include "scene/scene.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader reads a gzip stream; a memory file gives it one without touching a disk.
    const int fd = memfd_create("quilm_fuzz_hid", 0);
    if (fd < 0) std::abort();
    if (size > 0 && write(fd, data, size) != ssize_t(size)) std::abort();
    if (lseek(fd, 0, SEEK_SET) != 0) std::abort();

    Scene* scene = createScene();
    scene->objectCount = 3;
    scene->objects = new SceneObject[3];
    scene->cameraCount = 2;
    scene->cameras = new Camera[2];
    scene->timeStart = 0.0f;
    scene->timeEnd = 1.0f;
    gzFile stream = gzdopen(fd, "rb"); // owns the descriptor from here
    if (loadHidetrack(*scene, stream)) {
        for (int c = -1; c < 2; ++c) {
            scene->currentCamera = c;
            for (int k = 0; k <= 31; ++k)
                for (int32_t i = 0; i < scene->objectCount; ++i)
                    isVisibleAt(*scene, float(k) / 30.0f, scene->objects[i].hideBits,
                                scene->objects[i].hideBitsBytes);
        }
    }
    if (stream != nullptr)
        gzclose(stream);
    else
        close(fd);
    destroyScene(scene);
    return 0;
}
