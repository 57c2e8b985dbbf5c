#include "render/object_drawing.h"

#include "render/vertex_memory.h"
#include "diag/prof.h"
#include "render/render_fixture.h"
#include "render/scene_renderer.h"
#include "render/vertex_buffer_object.h"
#include "scene/object_update.h"
#include "support/console_capture.h"
#include "support/test_images.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using namespace rendertest;

constexpr float kPoison = -12345.0f;

void poisonVertexMemory() {
    for (int i = 0; i < (vertexMemory.capacity + 1) * kVertexFloats; ++i)
        vertexMemory.buffer[i] = kPoison;
}

bool slotWritten(int vertex) {
    return vertexMemory.buffer[vertex * kVertexFloats] != kPoison;
}

// Gives the object a hidetrack row of all ones (visible) or all zeros (hidden) for camera 0.
void setHidden(Scene& scene, SceneObject& object, bool hidden) {
    constexpr int kBytes = 64;
    scene.hideFrameRate = 30;
    scene.hideBitsPerCamera = kBytes * 8;
    if (object.hideBits == nullptr) {
        object.hideBits = new uint8_t[kBytes];
        object.hideBitsBytes = kBytes;
    }
    std::memset(object.hideBits, hidden ? 0x00 : 0xFF, kBytes);
}

// A fan of faceCount triangles around vertex 0 (faceCount + 2 vertices).
sw::Mesh fanMesh(int faceCount) {
    sw::Mesh mesh;
    mesh.vertices.push_back({0, 0, 0});
    for (int i = 0; i <= faceCount; ++i) {
        const float a = float(i) / float(faceCount) * 3.1415927f;
        mesh.vertices.push_back({std::cos(a), std::sin(a), 0});
    }
    for (int i = 1; i <= faceCount; ++i)
        mesh.faces.push_back({0, uint16_t(i), uint16_t(i + 1)});
    return mesh;
}

// The same triangle repeated faceCount times.
sw::Mesh repeatedTriangle(int faceCount) {
    sw::Mesh mesh = sw::triangleMesh(0);
    mesh.faces.assign(size_t(faceCount), sw::Face{0, 1, 2});
    return mesh;
}

class ObjectDrawing : public RenderTest {};

