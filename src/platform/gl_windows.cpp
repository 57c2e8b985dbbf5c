// Windows only: OpenGL functions past version 1.1 that the engine calls directly. Linux's libGL
// exports them; Windows' opengl32.dll stops at 1.1, so each is fetched from the current context
// on its first call. Callers only call them with a context current, as on Linux.
#include <windows.h>

#include <GL/gl.h>
#include <GL/glext.h>

namespace {

template <typename F> F entryPoint(F& cached, const char* name) {
    if (!cached) cached = reinterpret_cast<F>(reinterpret_cast<void*>(wglGetProcAddress(name)));
    return cached;
}

PFNGLCOMPRESSEDTEXIMAGE2DPROC compressedTexImage2D = nullptr;

} // namespace

extern "C" void APIENTRY glCompressedTexImage2D(GLenum target, GLint level, GLenum internalformat,
                                                GLsizei width, GLsizei height, GLint border,
                                                GLsizei imageSize, const void* data) {
    if (auto f = entryPoint(compressedTexImage2D, "glCompressedTexImage2D"))
        f(target, level, internalformat, width, height, border, imageSize, data);
}
