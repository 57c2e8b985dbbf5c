#include "render/gl_extensions.h"

#include "diag/console.h"
#include "platform/video.h"

#include <cstring>

GLExtensions glExtensions;

namespace {

struct EntryPoint {
    const char* logName;   // the name the log shows
    const char* fetchName; // what this platform calls it
    const char* extension; // null: judged by its address alone
    void* slot;            // the function pointer to fill; null: only tested, never kept
};

// POSIX guarantees that function and data pointers share one representation.
template <typename T> void* slotOf(T& pointer) {
    static_assert(sizeof(T) == sizeof(void*));
    return &pointer;
}

// The allocator pair is "wgl" under Windows and "glX" here; the log keeps the program's names.
const EntryPoint kEntryPoints[] = {
    {"glSecondaryColorPointerEXT", "glSecondaryColorPointerEXT", "GL_EXT_secondary_color",
     slotOf(glExtensions.secondaryColorPointerEXT)},
    {"glSecondaryColor3fEXT", "glSecondaryColor3fEXT", "GL_EXT_secondary_color",
     slotOf(glExtensions.secondaryColor3fEXT)},
    {"wglAllocateMemoryNV", "glXAllocateMemoryNV", "GL_NV_vertex_array_range",
     slotOf(glExtensions.allocateMemoryNV)},
    {"wglFreeMemoryNV", "glXFreeMemoryNV", "GL_NV_vertex_array_range",
     slotOf(glExtensions.freeMemoryNV)},
    {"glVertexArrayRangeNV", "glVertexArrayRangeNV", "GL_NV_vertex_array_range",
     slotOf(glExtensions.vertexArrayRangeNV)},
    {"glGenFencesNV", "glGenFencesNV", "GL_NV_fence", slotOf(glExtensions.genFencesNV)},
    {"glFinishFenceNV", "glFinishFenceNV", "GL_NV_fence", slotOf(glExtensions.finishFenceNV)},
    {"glTestFenceNV", "glTestFenceNV", "GL_NV_fence", slotOf(glExtensions.testFenceNV)},
    {"glSetFenceNV", "glSetFenceNV", "GL_NV_fence", slotOf(glExtensions.setFenceNV)},
    {"glFlushVertexArrayRangeNV", "glFlushVertexArrayRangeNV", "GL_NV_vertex_array_range",
     slotOf(glExtensions.flushVertexArrayRangeNV)},
    {"glBlendEquationEXT", "glBlendEquationEXT", "GL_EXT_blend_minmax",
     slotOf(glExtensions.blendEquationEXT)},
    {"glIAmJustADummy", "glIAmJustADummy", nullptr, nullptr},
};

} // namespace

bool extensionListHas(const char* extensionString, const char* extension) {
    if (!extensionString || !extension) return false;
    const size_t length = std::strlen(extension);
    if (length == 0) return false;
    const char* at = extensionString;
    while ((at = std::strstr(at, extension)) != nullptr) {
        const bool startsToken = at == extensionString || at[-1] == ' ';
        const bool endsToken = at[length] == ' ' || at[length] == '\0';
        if (startsToken && endsToken) return true;
        at += length;
    }
    return false;
}

void clearGLExtensions() {
    glExtensions = GLExtensions{};
}

void loadGLExtensionsFrom(GetProcAddressFn getProcAddress, const char* extensionString) {
    for (const EntryPoint& entry : kEntryPoints) {
        void* address = getProcAddress(entry.fetchName);
        if (entry.extension && !extensionListHas(extensionString, entry.extension))
            address = nullptr;
        if (entry.slot) std::memcpy(entry.slot, &address, sizeof address);
        consolePrint("  %s", entry.logName);
        consolePrint(address ? "... loaded.\n" : "... failed.\n");
        if (!entry.slot && address) consolePrint("    This is mighty suspicious!\n");
    }
}

void loadGLExtensions() {
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    loadGLExtensionsFrom(glProcAddress, extensions);
}

void* glEntryPoint(const char* name) {
    return glProcAddress(name);
}

bool contextHasExtension(const char* extension) {
    return extensionListHas(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), extension);
}
