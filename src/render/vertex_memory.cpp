#include "render/vertex_memory.h"

#include "render/gl_extensions.h"
#include "diag/console.h"

#include <GL/glext.h>

#include <cstdint>
#include <cstdlib>

VertexMemory vertexMemory;

namespace {

void bindClientArrays(const float* buffer) {
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, kVertexStrideBytes, buffer + kVertexPositionOffset / 4);
    glNormalPointer(GL_FLOAT, kVertexStrideBytes, buffer + kVertexNormalOffset / 4);
    glTexCoordPointer(2, GL_FLOAT, kVertexStrideBytes, buffer + kVertexTexCoordOffset / 4);
}

void declareVertexArrayRange(VertexMemory& memory) {
    glEnableClientState(GL_VERTEX_ARRAY_RANGE_NV);
    glExtensions.vertexArrayRangeNV(memory.sizeBytes, memory.buffer);

    GLboolean valid = GL_FALSE;
    glGetBooleanv(GL_VERTEX_ARRAY_RANGE_VALID_NV, &valid);
    consolePrint(valid ? "VAR checked as valid.\n" : "VAR not valid!\n");

    if (!glExtensions.genFencesNV || !glExtensions.setFenceNV) return;
    glExtensions.genFencesNV(memory.fenceCount, memory.fences);
    consolePrint("%i fences: ", memory.fenceCount);
    for (int i = 0; i < memory.fenceCount; ++i) {
        const bool last = i == memory.fenceCount - 1;
        consolePrint(last ? "%i. \n" : "%i, ", static_cast<int>(memory.fences[i]));
        glExtensions.setFenceNV(memory.fences[i], GL_ALL_COMPLETED_NV);
    }
}

} // namespace

bool allocVertexMemory(int capacity) {
    // A second allocation would lose the first buffer; start from a clean slate instead.
    if (vertexMemory.buffer) releaseVertexMemory();

    // Capacity is bounded so that the byte size stays a positive 32-bit integer.
    constexpr int kMaxCapacity = INT32_MAX / kVertexStrideBytes - 1;
    if (capacity < 0 || capacity > kMaxCapacity) {
        consolePrint("ERROR: vertexbuffer capacity %i out of range \n", capacity);
        return false;
    }
    const int size = (capacity + 1) * kVertexStrideBytes;
    consolePrint("Needing %i bytes of vertex buffer memory (%i mb)\n", size, size / 1048576);

    vertexMemory = VertexMemory{};
    vertexMemory.capacity = capacity;
    vertexMemory.sizeBytes = size;

    void* buffer = nullptr;
    if (glExtensions.allocateMemoryNV && glExtensions.freeMemoryNV) {
        buffer = glExtensions.allocateMemoryNV(size, 0.0f, 0.0f, 1.0f);
        if (buffer) {
            consolePrint("Allocated vertexbuffer video memory (%i bytes) \n", size);
        } else {
            consolePrint("Not enough Video memory for vertexbuffer.. trying AGP \n");
            buffer = glExtensions.allocateMemoryNV(size, 0.0f, 0.0f, 0.5f);
            if (buffer) consolePrint("Allocated vertexbuffer AGP memory (%i bytes) \n", size);
        }
        vertexMemory.inVideoMemory = buffer != nullptr;
    }
    if (!buffer) {
        buffer = std::malloc(static_cast<size_t>(size));
        if (!buffer) {
            consolePrint("ERROR: unable to allocate vertexbuffer memory (%i bytes) \n", size);
            vertexMemory = VertexMemory{};
            return false;
        }
        consolePrint("WARNING: Allocated vertexbuffer SYSTEM memory (%i bytes) \n", size);
    }
    vertexMemory.buffer = static_cast<float*>(buffer);

    bindClientArrays(vertexMemory.buffer);
    if (vertexMemory.inVideoMemory && glExtensions.vertexArrayRangeNV)
        declareVertexArrayRange(vertexMemory);
    return true;
}

void releaseVertexMemory() {
    if (vertexMemory.inVideoMemory) {
        glExtensions.freeMemoryNV(vertexMemory.buffer);
        glDisableClientState(GL_VERTEX_ARRAY_RANGE_NV);
    } else {
        // Freed although the process ends right after, so a repeated allocation cannot leak.
        std::free(vertexMemory.buffer);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    vertexMemory = VertexMemory{};
}
