#include "render/vertex_buffer_object.h"

#include "render/gl_extensions.h"
#include "render/vertex_memory.h"
#include "diag/console.h"
#include "platform/options.h"

#include <GL/gl.h>
#include <GL/glext.h>

namespace {

struct BufferObjectCalls {
    PFNGLGENBUFFERSARBPROC gen = nullptr;
    PFNGLBINDBUFFERARBPROC bind = nullptr;
    PFNGLBUFFERDATAARBPROC data = nullptr;
    PFNGLBUFFERSUBDATAARBPROC subData = nullptr;
    PFNGLDELETEBUFFERSARBPROC del = nullptr;
};

BufferObjectCalls calls;
GLuint bufferName = 0;

// base is either a client address or, with a buffer object bound, an offset into it.
void pointArrays(const char* base) {
    glVertexPointer(3, GL_FLOAT, kVertexStrideBytes, base + kVertexPositionOffset);
    glNormalPointer(GL_FLOAT, kVertexStrideBytes, base + kVertexNormalOffset);
    glTexCoordPointer(2, GL_FLOAT, kVertexStrideBytes, base + kVertexTexCoordOffset);
}

} // namespace

bool attachVertexBufferObject() {
    if (bufferName != 0) return true;
    if (!setupOptions.useExtensions || vertexMemory.buffer == nullptr || vertexMemory.inVideoMemory)
        return false;
    if (!contextHasExtension("GL_ARB_vertex_buffer_object")) return false;
    const bool fetched = fetchGLEntryPoint(calls.gen, "glGenBuffersARB") &
                         fetchGLEntryPoint(calls.bind, "glBindBufferARB") &
                         fetchGLEntryPoint(calls.data, "glBufferDataARB") &
                         fetchGLEntryPoint(calls.subData, "glBufferSubDataARB") &
                         fetchGLEntryPoint(calls.del, "glDeleteBuffersARB");
    if (!fetched) return false;

    while (glGetError() != GL_NO_ERROR) {
    }
    calls.gen(1, &bufferName);
    calls.bind(GL_ARRAY_BUFFER_ARB, bufferName);
    // Filled from the system copy, so whatever was written before is there too.
    calls.data(GL_ARRAY_BUFFER_ARB, vertexMemory.sizeBytes, vertexMemory.buffer,
               GL_DYNAMIC_DRAW_ARB);
    if (glGetError() != GL_NO_ERROR) {
        calls.bind(GL_ARRAY_BUFFER_ARB, 0);
        calls.del(1, &bufferName);
        bufferName = 0;
        return false;
    }
    pointArrays(nullptr);
    // Unbound again: the arrays keep their buffer, and other client-side drawing stays valid.
    calls.bind(GL_ARRAY_BUFFER_ARB, 0);
    consolePrint("Vertexbuffer mirrored in a GL buffer object (%i bytes) \n",
                 vertexMemory.sizeBytes);
    return true;
}

void detachVertexBufferObject() {
    if (bufferName == 0) return;
    pointArrays(reinterpret_cast<const char*>(vertexMemory.buffer));
    calls.del(1, &bufferName);
    bufferName = 0;
}

bool vertexBufferObjectAttached() {
    return bufferName != 0;
}

void uploadVertexRange(int32_t offsetBytes, int32_t bytes) {
    if (bufferName == 0 || bytes <= 0 || offsetBytes < 0 ||
        int64_t(offsetBytes) + bytes > int64_t(vertexMemory.sizeBytes))
        return;
    calls.bind(GL_ARRAY_BUFFER_ARB, bufferName);
    calls.subData(GL_ARRAY_BUFFER_ARB, offsetBytes, bytes,
                  reinterpret_cast<const char*>(vertexMemory.buffer) + offsetBytes);
    calls.bind(GL_ARRAY_BUFFER_ARB, 0);
}
