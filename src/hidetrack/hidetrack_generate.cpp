#include "hidetrack/hidetrack_generate.h"

#include "diag/console.h"
#include "hidetrack/hidetrack_file.h"
#include "render/gl_extensions.h"
#include "render/object_drawing.h"
#include "render/scene_renderer.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr GLenum kSamplesPassed = 0x8914; // GL_SAMPLES_PASSED
constexpr GLenum kQueryResult = 0x8866;   // GL_QUERY_RESULT
constexpr int kMaxPathBytes = 4096;

using GenQueriesProc = void (*)(GLsizei n, GLuint* ids);
using DeleteQueriesProc = void (*)(GLsizei n, const GLuint* ids);
using BeginQueryProc = void (*)(GLenum target, GLuint id);
using EndQueryProc = void (*)(GLenum target);
using GetQueryObjectuivProc = void (*)(GLuint id, GLenum name, GLuint* value);

// Occlusion queries (core since 1.5, else ARB_occlusion_query) and the query objects of the
// largest scene seen so far; fetched on first use and kept for the run.
struct QueryState {
    bool fetched = false;
    bool available = false;
    GenQueriesProc genQueries = nullptr;
    DeleteQueriesProc deleteQueries = nullptr;
    BeginQueryProc beginQuery = nullptr;
    EndQueryProc endQuery = nullptr;
    GetQueryObjectuivProc getQueryObjectuiv = nullptr;
    GLuint* ids = nullptr; // two per object: opaque pass, blended pass
    bool* issued = nullptr;
    int32_t capacity = 0; // objects
};

QueryState queries;

bool fetchQueries() {
    if (queries.fetched) return queries.available;
    queries.fetched = true;
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    if (version != nullptr) sscanf(version, "%d.%d", &major, &minor);
    const char* suffix = nullptr;
    if (major > 1 || (major == 1 && minor >= 5))
        suffix = "";
    else if (contextHasExtension("GL_ARB_occlusion_query"))
        suffix = "ARB";
    if (suffix != nullptr) {
        char name[64];
        snprintf(name, sizeof name, "glGenQueries%s", suffix);
        fetchGLEntryPoint(queries.genQueries, name);
        snprintf(name, sizeof name, "glDeleteQueries%s", suffix);
        fetchGLEntryPoint(queries.deleteQueries, name);
        snprintf(name, sizeof name, "glBeginQuery%s", suffix);
        fetchGLEntryPoint(queries.beginQuery, name);
        snprintf(name, sizeof name, "glEndQuery%s", suffix);
        fetchGLEntryPoint(queries.endQuery, name);
        snprintf(name, sizeof name, "glGetQueryObjectuiv%s", suffix);
        fetchGLEntryPoint(queries.getQueryObjectuiv, name);
    }
    queries.available = queries.genQueries && queries.deleteQueries && queries.beginQuery &&
                        queries.endQuery && queries.getQueryObjectuiv;
    if (!queries.available)
        consolePrint("No occlusion queries: blended objects count as visible. \n");
    return queries.available;
}

// Grows the query pool to the scene's object count (only a larger scene allocates) and marks
// every query as not issued.
void reserveQueries(int32_t objectCount) {
    if (objectCount > queries.capacity) {
        if (queries.ids != nullptr && queries.available)
            queries.deleteQueries(2 * queries.capacity, queries.ids);
        delete[] queries.ids;
        delete[] queries.issued;
        queries.ids = new GLuint[size_t(2) * size_t(objectCount)]();
        queries.issued = new bool[size_t(2) * size_t(objectCount)];
        if (queries.available) queries.genQueries(2 * objectCount, queries.ids);
        queries.capacity = objectCount;
    }
    if (queries.issued != nullptr)
        std::memset(queries.issued, 0, size_t(2) * size_t(queries.capacity));
}

// Whether drawObject would issue a draw for this object in this pass (its own early returns).
bool drawsInPass(const SceneObject& object, int pass) {
    if (!object.visible || object.track == nullptr || object.material == nullptr) return false;
    if (object.material->flags & AlphaTest) return true;
    return int(object.material->transparent) == pass;
}

// Stencil values 1 to 255 name the first 255 objects; 0 is "no named object".
constexpr int32_t kStencilNames = 255;

int32_t stencilName(int32_t object) {
    return object < kStencilNames ? object + 1 : 0;
}

