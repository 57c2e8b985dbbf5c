// The texture manager's GL half on a headless context: upload with and without DXT, the
// memory total, filters, binding a texture that has no GL object, and release.
#include "image/texture.h"

#include "image/dxt_compress.h"
#include "platform/options.h"
#include "support/console_capture.h"
#include "support/gl_context.h"
#include "support/test_images.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class TextureUpload : public ::testing::Test {
  protected:
    ScratchDirectory scratch;
    bool savedDxt = setupOptions.useDxt;
    void SetUp() override {
        if (!useTestGLContext(64, 64)) GTEST_SKIP() << "no GL context";
        for (Texture*& slot : textureCache)
            slot = nullptr;
        textureCacheCount = 0;
    }
    void TearDown() override { setupOptions.useDxt = savedDxt; }
};

bool hasS3tc() {
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    return extensions && std::strstr(extensions, "GL_EXT_texture_compression_s3tc");
}

std::vector<uint8_t> gradientRgba(int w, int h) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            rgba.insert(rgba.end(), {uint8_t(x), uint8_t(y), uint8_t(x ^ y), 255});
    return rgba;
}

GLint boundParameter(GLenum name) {
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

GLint levelParameter(int level, GLenum name) {
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

TEST_F(TextureUpload, MipmappedUploadCountsEveryLevelAndDropsPixels) {
    ASSERT_TRUE(writeBytes("leaf.png", encodeRgbaPng(256, 256, gradientRgba(256, 256))));
    for (bool dxt : {false, true}) {
        SCOPED_TRACE(dxt ? "DXT5" : "RGBA");
        if (dxt && !hasS3tc()) continue;
        setupOptions.useDxt = dxt;
        const int32_t before = textureMemoryTotal;
        Texture* leaf = loadTexture("leaf.png", true, true);
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(textureMemoryTotal - before, 349524); // whatever the internal format
        EXPECT_NE(leaf->glName, -1);
        EXPECT_EQ(leaf->pixels, nullptr);
        EXPECT_EQ(leaf->mipLevels[0], nullptr);
        EXPECT_EQ(leaf->mipCount, 8);

        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, leaf->glName);
        EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
        EXPECT_EQ(boundParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
        EXPECT_EQ(levelParameter(8, GL_TEXTURE_WIDTH), 1);
        EXPECT_EQ(levelParameter(0, GL_TEXTURE_COMPRESSED), dxt ? GL_TRUE : GL_FALSE);
        if (dxt) {
            EXPECT_EQ(levelParameter(0, GL_TEXTURE_INTERNAL_FORMAT),
                      GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
            EXPECT_EQ(levelParameter(0, GL_TEXTURE_COMPRESSED_IMAGE_SIZE), 256 * 256);
            // The blocks made on the CPU decode back to the picture: smooth ramps in red and
            // green survive closely, alpha exactly, and rows are not flipped.
            std::vector<uint8_t> level0(256 * 256 * 4);
            glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, level0.data());
            int worst = 0;
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x) {
                    const uint8_t* p = &level0[size_t(y * 256 + x) * 4];
                    worst = std::max({worst, std::abs(p[0] - x), std::abs(p[1] - y)});
                    ASSERT_EQ(p[3], 255);
                }
            EXPECT_LE(worst, 8);
        } else {
            // Row 0 of the file is row 0 of the texture (t = 0 is the top of the picture).
            std::vector<uint8_t> level1(128 * 128 * 4);
            glGetTexImage(GL_TEXTURE_2D, 1, GL_RGBA, GL_UNSIGNED_BYTE, level1.data());
            const size_t pixel = (5 * 128 + 3) * 4; // mean of rows 10-11, columns 6-7
            EXPECT_EQ(level1[pixel], 6);
            EXPECT_EQ(level1[pixel + 1], 10);
        }
        const GLuint object = GLuint(leaf->glName);
        releaseTexture(leaf);
        EXPECT_FALSE(glIsTexture(object));
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureUpload, WithoutMipmapsBothFiltersAreLinear) {
    setupOptions.useDxt = false;
    ASSERT_TRUE(writeBytes("flat.png", encodeRgbaPng(4, 2, gradientRgba(4, 2))));
    const int32_t before = textureMemoryTotal;
    Texture* flat = loadTexture("flat.png", false, true);
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(textureMemoryTotal - before, 32);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    GLfloat border[4] = {1, 1, 1, 1};
    glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
    EXPECT_EQ(border[3], 0.0f);
    releaseTexture(flat);
}

TEST_F(TextureUpload, UnuploadedTextureIsUploadedIntoObjectZeroOnEveryBind) {
    setupOptions.useDxt = false;
    ASSERT_TRUE(writeBytes("late.png", encodeRgbaPng(8, 8, gradientRgba(8, 8))));
    Texture* late = loadTexture("late.png", true, false);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->glName, -1);
    ASSERT_NE(late->pixels, nullptr);
    const int32_t before = textureMemoryTotal;
    bindTexture(late);
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 8);
    EXPECT_EQ(levelParameter(3, GL_TEXTURE_WIDTH), 1);
    bindTexture(late);
    EXPECT_EQ(textureMemoryTotal - before, 2 * (256 + 64 + 16 + 4));
    EXPECT_NE(late->pixels, nullptr); // kept: the next bind needs them again
    releaseTexture(late);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureUpload, OddSizedPictureMakesACompleteTexture) {
    ASSERT_TRUE(writeBytes("odd.png", encodeRgbaPng(5, 3, gradientRgba(5, 3))));
    for (bool dxt : {false, true}) {
        SCOPED_TRACE(dxt ? "DXT5" : "RGBA");
        setupOptions.useDxt = dxt && hasS3tc();
        Texture* odd = loadTexture("odd.png", true, true);
        ASSERT_NE(odd, nullptr);
        EXPECT_EQ(odd->mipCount, 2);
        EXPECT_EQ(levelParameter(1, GL_TEXTURE_WIDTH), 2);
        EXPECT_EQ(levelParameter(2, GL_TEXTURE_HEIGHT), 1);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        releaseTexture(odd);
    }
}

