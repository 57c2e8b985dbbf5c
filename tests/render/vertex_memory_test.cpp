#include "render/vertex_memory.h"

#include "render/gl_extensions.h"
#include "support/console_capture.h"
#include "support/gl_context.h"

#include <GL/glext.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void expectArraysBoundTo(const float* buffer) {
    EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_TRUE(glIsEnabled(GL_NORMAL_ARRAY));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    void* pointer = nullptr;
    glGetPointerv(GL_VERTEX_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, buffer);
    glGetPointerv(GL_NORMAL_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, reinterpret_cast<const char*>(buffer) + 12);
    glGetPointerv(GL_TEXTURE_COORD_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, reinterpret_cast<const char*>(buffer) + 24);
    GLint value = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_STRIDE, &value);
    EXPECT_EQ(value, 32);
    glGetIntegerv(GL_NORMAL_ARRAY_STRIDE, &value);
    EXPECT_EQ(value, 32);
    glGetIntegerv(GL_TEXTURE_COORD_ARRAY_STRIDE, &value);
    EXPECT_EQ(value, 32);
    glGetIntegerv(GL_VERTEX_ARRAY_SIZE, &value);
    EXPECT_EQ(value, 3);
    glGetIntegerv(GL_TEXTURE_COORD_ARRAY_SIZE, &value);
    EXPECT_EQ(value, 2);
}

// A stand-in for a driver with the vertex-array-range extension whose video memory is full.
struct FakeVarDriver {
    int allocations = 0;
    float lastPriority = -1.0f;
    void* freed = nullptr;
    GLuint setFence = 0;
    GLenum setCondition = 0;
};
FakeVarDriver fake;

void* fakeAllocate(GLsizei size, GLfloat, GLfloat, GLfloat priority) {
    ++fake.allocations;
    fake.lastPriority = priority;
    return priority == 1.0f ? nullptr : std::malloc(static_cast<size_t>(size));
}
void fakeFree(void* pointer) {
    fake.freed = pointer;
    std::free(pointer);
}
void fakeVertexArrayRange(GLsizei, const void*) {}
void fakeGenFences(GLsizei n, GLuint* fences) {
    for (GLsizei i = 0; i < n; ++i)
        fences[i] = 7 + static_cast<GLuint>(i);
}
void fakeSetFence(GLuint fence, GLenum condition) {
    fake.setFence = fence;
    fake.setCondition = condition;
}

void drainGLErrors() {
    while (glGetError() != GL_NO_ERROR) {
    }
}

} // namespace

TEST(VertexMemory, WithoutExtensionsFallsBackToSystemMemoryAndBindsTheArrays) {
    ASSERT_TRUE(useTestGLContext());
    clearGLExtensions();
    ConsoleCapture capture;
    ASSERT_TRUE(allocVertexMemory(kVertexMemoryCapacity));
    EXPECT_EQ(capture.text, "Needing 4800032 bytes of vertex buffer memory (4 mb)\n"
                            "WARNING: Allocated vertexbuffer SYSTEM memory (4800032 bytes) \n");
    EXPECT_EQ(vertexMemory.capacity, 150000);
    EXPECT_EQ(vertexMemory.sizeBytes, 4800032);
    EXPECT_FALSE(vertexMemory.inVideoMemory);
    EXPECT_EQ(vertexMemory.writeOffset, 0);
    ASSERT_NE(vertexMemory.buffer, nullptr);
    expectArraysBoundTo(vertexMemory.buffer);
    // The whole buffer, including the spare vertex, must be writable.
    std::memset(vertexMemory.buffer, 0, static_cast<size_t>(vertexMemory.sizeBytes));

    releaseVertexMemory();
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    EXPECT_EQ(vertexMemory.buffer, nullptr);
    EXPECT_EQ(capture.text.find("VAR"), std::string::npos);
}

// The real context: Mesa has no vertex-array-range extension, so the log ends in system memory.
TEST(VertexMemory, RealDriverWithoutVertexArrayRangeUsesSystemMemory) {
    ASSERT_TRUE(useTestGLContext());
    const char* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (extensionListHas(list, "GL_NV_vertex_array_range")) GTEST_SKIP() << "driver has VAR";
    clearGLExtensions();
    {
        ConsoleCapture quiet;
        loadGLExtensions();
    }
    ConsoleCapture capture;
    ASSERT_TRUE(allocVertexMemory(100));
    EXPECT_EQ(capture.text, "Needing 3232 bytes of vertex buffer memory (0 mb)\n"
                            "WARNING: Allocated vertexbuffer SYSTEM memory (3232 bytes) \n");
    expectArraysBoundTo(vertexMemory.buffer);
    releaseVertexMemory();
    clearGLExtensions();
}

TEST(VertexMemory, RefusedVideoMemoryFallsBackToAgpAndSetsTheFence) {
    ASSERT_TRUE(useTestGLContext());
    clearGLExtensions();
    fake = FakeVarDriver{};
    glExtensions.allocateMemoryNV = fakeAllocate;
    glExtensions.freeMemoryNV = fakeFree;
    glExtensions.vertexArrayRangeNV = fakeVertexArrayRange;
    glExtensions.genFencesNV = fakeGenFences;
    glExtensions.setFenceNV = fakeSetFence;

    ConsoleCapture capture;
    ASSERT_TRUE(allocVertexMemory(kVertexMemoryCapacity));
    // Mesa rejects the range state, so the validity query answers false here.
    EXPECT_EQ(capture.text, "Needing 4800032 bytes of vertex buffer memory (4 mb)\n"
                            "Not enough Video memory for vertexbuffer.. trying AGP \n"
                            "Allocated vertexbuffer AGP memory (4800032 bytes) \n"
                            "VAR not valid!\n"
                            "1 fences: 7. \n");
    EXPECT_EQ(fake.allocations, 2);
    EXPECT_EQ(fake.lastPriority, 0.5f);
    EXPECT_TRUE(vertexMemory.inVideoMemory);
    EXPECT_EQ(fake.setFence, 7u);
    EXPECT_EQ(fake.setCondition, static_cast<GLenum>(GL_ALL_COMPLETED_NV));
    expectArraysBoundTo(vertexMemory.buffer);

    float* const buffer = vertexMemory.buffer;
    releaseVertexMemory();
    EXPECT_EQ(fake.freed, buffer);
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    drainGLErrors();
    clearGLExtensions();
}

TEST(VertexMemory, RepeatedAllocationAndReleaseAreSafe) {
    ASSERT_TRUE(useTestGLContext());
    clearGLExtensions();
    ConsoleCapture capture;
    releaseVertexMemory(); // nothing allocated yet
    ASSERT_TRUE(allocVertexMemory(10));
    ASSERT_TRUE(allocVertexMemory(20));
    EXPECT_EQ(vertexMemory.sizeBytes, 21 * 32);
    expectArraysBoundTo(vertexMemory.buffer);
    releaseVertexMemory();

    EXPECT_FALSE(allocVertexMemory(-1));
    EXPECT_FALSE(allocVertexMemory(0x7fffffff));
    EXPECT_EQ(vertexMemory.buffer, nullptr);
}