// Which stencil names cover at least one pixel of the viewport. The read-back buffer grows to
// the largest viewport seen and is kept.
void readStencilNames(bool* seen) {
    static uint8_t* pixels = nullptr;
    static int64_t capacity = 0;
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int64_t count = int64_t(viewport[2]) * int64_t(viewport[3]);
    if (count <= 0) return;
    if (count > capacity) {
        delete[] pixels;
        pixels = new uint8_t[size_t(count)];
        capacity = count;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(viewport[0], viewport[1], viewport[2], viewport[3], GL_STENCIL_INDEX,
                 GL_UNSIGNED_BYTE, pixels);
    for (int64_t i = 0; i < count; ++i)
        seen[pixels[i]] = true;
}

// What the tracked frame records, handed to the scene pass's hooks.
struct TrackedFrame {
    Scene* scene = nullptr;
    bool names = false;
    bool counted = false;
};

void beginNaming(void* context) {
    if (!static_cast<TrackedFrame*>(context)->names) return;
    glEnable(GL_STENCIL_TEST);
    glStencilMask(0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
}

void nameOpaqueDraw(void* context, int32_t object) {
    if (static_cast<TrackedFrame*>(context)->names)
        glStencilFunc(GL_ALWAYS, stencilName(object), 0xFF);
}

void endNaming(void* context) {
    if (!static_cast<TrackedFrame*>(context)->names) return;
    glDisable(GL_STENCIL_TEST);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glStencilFunc(GL_ALWAYS, 0, 0xFF);
}

// A blended fragment of alpha 0 leaves the pixel as it was, so dropping it changes nothing
// but the count. For alpha-tested materials alpha > 0 also admits their alpha-1 fragments,
// which lie at or behind the depth they wrote in the opaque pass and fail GL_LESS.
void beginBlendedQuery(void* context, int32_t object) {
    const TrackedFrame& frame = *static_cast<TrackedFrame*>(context);
    bool& issued = queries.issued[2 * object + 1];
    issued = frame.counted && drawsInPass(frame.scene->objects[object], 1);
    if (!issued) {
        glAlphaFunc(GL_NOTEQUAL, 1.0f);
        return;
    }
    glEnable(GL_ALPHA_TEST); // drawObject switches it off after an alpha-tested object
    glAlphaFunc(GL_GREATER, 0.0f);
    queries.beginQuery(kSamplesPassed, queries.ids[2 * object + 1]);
}

void endBlendedQuery(void*, int32_t object) {
    if (queries.issued[2 * object + 1]) queries.endQuery(kSamplesPassed);
}

void endBlendedQueries(void*) {
    glDisable(GL_ALPHA_TEST);
    glAlphaFunc(GL_NOTEQUAL, 1.0f);
}

// The frame as the player draws it, through the renderer's own scene pass, with the
// visibility recorded on the way: each opaque draw writes its object's stencil name where it
// passes the depth test, so the stencil ends up naming the object that shows at each pixel;
// each blended draw runs inside a query against the finished opaque depth. One pass over the
// geometry instead of a frame plus a second pass of queries.
void drawTrackedFrame(Scene& scene, float timecode, bool names, bool counted) {
    TrackedFrame frame{&scene, names, counted};
    ScenePassHooks hooks;
    hooks.context = &frame;
    hooks.opaquePassBegin = beginNaming;
    hooks.opaqueDraw = nameOpaqueDraw;
    hooks.opaquePassEnd = endNaming;
    hooks.blendedDrawBegin = beginBlendedQuery;
    hooks.blendedDrawEnd = endBlendedQuery;
    hooks.blendedPassEnd = endBlendedQueries;
    renderScenePass(scene, timecode, &hooks);
}

// The opaque draws of objects without a stencil name, once more inside queries: a fragment
// shows when it is the one left at the final depth (coplanar ties count on both sides). Each
// object is drawn from the slot it was placed in, so nothing is written again.
void queryUnnamedOpaque(Scene& scene, bool names) {
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glDisable(GL_BLEND);
    glDepthFunc(GL_EQUAL);
    glAlphaFunc(GL_EQUAL, 1.0f);
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        SceneObject& object = scene.objects[i];
        bool& issued = queries.issued[2 * i];
        issued = !(names && i < kStencilNames) && drawsInPass(object, 0);
        if (!issued) continue;
        int32_t slot = object.bufferOffset;
        queries.beginQuery(kSamplesPassed, queries.ids[2 * i]);
        drawObject(object, 0, slot);
        queries.endQuery(kSamplesPassed);
    }
    glDepthFunc(GL_LESS);
    glAlphaFunc(GL_NOTEQUAL, 1.0f);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glEnable(GL_BLEND);
}

bool sampleCounted(int32_t index) {
    if (!queries.issued[index]) return false;
    GLuint samples = 0;
    queries.getQueryObjectuiv(queries.ids[index], kQueryResult, &samples);
    return samples > 0;
}

// Playback reads the bits of the two samples ending at the truncated quotient
// (t - start) / step. At an accumulated sample time that quotient can fall just short of the
// sample's own index, so the sample also lands in the bit playback reads there; otherwise an
// object would show up one frame late. Returns the sample whose bit playback reads last at t.
int64_t playbackSample(const Scene& scene, float t) {
    const float step = 1.0f / float(kHidetrackSampleRate);
    const float frame = (t - scene.timeStart) / step;
    return frame >= 0.0f ? int64_t(frame) : 0;
}

} // namespace