// A batch hands the mipmaps and blocks to a worker; what arrives in GL, the memory count and
// the log are those of loads without a batch, compressed or not, and a texture still waiting
// may be bound or released.
TEST_F(TextureUpload, BatchUploadsWhatAPlainLoadUploads) {
    const char* const names[] = {"a.png", "b.png", "c.png", "d.png"};
    // The last is large enough to be compressed in two bands, and its lower band ends in a
    // partial row of blocks.
    const int sizes[4][2] = {{64, 64}, {96, 64}, {128, 64}, {320, 262}};
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> rgba = gradientRgba(sizes[i][0], sizes[i][1]);
        for (size_t p = 3; p < rgba.size(); p += 4 * 7)
            rgba[p] = uint8_t(p * 13); // alpha varying inside blocks
        ASSERT_TRUE(writeBytes(names[i], encodeRgbaPng(sizes[i][0], sizes[i][1], rgba)));
    }
    // Every level of each texture as the driver decodes it (GL 1.1 reads, as on Windows).
    auto levelsOf = [](Texture* texture) {
        std::vector<uint8_t> all;
        glBindTexture(GL_TEXTURE_2D, GLuint(texture->glName));
        for (int level = 0; level <= texture->mipCount; ++level) {
            std::vector<uint8_t> pixels(size_t(levelParameter(level, GL_TEXTURE_WIDTH)) *
                                        size_t(levelParameter(level, GL_TEXTURE_HEIGHT)) * 4);
            glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
            all.insert(all.end(), pixels.begin(), pixels.end());
        }
        return all;
    };
    for (bool dxt : {true, false}) {
        if (dxt && !hasS3tc()) continue;
        SCOPED_TRACE(dxt ? "DXT5" : "RGBA");
        setupOptions.useDxt = dxt;
        std::vector<std::vector<uint8_t>> plain, batched;
        std::string plainLog, batchLog;
        int32_t plainMemory = 0, batchMemory = 0;
        for (bool batch : {false, true}) {
            ConsoleCapture console;
            textureMemoryTotal = 0; // the log names the running total
            const int32_t before = textureMemoryTotal;
            if (batch) beginTextureBatch();
            Texture* loaded[4];
            for (int i = 0; i < 4; ++i)
                loaded[i] = loadTexture(names[i], true, true);
            for (Texture* texture : loaded)
                ASSERT_NE(texture, nullptr);
            // A texture dropped while it may still wait, and one bound while it may still wait.
            Texture* dropped =
                loadTexture("b.png", true, true); // from the cache: one more reference
            releaseTexture(dropped);
            bindTexture(loaded[3]);
            EXPECT_EQ(levelParameter(0, GL_TEXTURE_COMPRESSED), dxt ? GL_TRUE : GL_FALSE);
            if (batch) endTextureBatch();
            (batch ? batchMemory : plainMemory) = textureMemoryTotal - before;
            (batch ? batchLog : plainLog) = console.text;
            for (Texture* texture : loaded) {
                EXPECT_FALSE(texture->uploadPending);
                EXPECT_EQ(texture->pixels, nullptr);
                (batch ? batched : plain).push_back(levelsOf(texture));
                releaseTexture(texture);
            }
        }
        EXPECT_EQ(batched, plain);
        EXPECT_EQ(batchMemory, plainMemory);
        EXPECT_EQ(batchLog, plainLog);
    }
    endTextureBatch(); // outside a batch: nothing
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureUpload, CompressionIsSettledByTheContextsRendererWithOneLine) {
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    ASSERT_NE(renderer, nullptr);
    const bool software = isSoftwareRenderer(renderer);
    struct Case {
        bool asked, forced, useDxt, line;
    };
    for (const Case& c : {Case{true, false, !software, software}, Case{true, true, true, false},
                          Case{false, true, false, false}, Case{false, false, false, false}}) {
        setupOptions.useDxt = c.asked;
        ConsoleCapture log;
        chooseTextureCompression(c.forced);
        EXPECT_EQ(setupOptions.useDxt, c.useDxt) << renderer << c.asked << c.forced;
        EXPECT_EQ(log.text.empty(), !c.line) << log.text;
        if (c.line) {
            EXPECT_NE(log.text.find(renderer), std::string::npos) << log.text;
        }
    }
}

} // namespace
