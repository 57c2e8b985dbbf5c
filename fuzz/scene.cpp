// Fuzz target: any bytes (plain or gzip) through the scene loader, then the one-time vertex
// decoding and the Mesh block readers, then destruction.
#include "scene/scene.h"
#include "scene/scene_file.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Texture and environment-map names from the input are looked up in an empty directory, so
// no real file is ever opened (and no GL upload attempted). The fuzzer's own working directory
// is restored after each input: it reads corpus files by relative path.
struct EmptyDirectory {
    char path[64] = "/tmp/quilm_fuzz_scene_XXXXXX";
    int home = -1;
    bool ready = false;
    EmptyDirectory() { ready = mkdtemp(path) != nullptr; }
    void enter() {
        home = open(".", O_RDONLY | O_DIRECTORY);
        if (!ready || home < 0 || chdir(path) != 0) std::abort();
    }
    void leave() {
        if (fchdir(home) != 0) std::abort();
        close(home);
    }
};

} // namespace

// Header counts up to 65535 are legal and only cost memory (tested elsewhere); plain inputs
// that announce hundreds of elements are skipped so the fuzzer spends its time on layouts.
bool announcesHugeLists(const uint8_t* data, size_t size) {
    if (size < 18 || (data[0] == 0x1f && data[1] == 0x8b)) return false;
    for (size_t at = 10; at < 18; at += 2)
        if ((data[at] | (data[at + 1] << 8)) > 256) return true;
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (announcesHugeLists(data, size)) return 0;
    static EmptyDirectory emptyDirectory;
    emptyDirectory.enter();
    Scene* scene = createScene();
    if (loadSceneFromMemory(*scene, data, size)) {
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
    emptyDirectory.leave();
    return 0;
}