TEST_F(ObjectDrawing, VerticesAreWrittenOnceAndAgainWhenAnEarlierObjectDisappears) {
    sw::Scene desc = cameraScene(0, 0, 0);
    addFrontLight(desc);
    desc.tracks.push_back(sw::materialTrack("m", plain(1, 1, 1)));
    addStill(desc, "a", sw::quadMesh(2, false, 0), facingCamera(-5, 0, 0));
    addStill(desc, "b", sw::quadMesh(2, false, 0), facingCamera(0, 0, 0));
    addStill(desc, "c", sw::triangleMesh(0), facingCamera(5, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    SceneObject* o = scene->objects;

    drawFrame(*scene, 1.0f);
    EXPECT_EQ(o[0].bufferOffset, 0);
    EXPECT_EQ(o[1].bufferOffset, 4 * kVertexStrideBytes);
    EXPECT_EQ(o[2].bufferOffset, 8 * kVertexStrideBytes);
    // The 32-byte layout: position, normal, texture coordinates.
    const float* b = vertexMemory.buffer + 4 * kVertexFloats;
    EXPECT_EQ(std::memcmp(b, o[1].vertices[0].position, 12), 0);
    EXPECT_EQ(std::memcmp(b + 3, o[1].vertices[0].normal, 12), 0);
    EXPECT_EQ(std::memcmp(b + 6, o[1].vertices[0].texCoord, 8), 0);

    poisonVertexMemory();
    drawFrame(*scene, 1.0f);
    for (int v = 0; v < 11; ++v)
        EXPECT_FALSE(slotWritten(v)) << "unchanged objects keep their vertices, slot " << v;

    setHidden(*scene, o[0], true);
    drawFrame(*scene, 1.0f);
    EXPECT_EQ(o[1].bufferOffset, 0);
    EXPECT_EQ(o[2].bufferOffset, 4 * kVertexStrideBytes);
    EXPECT_EQ(std::memcmp(vertexMemory.buffer, o[1].vertices[0].position, 12), 0);
    EXPECT_EQ(std::memcmp(vertexMemory.buffer + 4 * kVertexFloats, o[2].vertices[0].position, 12),
              0);
    EXPECT_FALSE(slotWritten(7)) << "nothing is written past the last object";
    EXPECT_TRUE(near(pixelAt(-5, 0), {0, 0, 0})) << "hidden object";
    EXPECT_TRUE(near(pixelAt(0, 0), {255, 255, 255})) << "moved object drawn from its new place";
    EXPECT_TRUE(near(pixelAt(5.3f, 0.3f), {255, 255, 255}));

    poisonVertexMemory();
    setHidden(*scene, o[0], false);
    drawFrame(*scene, 1.0f);
    for (int v = 0; v < 11; ++v)
        EXPECT_TRUE(slotWritten(v)) << "all placed again, slot " << v;
    freeTestScene(scene);
}

TEST_F(ObjectDrawing, AlphaTestedObjectsReuseTheirOpaquePlaceInTheBlendedPass) {
    ScratchDirectory dir;
    writeTexture("half.png", 2, 2, solidPixels(2, 2, {255, 255, 255, 128}));
    sw::Scene desc = cameraScene(0, 0, 0);
    sw::MaterialDesc cutout = plain(1, 1, 1);
    cutout.texture = "half.png";
    cutout.flags = AlphaTest;
    desc.tracks.push_back(sw::materialTrack("cutout", cutout));
    sw::MaterialDesc glass = plain(1, 1, 1);
    glass.opacity = 0.5f;
    desc.tracks.push_back(sw::materialTrack("glass", glass));
    desc.tracks.push_back(sw::materialTrack("solid", plain(1, 1, 1)));
    addStill(desc, "cutout", sw::quadMesh(2, true, 0), facingCamera(-5, 0, 0));
    addStill(desc, "glass", sw::quadMesh(2, false, 1), facingCamera(0, 0, 0));
    addStill(desc, "solid", sw::triangleMesh(2), facingCamera(5, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    SceneObject* o = scene->objects;

    profResetAll();
    drawFrame(*scene, 1.0f);
    EXPECT_EQ(o[0].bufferOffset, 0);
    EXPECT_EQ(o[2].bufferOffset, 4 * kVertexStrideBytes) << "opaque pass: glass not placed";
    EXPECT_EQ(o[1].bufferOffset, 7 * kVertexStrideBytes)
        << "blended pass: the cutout takes no new place";
    // Cutout twice, glass once, solid once.
    EXPECT_EQ(profCounter(profSlot("07Polys")).count, 2 + 2 + 2 + 1);
    EXPECT_EQ(profCounter(profSlot("09Vertices")).count, 4 + 4 + 4 + 3);
    EXPECT_EQ(profCounter(profSlot("91Geometry reload")).count, 4);

    poisonVertexMemory();
    drawFrame(*scene, 1.0f);
    for (int v = 0; v < 11; ++v)
        EXPECT_FALSE(slotWritten(v)) << "slot " << v;
    freeTestScene(scene);
}

// glDrawElements is checked through the primitives the driver saw.
struct PrimitiveQuery {
    PFNGLGENQUERIESPROC gen = nullptr;
    PFNGLBEGINQUERYPROC begin = nullptr;
    PFNGLENDQUERYPROC end = nullptr;
    PFNGLGETQUERYOBJECTUIVPROC get = nullptr;
    PFNGLDELETEQUERIESPROC del = nullptr;
    GLuint id = 0;
    bool start() {
        gen = reinterpret_cast<PFNGLGENQUERIESPROC>(SDL_GL_GetProcAddress("glGenQueries"));
        begin = reinterpret_cast<PFNGLBEGINQUERYPROC>(SDL_GL_GetProcAddress("glBeginQuery"));
        end = reinterpret_cast<PFNGLENDQUERYPROC>(SDL_GL_GetProcAddress("glEndQuery"));
        get = reinterpret_cast<PFNGLGETQUERYOBJECTUIVPROC>(
            SDL_GL_GetProcAddress("glGetQueryObjectuiv"));
        del = reinterpret_cast<PFNGLDELETEQUERIESPROC>(SDL_GL_GetProcAddress("glDeleteQueries"));
        if (!gen || !begin || !end || !get || !del) return false;
        gen(1, &id);
        begin(GL_PRIMITIVES_GENERATED, id);
        return true;
    }
    GLuint finish() {
        end(GL_PRIMITIVES_GENERATED);
        GLuint n = 0;
        get(id, GL_QUERY_RESULT, &n);
        del(1, &id);
        return n;
    }
};

TEST_F(ObjectDrawing, IndexListCountersAndMaterialState) {
    sw::Scene desc = cameraScene(0, 0, 0);
    sw::MaterialDesc shiny = plain(1, 1, 1);
    shiny.shininess = 0.25f;
    shiny.flags = TwoSided;
    desc.tracks.push_back(sw::materialTrack("shiny", shiny));
    addStill(desc, "fan", fanMesh(10), facingCamera(0, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    SceneObject& fan = scene->objects[0];
    prepareObjects(*scene);
    ASSERT_EQ(updateObject(fan, 1.0f, true), 12);
    ASSERT_EQ(fan.faceCount, 10);

    indexList[30] = 0xDEADBEEF;
    profResetAll();
    glEnable(GL_CULL_FACE);
    int32_t cursor = 2 * kVertexStrideBytes;
    PrimitiveQuery query;
    const bool counting = query.start();
    drawObject(fan, 0, cursor);
    if (counting) {
        EXPECT_EQ(query.finish(), 10u) << "index count 30";
    }
    EXPECT_EQ(cursor, 14 * kVertexStrideBytes);
    EXPECT_EQ(fan.bufferOffset, 2 * kVertexStrideBytes);
    for (int f = 0; f < 10; ++f)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(indexList[3 * f + k], uint32_t(fan.faces[f].indices[k] + 2));
    EXPECT_EQ(indexList[30], 0xDEADBEEF);
    EXPECT_EQ(profCounter(profSlot("07Polys")).count, 10);
    EXPECT_EQ(profCounter(profSlot("09Vertices")).count, 12);
    for (const char* name : {"91Geometry reload", "01Index list", "02Gl faces"})
        EXPECT_EQ(profCounter(profSlot(name)).count, 1) << name;
    EXPECT_EQ(profCounter(profSlot("0AGLStuff")).count, 2);

    GLfloat shininess = 0;
    glGetMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
    EXPECT_FLOAT_EQ(shininess, 25.0f);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE)) << "two-sided turns culling back on";
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // Not in its pass (opaque material, blended pass): no effect at all.
    profResetAll();
    drawObject(fan, 1, cursor);
    EXPECT_EQ(cursor, 14 * kVertexStrideBytes);
    EXPECT_EQ(profCounter(profSlot("91Geometry reload")).count, 0);

    // Nothing to draw: invisible, no material, no track.
    fan.visible = false;
    drawObject(fan, 0, cursor);
    fan.visible = true;
    Material* material = fan.material;
    fan.material = nullptr;
    drawObject(fan, 0, cursor);
    fan.material = material;
    Track* track = fan.track;
    fan.track = nullptr;
    drawObject(fan, 0, cursor);
    fan.track = track;
    EXPECT_EQ(cursor, 14 * kVertexStrideBytes);
    for (const char* name : {"91Geometry reload", "01Index list", "07Polys", "0AGLStuff"})
        EXPECT_EQ(profCounter(profSlot(name)).count, 0) << name;
    freeTestScene(scene);
}

TEST_F(ObjectDrawing, AnObjectBeyondTheVertexMemoryIsSkippedWithOneLine) {
    useVertexCapacity(10);
    sw::Scene desc = cameraScene(0, 0, 0);
    addFrontLight(desc);
    desc.tracks.push_back(sw::materialTrack("m", plain(1, 1, 1)));
    addStill(desc, "a", sw::quadMesh(2, false, 0), facingCamera(-5, 0, 0));
    addStill(desc, "grid", sw::gridMesh(2, 4, 0), facingCamera(0, 0, 0)); // 9 vertices
    addStill(desc, "c", sw::quadMesh(2, false, 0), facingCamera(5, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    SceneObject* o = scene->objects;

    poisonVertexMemory();
    ConsoleCapture log;
    drawFrame(*scene, 1.0f);
    drawFrame(*scene, 2.0f);
    EXPECT_EQ(log.text, "Object skipped: 9 vertices do not fit the vertex memory of 10 \n");
    EXPECT_EQ(o[0].bufferOffset, 0);
    EXPECT_EQ(o[2].bufferOffset, 4 * kVertexStrideBytes) << "the next object still fits";
    EXPECT_FALSE(slotWritten(8));
    EXPECT_FALSE(slotWritten(10)) << "the spare slot past the capacity";
    EXPECT_TRUE(near(pixelAt(0, 0), {0, 0, 0})) << "the skipped object draws nothing";
    EXPECT_FALSE(near(pixelAt(5, 0), {0, 0, 0}));

    // With room again it is placed and written without further lines.
    useVertexCapacity(100);
    forgetRenderedScene();
    log.text.clear();
    drawFrame(*scene, 1.0f);
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(o[1].bufferOffset, 4 * kVertexStrideBytes);
    EXPECT_FALSE(near(pixelAt(0, 0), {0, 0, 0}));
    freeTestScene(scene);
}

TEST_F(ObjectDrawing, AnObjectBeyondTheIndexListIsSkippedWithOneLine) {
    sw::Scene desc = cameraScene(0, 0, 0);
    desc.tracks.push_back(sw::materialTrack("m", plain(1, 1, 1)));
    addStill(desc, "full", repeatedTriangle(kIndexListEntries / 3), facingCamera(-5, 0, 0));
    addStill(desc, "over", repeatedTriangle(kIndexListEntries / 3 + 1), facingCamera(0, 0, 0));
    addStill(desc, "after", sw::triangleMesh(0), facingCamera(5, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    SceneObject* o = scene->objects;

    ConsoleCapture log;
    profResetAll();
    drawFrame(*scene, 1.0f);
    drawFrame(*scene, 1.0f);
    EXPECT_EQ(log.text, "Object skipped: 64001 faces exceed the index list of 192000 entries \n");
    EXPECT_EQ(o[0].bufferOffset, 0) << "exactly 64,000 faces fit";
    EXPECT_EQ(o[2].bufferOffset, 3 * kVertexStrideBytes);
    EXPECT_EQ(profCounter(profSlot("07Polys")).count, 2 * (64000 + 1));
    freeTestScene(scene);
}

// Objects that move within the vertex memory must reach the buffer object too: the mirrored
// frames equal the client-array frames pixel for pixel.
TEST_F(ObjectDrawing, BufferObjectMirrorDrawsWhatClientArraysDraw) {
    sw::Scene desc = cameraScene(0.1f, 0.1f, 0.1f);
    addFrontLight(desc);
    desc.tracks.push_back(sw::materialTrack("m", plain(0.9f, 0.6f, 0.3f)));
    addStill(desc, "a", sw::quadMesh(3, false, 0), facingCamera(-5, 0, 0));
    addStill(desc, "b", sw::gridMesh(3, 3, 0), facingCamera(0, 0, 0));
    addStill(desc, "c", sw::triangleMesh(0), facingCamera(5, 0, 0));
    Scene* scene = loadTestScene(desc);
    ASSERT_NE(scene, nullptr);
    auto frame = [&](bool hideFirst) {
        setHidden(*scene, scene->objects[0], hideFirst);
        drawFrame(*scene, 1.0f);
        std::vector<uint8_t> pixels(size_t(kSize) * kSize * 4);
        glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    };
    const std::vector<uint8_t> shown = frame(false), hidden = frame(true);
    ASSERT_NE(shown, hidden);

    EXPECT_FALSE(attachVertexBufferObject()) << "extensions switched off";
    setupOptions.useExtensions = true;
    ConsoleCapture log;
    if (!attachVertexBufferObject()) GTEST_SKIP() << "no GL_ARB_vertex_buffer_object";
    EXPECT_EQ(log.text, "Vertexbuffer mirrored in a GL buffer object (" +
                            std::to_string(vertexMemory.sizeBytes) + " bytes) \n");
    EXPECT_TRUE(vertexBufferObjectAttached());
    poisonVertexMemory(); // only what drawObject writes from now on may be drawn
    forgetRenderedScene();
    EXPECT_EQ(frame(false), shown);
    EXPECT_EQ(frame(true), hidden) << "later objects moved down";
    EXPECT_EQ(frame(false), shown) << "and back up";
    detachVertexBufferObject();
    EXPECT_FALSE(vertexBufferObjectAttached());
    EXPECT_EQ(frame(false), shown) << "client arrays again";
    freeTestScene(scene);
}

} // namespace