void markVisibleObjects(Scene& scene, float t) {
    GLint stencilBits = 0;
    glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
    const bool names = stencilBits >= 8;
    const bool counted = fetchQueries();
    reserveQueries(scene.objectCount);
    if (names) {
        // Names left from an earlier frame would count as seen.
        glStencilMask(0xFF);
        glClearStencil(0);
        glClear(GL_STENCIL_BUFFER_BIT);
    }
    drawTrackedFrame(scene, t, names, counted);

    bool seen[kStencilNames + 1] = {};
    if (names) readStencilNames(seen);
    if (counted && (!names || scene.objectCount > kStencilNames)) queryUnnamedOpaque(scene, names);
    // Where neither names nor queries can tell, an object counts as visible when it is drawn.
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        SceneObject& object = scene.objects[i];
        if (!object.visible) continue;
        const bool opaqueKnown = (names && i < kStencilNames) || counted;
        const bool opaque =
            names && i < kStencilNames ? seen[stencilName(i)] : sampleCounted(2 * i);
        object.visible = (opaqueKnown ? opaque : drawsInPass(object, 0)) ||
                         (counted ? sampleCounted(2 * i + 1) : drawsInPass(object, 1));
    }
}

bool generateHidetrack(Scene& scene, const char* scenePath, const HidetrackWindow& window) {
    const float step = 1.0f / float(kHidetrackSampleRate);
    const int64_t frames =
        hidetrackFrameCount(scene.timeStart, scene.timeEnd, kHidetrackSampleRate);
    if (frames < 1) {
        consolePrint("Scene time range cannot be tracked. \n");
        return false;
    }
    char path[kMaxPathBytes];
    if (scenePath == nullptr || strlen(scenePath) + 5 > sizeof path) {
        consolePrint("Scene path too long for a hidetrack. \n");
        return false;
    }
    snprintf(path, sizeof path, "%s.hid", scenePath);

    const int32_t objectCount = scene.objectCount;
    const int64_t blockBytes = hidetrackBlockBytes(scene.cameraCount, frames);
    uint8_t* bits = new uint8_t[size_t(objectCount * blockBytes) + 1]();
    uint8_t** blocks = new uint8_t*[size_t(objectCount) + 1];
    // Loaded bits would hide objects from the very pass that decides visibility.
    uint8_t** loadedBits = new uint8_t*[size_t(objectCount) + 1];
    for (int32_t i = 0; i < objectCount; ++i) {
        blocks[i] = bits + i * blockBytes;
        loadedBits[i] = scene.objects[i].hideBits;
        scene.objects[i].hideBits = nullptr;
    }

    consolePrint(" %i cameras there! Start: %i End: %i \n", scene.cameraCount,
                 int(scene.timeStart * 1000.0f), int(scene.timeEnd * 1000.0f));
    int64_t h = 0;
    int32_t n = 0;
    for (int32_t c = 0; c < scene.cameraCount; ++c) {
        setCamera(scene, c);
        float t = scene.timeStart;
        n = 0;
        consolePrint("Now tracking camera: %i \n", c);
        while (t <= scene.timeEnd) {
            if (window.takeEvent) window.takeEvent();
            glClearDepth(1.0);
            glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
            markVisibleObjects(scene, t);
            if (window.present) window.present();
            const int64_t readBack = playbackSample(scene, t);
            const int64_t rowStart = h + 1 - n; // bit of this camera's sample 0
            t = t + step;
            ++n;
            ++h;
            // The last sample of the last camera can fall one bit past the block; playback
            // never reads that bit, so it is dropped rather than written out of bounds.
            for (int32_t i = 0; i < objectCount; ++i) {
                if (!scene.objects[i].visible) continue;
                setHidetrackBit(blocks[i], blockBytes, h);
                if (readBack < n - 1) setHidetrackBit(blocks[i], blockBytes, rowStart + readBack);
            }
        }
        consolePrint("%i frames tested. \n", n);
    }
    for (int32_t i = 0; i < objectCount; ++i) {
        scene.objects[i].hideBits = loadedBits[i];
        scene.objects[i].visible = true;
    }

    consolePrint("Writing .hid file\n");
    HidetrackHeader header;
    header.objectCount = objectCount;
    header.cameraCount = scene.cameraCount;
    header.timeStart = scene.timeStart;
    header.timeEnd = scene.timeEnd;
    header.sampleRate = kHidetrackSampleRate;
    header.frameCount = int32_t(frames);
    header.rowBits = n;
    const bool written = writeHidetrackFile(path, header, blocks);
    delete[] loadedBits;
    delete[] blocks;
    delete[] bits;
    return written;
}
