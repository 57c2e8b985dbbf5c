// Fetches the optional OpenGL extension entry points once, right after the context is current,
// and logs each name with its outcome. It does not decide whether extensions are wanted (the
// shell does, from setupOptions.useExtensions). The pointers are process-wide and owned by no one.
#pragma once

#include <GL/gl.h>

// The vertex-array-range allocator has the same signature under WGL and GLX.
using AllocateMemoryNVProc = void* (*)(GLsizei size, GLfloat readFrequency, GLfloat writeFrequency,
                                       GLfloat priority);
using FreeMemoryNVProc = void (*)(void* pointer);
using SecondaryColorPointerEXTProc = void (*)(GLint size, GLenum type, GLsizei stride,
                                              const void* pointer);
using SecondaryColor3fEXTProc = void (*)(GLfloat red, GLfloat green, GLfloat blue);
using VertexArrayRangeNVProc = void (*)(GLsizei length, const void* pointer);
using GenFencesNVProc = void (*)(GLsizei n, GLuint* fences);
using FinishFenceNVProc = void (*)(GLuint fence);
using TestFenceNVProc = GLboolean (*)(GLuint fence);
using SetFenceNVProc = void (*)(GLuint fence, GLenum condition);
using FlushVertexArrayRangeNVProc = void (*)();
using BlendEquationEXTProc = void (*)(GLenum mode);

// Each pointer is null until fetched, and stays null when the driver lacks it.
struct GLExtensions {
    SecondaryColorPointerEXTProc secondaryColorPointerEXT = nullptr;
    SecondaryColor3fEXTProc secondaryColor3fEXT = nullptr;
    AllocateMemoryNVProc allocateMemoryNV = nullptr;
    FreeMemoryNVProc freeMemoryNV = nullptr;
    VertexArrayRangeNVProc vertexArrayRangeNV = nullptr;
    GenFencesNVProc genFencesNV = nullptr;
    FinishFenceNVProc finishFenceNV = nullptr;
    TestFenceNVProc testFenceNV = nullptr;
    SetFenceNVProc setFenceNV = nullptr;
    FlushVertexArrayRangeNVProc flushVertexArrayRangeNV = nullptr;
    BlendEquationEXTProc blendEquationEXT = nullptr;
};

extern GLExtensions glExtensions;

// Fetches every entry point through the platform's lookup, in the fixed order, one log line
// each. The context must be current.
void loadGLExtensions();

// The one loader of every other entry point (buffer objects, queries, ...): the platform's
// lookup by name, null when the driver has none. GLX answers any name, so callers check the
// version or the extension first (contextHasExtension).
void* glEntryPoint(const char* name);
template <typename T> bool fetchGLEntryPoint(T& pointer, const char* name) {
    static_assert(sizeof(T) == sizeof(void*));
    pointer = reinterpret_cast<T>(glEntryPoint(name));
    return pointer != nullptr;
}
// True when the current context's extension list names this extension.
bool contextHasExtension(const char* extension);

// The same with the driver supplied by the caller (tests stand in for drivers we lack).
// extensionString is the context's space-separated extension list (null counts as empty).
// An entry point of an extension counts only when the list names that extension, because
// GLX and EGL hand out an address for any name; the dummy name is judged by its address alone.
using GetProcAddressFn = void* (*)(const char* name);
void loadGLExtensionsFrom(GetProcAddressFn getProcAddress, const char* extensionString);

// True when the space-separated list holds exactly this token.
bool extensionListHas(const char* extensionString, const char* extension);

// Clears every pointer (tests; the program fetches once and keeps them).
void clearGLExtensions();
