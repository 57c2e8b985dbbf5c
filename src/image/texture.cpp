// The texture cache and the OpenGL half of the texture manager (upload, bind, delete).
#include "image/texture.h"

#include "diag/console.h"
#include "image/dxt_compress.h"
#include "platform/options.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

Texture* textureCache[kTextureCacheSlots] = {};
int32_t textureCacheCount = 0;
int32_t textureMemoryTotal = 0;

namespace {

bool sameNameIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
        if (x == 0) return true;
    }
}

// Wraps instead of overflowing: the total is a report, and it is never decreased.
void countTextureMemory(int32_t width, int32_t height) {
    const uint32_t bytes = uint32_t(width) * uint32_t(height) * 4u;
    textureMemoryTotal = int32_t(uint32_t(textureMemoryTotal) + bytes);
}

void freePixels(Texture* texture) {
    std::free(texture->pixels);
    texture->pixels = nullptr;
    for (uint8_t*& level : texture->mipLevels) {
        std::free(level);
        level = nullptr;
    }
}

} // namespace

Texture* loadTexture(const char* name, bool buildMips, bool upload) {
    if (!name || std::strlen(name) < 4) return nullptr;

    for (int32_t i = 0; i < textureCacheCount; ++i) {
        Texture* cached = textureCache[i];
        if (cached && sameNameIgnoringCase(cached->name, name)) {
            ++cached->refCount;
            consolePrint("Found in cache: %s\n", name);
            return cached;
        }
    }

    Texture* texture = new Texture{};
    texture->name = strdup(name);
    char* workingName = strdup(name); // the JPG fallback rewrites its extension
    const bool loaded = texture->name && workingName && loadImageFile(texture, workingName);
    std::free(workingName);
    if (!loaded) {
        releaseTexture(texture);
        return nullptr;
    }
    consolePrint("  W: %i H: %i \n", texture->width, texture->height);

    if (buildMips) buildMipmaps(texture);
    if (upload) {
        GLuint object = 0;
        glGenTextures(1, &object);
        texture->glName = int32_t(object);
        glBindTexture(GL_TEXTURE_2D, object);
        uploadTexture(texture);
        freePixels(texture); // mipCount keeps its value
    }

    textureCache[textureCacheCount] = texture;
    ++textureCacheCount;
    if (textureCacheCount > kTextureCacheSlots - 1) textureCacheCount = 0;

    consolePrint("Total texture mem atm: %ik \n", textureMemoryTotal / 1024);
    return texture;
}

namespace {

// One level into the bound texture object. DXT5 blocks are made here on the CPU, which is
// faster than letting Mesa compress; without pixels (or block memory) the driver is asked.
void uploadLevel(int32_t level, int32_t w, int32_t h, const uint8_t* pixels, uint8_t* dxtBuffer) {
    if (dxtBuffer && pixels) {
        compressDxt5(pixels, w, h, dxtBuffer);
        glCompressedTexImage2D(GL_TEXTURE_2D, level, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, w, h, 0,
                               GLsizei(dxt5Bytes(w, h)), dxtBuffer);
    } else {
        const GLint internalFormat =
            setupOptions.useDxt ? GL_COMPRESSED_RGBA_S3TC_DXT5_EXT : GLint(GL_RGBA);
        glTexImage2D(GL_TEXTURE_2D, level, internalFormat, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels);
    }
    countTextureMemory(w, h);
}

} // namespace

void uploadTexture(Texture* texture) {
    int32_t w = texture->width, h = texture->height;
    // Level 0 is the largest, so its block buffer serves every level.
    uint8_t* dxtBuffer = nullptr;
    if (setupOptions.useDxt && texture->pixels)
        dxtBuffer = static_cast<uint8_t*>(std::malloc(dxt5Bytes(w, h)));

    uploadLevel(0, w, h, texture->pixels, dxtBuffer);
    static const GLfloat transparentBlack[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, transparentBlack);
    if (texture->mipCount == 0) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    } else {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        for (int32_t i = 1; i <= texture->mipCount; ++i) {
            w = std::max(1, w / 2);
            h = std::max(1, h / 2);
            uploadLevel(i, w, h, texture->mipLevels[i - 1], dxtBuffer);
        }
    }
    std::free(dxtBuffer);
}

void bindTexture(Texture* texture) {
    if (!texture) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    if (texture->glName == -1) {
        // Serves textures loaded without upload; it uploads again on every such bind.
        glBindTexture(GL_TEXTURE_2D, 0);
        uploadTexture(texture);
        return;
    }
    glBindTexture(GL_TEXTURE_2D, GLuint(texture->glName));
}

void releaseTexture(Texture* texture) {
    if (!texture) return;
    --texture->refCount;
    if (texture->refCount > 0) return;

    for (int32_t i = 0; i < textureCacheCount; ++i) {
        if (textureCache[i] != texture) continue;
        std::memmove(&textureCache[i], &textureCache[i + 1],
                     sizeof(Texture*) * size_t(textureCacheCount - 1 - i));
        --textureCacheCount;
        textureCache[textureCacheCount] = nullptr;
        break;
    }
    // A slot past the searched ones may still name it (the cache wrapped): no dangling entry.
    for (int32_t i = textureCacheCount; i < kTextureCacheSlots; ++i)
        if (textureCache[i] == texture) textureCache[i] = nullptr;

    if (texture->glName != -1) {
        const GLuint object = GLuint(texture->glName);
        glDeleteTextures(1, &object);
        texture->glName = -1;
    }
    freePixels(texture);
    std::free(texture->name);
    delete texture;
}
