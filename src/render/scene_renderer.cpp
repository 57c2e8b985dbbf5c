#include "render/scene_renderer.h"

#include "render/vertex_memory.h"
#include "diag/prof.h"
#include "image/texture.h"
#include "platform/options.h"
#include "render/object_drawing.h"
#include "render/super8.h"
#include "scene/camera_light_gl.h"
#include "scene/object_update.h"

#include <GL/gl.h>
#include <GL/glext.h>

namespace {

// The scene whose vertices the vertex memory holds, and whether a hooked pass put them there:
// the two kinds of pass place objects differently, so a change of either rewrites them.
const Scene* renderedLast = nullptr;
bool renderedLastHooked = false;

// Lights beyond what the implementation offers would only raise GL errors nobody reads.
int switchableLights() {
    static GLint count = -1;
    if (count < 0) {
        glGetIntegerv(GL_MAX_LIGHTS, &count);
        if (count > 16) count = 16;
        if (count < 0) count = 0;
    }
    return count;
}

} // namespace

const EnvironmentBoxCorner kEnvironmentBoxFaces[kEnvMapFaces][4] = {
    {{0, 0, 0, 0, 1}, {0, 1, 0, 1, 1}, {1, 1, 0, 1, 0}, {1, 0, 0, 0, 0}},
    {{0, 0, 1, 0, 0}, {0, 1, 1, 1, 0}, {1, 1, 1, 1, 1}, {1, 0, 1, 0, 1}},
    {{0, 1, 1, 0, 0}, {0, 0, 1, 1, 0}, {0, 0, 0, 1, 1}, {0, 1, 0, 0, 1}},
    {{1, 1, 1, 1, 0}, {1, 0, 1, 0, 0}, {1, 0, 0, 0, 1}, {1, 1, 0, 1, 1}},
    {{1, 0, 1, 1, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 0, 1}, {1, 0, 0, 1, 1}},
    {{1, 1, 1, 0, 0}, {0, 1, 1, 1, 0}, {0, 1, 0, 1, 1}, {1, 1, 0, 0, 1}},
};

const Scene* lastRenderedScene() {
    return renderedLast;
}

void forgetRenderedScene() {
    renderedLast = nullptr;
}

namespace {

// Stencil test off and every fixed-function light off.
void resetSceneLights() {
    glDisable(GL_STENCIL_TEST);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    const int lights = switchableLights();
    for (int i = 0; i < lights; ++i)
        glDisable(GLenum(GL_LIGHT0 + i));
}

// Light model, depth range, depth test, culling, lighting, normalisation, blending off, alpha
// function GL_EQUAL 1 and the scene's ambient colour (alpha forced to 1).
void applySceneFixedState(Scene& scene) {
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    if (setupOptions.useExtensions)
        glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    glDepthRange(double(1.0e-5f), 1.0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glDepthFunc(GL_LESS);
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
    glDisable(GL_BLEND);
    glAlphaFunc(GL_EQUAL, 1.0f);
    scene.ambientColor[3] = 1.0f;
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, scene.ambientColor);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 0);
}

void call(void (*hook)(void*), const ScenePassHooks* hooks) {
    if (hooks && hook) hook(hooks->context);
}

void call(void (*hook)(void*, int32_t), const ScenePassHooks* hooks, int32_t object) {
    if (hooks && hook) hook(hooks->context, object);
}

} // namespace

void drawEnvironmentBox(Scene& scene, float size) {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    for (int i = 0; i < kEnvMapFaces; ++i) {
        bindTexture(scene.envMapTextures[i]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glColor3f(1.0f, 1.0f, 1.0f);
        glBegin(GL_QUADS);
        for (const EnvironmentBoxCorner& c : kEnvironmentBoxFaces[i]) {
            glTexCoord2f(c.s, c.t);
            glVertex3f(size * (c.x - 0.5f), size * (c.y - 0.5f), size * (c.z - 0.5f));
        }
        glEnd();
    }
    glDisable(GL_TEXTURE_2D);
}

void renderScene(Scene& scene, float timecode) {
    renderScenePass(scene, timecode, nullptr);
}

void renderScenePass(Scene& scene, float timecode, const ScenePassHooks* hooks) {
    const bool plain = hooks == nullptr;
    prepareObjects(scene);
    if (plain) profStart("87Scene Render");
    const bool sceneChanged = renderedLast != &scene || renderedLastHooked != !plain;
    renderedLast = &scene;
    renderedLastHooked = !plain;

    const float t = wrapSceneTime(scene, timecode);

    resetSceneLights();
    applyCamera(activeCamera(scene), t);
    if (plain && scene.hasEnvMap) drawEnvironmentBox(scene, kEnvironmentBoxSize);
    for (int i = 0; i < scene.lightCount; ++i)
        applyLight(scene.lights[i], t);
    applySceneFixedState(scene);

    int32_t vertexCursor = vertexMemory.writeOffset * kVertexStrideBytes;
    call(hooks ? hooks->opaquePassBegin : nullptr, hooks);
    for (int i = 0; i < scene.objectCount; ++i) {
        SceneObject& object = scene.objects[i];
        if (plain) profStart("04Object update");
        updateObject(object, t, sceneChanged);
        if (plain) profStop("04Object update");
        call(hooks ? hooks->opaqueDraw : nullptr, hooks, i);
        if (plain) profStart("1AObject Render");
        drawObject(object, 0, vertexCursor);
        if (plain) profStop("1AObject Render");
    }
    call(hooks ? hooks->opaquePassEnd : nullptr, hooks);

    glDepthMask(GL_FALSE);
    glEnable(GL_BLEND);
    glAlphaFunc(GL_NOTEQUAL, 1.0f);
    for (int i = 0; i < scene.objectCount; ++i) {
        call(hooks ? hooks->blendedDrawBegin : nullptr, hooks, i);
        if (plain) profStart("1AObject Render");
        drawObject(scene.objects[i], 1, vertexCursor);
        if (plain) profStop("1AObject Render");
        call(hooks ? hooks->blendedDrawEnd : nullptr, hooks, i);
    }
    call(hooks ? hooks->blendedPassEnd : nullptr, hooks);
    glDepthMask(GL_TRUE);
    if (!plain) return;
    profStop("87Scene Render");

    profStart("89Super8 Render");
    if (scene.super8 != nullptr) drawSuper8(scene.super8);
    profStop("89Super8 Render");
}
