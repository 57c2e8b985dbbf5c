#include "render/gl_extensions.h"

#include "support/console_capture.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* const kNames[] = {
    "glSecondaryColorPointerEXT",
    "glSecondaryColor3fEXT",
    "wglAllocateMemoryNV",
    "wglFreeMemoryNV",
    "glVertexArrayRangeNV",
    "glGenFencesNV",
    "glFinishFenceNV",
    "glTestFenceNV",
    "glSetFenceNV",
    "glFlushVertexArrayRangeNV",
    "glBlendEquationEXT",
    "glIAmJustADummy",
};

void* answerEveryName(const char*) {
    static int anything;
    return &anything;
}

void* answerNothing(const char*) {
    return nullptr;
}

std::string expectedLog(const bool loaded[12], bool suspicious) {
    std::string log;
    for (int i = 0; i < 12; ++i) {
        log += std::string("  ") + kNames[i] + (loaded[i] ? "... loaded.\n" : "... failed.\n");
    }
    if (suspicious) log += "    This is mighty suspicious!\n";
    return log;
}

} // namespace

TEST(GLExtensions, ExtensionListMatchesWholeTokensOnly) {
    const char* list = "GL_EXT_blend_minmax_extra GL_NV_fence GL_EXT_secondary_color";
    EXPECT_TRUE(extensionListHas(list, "GL_NV_fence"));
    EXPECT_TRUE(extensionListHas(list, "GL_EXT_secondary_color"));
    EXPECT_FALSE(extensionListHas(list, "GL_EXT_blend_minmax"));
    EXPECT_FALSE(extensionListHas(list, "GL_NV"));
    EXPECT_FALSE(extensionListHas("", "GL_NV_fence"));
    EXPECT_FALSE(extensionListHas(nullptr, "GL_NV_fence"));
    EXPECT_TRUE(extensionListHas("GL_NV_fence", "GL_NV_fence"));
}

TEST(GLExtensions, DriverAnsweringEveryNameKeepsOnlyAdvertisedExtensions) {
    ConsoleCapture capture;
    clearGLExtensions();
    loadGLExtensionsFrom(answerEveryName, "GL_EXT_secondary_color GL_EXT_blend_minmax");
    const bool loaded[12] = {true,  true,  false, false, false, false,
                             false, false, false, false, true,  true};
    EXPECT_EQ(capture.text, expectedLog(loaded, true));
    EXPECT_NE(glExtensions.secondaryColor3fEXT, nullptr);
    EXPECT_NE(glExtensions.blendEquationEXT, nullptr);
    EXPECT_EQ(glExtensions.allocateMemoryNV, nullptr);
    EXPECT_EQ(glExtensions.genFencesNV, nullptr);
    clearGLExtensions();
}

TEST(GLExtensions, DriverWithoutEntryPointsFailsEveryNameEvenWhenAdvertised) {
    ConsoleCapture capture;
    clearGLExtensions();
    loadGLExtensionsFrom(answerNothing, "GL_NV_vertex_array_range GL_NV_fence");
    const bool loaded[12] = {};
    EXPECT_EQ(capture.text, expectedLog(loaded, false));
    EXPECT_EQ(glExtensions.vertexArrayRangeNV, nullptr);
}

// On the real context every line appears in order, and an extension the context does not
// advertise never counts as loaded whatever address the driver handed out.
TEST(GLExtensions, RealContextLogsEveryNameInOrder) {
    ASSERT_TRUE(useTestGLContext());
    const char* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    ConsoleCapture capture;
    clearGLExtensions();
    loadGLExtensions();

    size_t at = 0;
    for (const char* name : kNames) {
        const std::string head = std::string("  ") + name + "... ";
        ASSERT_EQ(capture.text.compare(at, head.size(), head), 0) << capture.text;
        at += head.size();
        const bool loaded = capture.text.compare(at, 8, "loaded.\n") == 0;
        EXPECT_TRUE(loaded || capture.text.compare(at, 8, "failed.\n") == 0);
        at += 8;
        if (std::strcmp(name, "glIAmJustADummy") == 0 && loaded) {
            const std::string suspicion = "    This is mighty suspicious!\n";
            EXPECT_EQ(capture.text.compare(at, suspicion.size(), suspicion), 0);
            at += suspicion.size();
        }
    }
    EXPECT_EQ(at, capture.text.size());

    if (!extensionListHas(list, "GL_NV_vertex_array_range")) {
        EXPECT_EQ(glExtensions.allocateMemoryNV, nullptr);
        EXPECT_NE(capture.text.find("  wglAllocateMemoryNV... failed.\n"), std::string::npos);
        EXPECT_NE(capture.text.find("  glVertexArrayRangeNV... failed.\n"), std::string::npos);
    }
    if (!extensionListHas(list, "GL_NV_fence")) {
        EXPECT_EQ(glExtensions.genFencesNV, nullptr);
    }
    clearGLExtensions();
}
