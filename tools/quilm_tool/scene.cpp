// quilm-tool scene: loads a scene as the player does and prints what the engine makes of it at
// chosen timecodes: every object's topology, transform, vertices and faces, every camera and
// every light. The loader's log comes through the console; the report itself is printf.
#include "quilm_tool/commands.h"
#include "platform/paths.h"

#include "diag/console.h"
#include "hidetrack/hidetrack_file.h"
#include "platform/options.h"
#include "scene/camera_light.h"
#include "scene/object_update.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

constexpr const char* kUsage =
    "usage: quilm-tool scene FILE [--at T1,T2,...] [--camera N] [--hid HIDFILE]\n";

struct SceneArgs {
    const char* file = nullptr;
    std::vector<float> times;
    bool hasCamera = false;
    int camera = 0;
    const char* hidFile = nullptr;
};

bool parseTimes(const char* text, std::vector<float>& times) {
    const char* p = text;
    for (;;) {
        char* end = nullptr;
        errno = 0;
        const float t = std::strtof(p, &end);
        if (end == p || errno == ERANGE) return false;
        times.push_back(t);
        if (*end == '\0') return true;
        if (*end != ',') return false;
        p = end + 1;
    }
}

bool parseInt(const char* text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v < -2147483647L - 1 || v > 2147483647L)
        return false;
    value = int(v);
    return true;
}

bool parseArgs(int argc, char** argv, SceneArgs& args) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(a, "--at") == 0 && hasValue) {
            if (!parseTimes(argv[++i], args.times)) {
                std::fprintf(stderr, "quilm-tool scene: bad time list '%s'\n", argv[i]);
                return false;
            }
        } else if (std::strcmp(a, "--camera") == 0 && hasValue) {
            if (!parseInt(argv[++i], args.camera)) {
                std::fprintf(stderr, "quilm-tool scene: bad camera '%s'\n", argv[i]);
                return false;
            }
            args.hasCamera = true;
        } else if (std::strcmp(a, "--hid") == 0 && hasValue) {
            args.hidFile = argv[++i];
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "quilm-tool scene: unknown or incomplete option '%s'\n", a);
            return false;
        } else if (args.file == nullptr) {
            args.file = a;
        } else {
            std::fprintf(stderr, "quilm-tool scene: more than one scene file\n");
            return false;
        }
    }
    if (args.file == nullptr) {
        std::fprintf(stderr, "quilm-tool scene: no scene file\n");
        return false;
    }
    if (args.times.empty()) args.times.push_back(0.0f);
    return true;
}

void printFloats(const float* values, int count) {
    for (int i = 0; i < count; ++i)
        std::printf(" %.9g", double(values[i]));
}

void printReport(const Scene& scene, float t) {
    std::printf("at %.9g\n", double(t));
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        const SceneObject& o = scene.objects[i];
        const long material = o.material != nullptr ? long(o.material - scene.materials) : -1;
        std::printf("object %d visible %d vertices %d faces %d mesh %d vertexkey %d material %ld "
                    "uv %d flip %d\n",
                    int(i), o.visible ? 1 : 0, int(o.vertexCount), int(o.faceCount),
                    int(o.currentMeshKey), int(o.currentVertexKey), material, o.hasUV ? 1 : 0,
                    o.flipNormals ? 1 : 0);
        std::printf(" transform");
        printFloats(o.transform, 12);
        std::printf("\n");
        for (int32_t j = 0; j < o.vertexCount; ++j) {
            const ObjectVertex& v = o.vertices[j];
            std::printf(" vertex %d", int(j));
            printFloats(v.position, 3);
            printFloats(v.normal, 3);
            printFloats(v.texCoord, 3);
            std::printf("\n");
        }
        for (int32_t j = 0; j < o.faceCount; ++j) {
            const ObjectFace& f = o.faces[j];
            std::printf(" face %d %d %d %d %d %d %d", int(j), int(f.indices[0]), int(f.indices[1]),
                        int(f.indices[2]), int(f.neighbours[0]), int(f.neighbours[1]),
                        int(f.neighbours[2]));
            printFloats(f.normal, 3);
            std::printf("\n");
        }
    }
    for (int32_t i = 0; i < scene.cameraCount; ++i) {
        const Camera& c = scene.cameras[i];
        std::printf("camera %d rotation", int(i));
        printFloats(c.rotation, 9);
        std::printf(" position");
        printFloats(c.position, 3);
        std::printf(" fov %.9g\n", double(c.fov));
    }
    for (int32_t i = 0; i < scene.lightCount; ++i) {
        const Light& l = scene.lights[i];
        std::printf("light %d position", int(i));
        printFloats(l.position, 3);
        std::printf(" color");
        printFloats(l.color, 3);
        std::printf(" range %.9g\n", double(l.range));
    }
    std::fflush(stdout);
}

// A hidetrack asked for by name must load: the report is not made without it.
bool loadHidFile(Scene& scene, const char* path) {
    gzFile stream = gzopen(path, "rb");
    if (stream == nullptr) {
        const int reason = errno;
        consolePrint("Could not load hidetrack!\n");
        std::fflush(stdout);
        std::fprintf(stderr, "quilm-tool scene: cannot open '%s': %s\n", path,
                     std::strerror(reason));
        return false;
    }
    const bool loaded = loadHidetrack(scene, stream);
    consolePrint(loaded ? "Hidetrack loaded.\n" : "  Failed. \n");
    gzclose(stream);
    if (!loaded) {
        std::fflush(stdout);
        std::fprintf(stderr, "quilm-tool scene: '%s' could not be loaded\n", path);
    }
    return loaded;
}

} // namespace

int runSceneCommand(int argc, char** argv) {
    SceneArgs args;
    if (!parseArgs(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    setupOptions.consoleEnabled = true;
    std::fflush(stdout);

    gzFile stream = gzopen(args.file, "rb");
    if (stream == nullptr) {
        std::fprintf(stderr, "quilm-tool scene: cannot open '%s': %s\n", args.file,
                     std::strerror(openErrorCode(args.file, errno)));
        return 1;
    }
    Scene* scene = createScene();
    const bool loaded = loadScene(*scene, stream);
    gzclose(stream);
    if (!loaded) {
        std::fflush(stdout);
        std::fprintf(stderr, "quilm-tool scene: '%s' could not be loaded\n", args.file);
        destroyScene(scene);
        return 1;
    }
    if (args.hidFile != nullptr && !loadHidFile(*scene, args.hidFile)) {
        destroyScene(scene);
        return 1;
    }
    if (args.hasCamera) setCamera(*scene, args.camera);
    prepareObjects(*scene);

    bool sceneChanged = true;
    for (const float requested : args.times) {
        const float t = wrapSceneTime(*scene, requested);
        for (int32_t i = 0; i < scene->objectCount; ++i)
            updateObject(scene->objects[i], t, sceneChanged);
        sceneChanged = false;
        for (int32_t i = 0; i < scene->cameraCount; ++i)
            if (scene->cameras[i].track != nullptr) updateCamera(scene->cameras[i], t);
        for (int32_t i = 0; i < scene->lightCount; ++i)
            if (scene->lights[i].track != nullptr) updateLight(scene->lights[i], t);
        printReport(*scene, t);
    }
    destroyScene(scene);
    return 0;
}
