// The texture cache and the OpenGL half of the texture manager (upload, bind, delete).
#include "image/texture.h"

#include "diag/console.h"
#include "image/dxt_compress.h"
#include "image/image_loaders.h"
#include "platform/job_thread.h"
#include "platform/options.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
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

// Level side lengths as OpenGL halves them: down, never below 1.
void halveSides(int32_t& w, int32_t& h) {
    w = std::max(1, w / 2);
    h = std::max(1, h / 2);
}

void freePixels(Texture* texture) {
    std::free(texture->pixels);
    texture->pixels = nullptr;
    for (uint8_t*& level : texture->mipLevels) {
        std::free(level);
        level = nullptr;
    }
}

// Filters and border of the bound texture object, for a chain of mipCount reduced levels.
void setTextureParameters(int32_t mipCount) {
    static const GLfloat transparentBlack[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, transparentBlack);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mipCount == 0 ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

// A texture of the batch: its mipmaps and, with DXT5, its blocks (every level, level 0 first)
// are made by job on the worker. Slots form a ring in load order and never move while the
// worker may write one.
struct PendingUpload {
    Texture* texture = nullptr;
    uint8_t* blocks = nullptr; // null: the levels go up as RGBA
    size_t pixelBytes = 0;     // the decoded levels held until upload
    bool buildMips = false;
    int32_t splitRow = 0; // level 0 rows above it are compressed by a job of their own
    uint64_t job = 0;     // the last of its jobs
};
// A large texture's blocks come from two jobs, so a caller waiting for it (the loading
// picture, the last texture of a load) compresses beside the worker instead of idling. The
// upper band of level 0 is a little more than half the work: the other job also builds the
// mipmaps and compresses them.
constexpr int64_t kSplitPixels = 256 * 256;
// Two jobs per texture, and room for other jobs of the load (the demo's scene files).
constexpr int kPendingUploadSlots = (kJobQueueSlots - 16) / 2;
// Decoded levels waiting for the worker stay in memory; past this a load waits for the
// oldest to be uploaded instead of decoding further ahead.
constexpr size_t kMaxPendingPixelBytes = size_t(128) << 20;

struct TextureBatch {
    bool active = false;
    JobThread* worker = nullptr;
    PendingUpload slots[kPendingUploadSlots];
    uint64_t oldest = 0; // ring positions: oldest waiting .. next free
    uint64_t next = 0;
    size_t pixelBytes = 0;
};
TextureBatch batch;

// The reduced levels buildMipmaps makes for a width x height picture (when memory allows).
int32_t mipChainLength(int32_t w, int32_t h) {
    int32_t count = 0;
    while ((w != 1 || h != 1) && count < kMaxMipLevels) {
        halveSides(w, h);
        ++count;
    }
    return count;
}

// Bytes of a chain of mipCount reduced levels below width x height: DXT5 blocks, or RGBA.
size_t chainBytes(int32_t w, int32_t h, int32_t mipCount, bool blocks) {
    size_t bytes = 0;
    for (int32_t i = 0; i <= mipCount; ++i) {
        if (i > 0) halveSides(w, h);
        bytes += blocks ? dxt5Bytes(w, h) : size_t(w) * size_t(h) * 4;
    }
    return bytes;
}

// On the worker: level 0's blocks above the split row.
void compressUpperBand(void* argument) {
    const PendingUpload* pending = static_cast<const PendingUpload*>(argument);
    compressDxt5(pending->texture->pixels, pending->texture->width, pending->splitRow,
                 pending->blocks);
}

// On the worker: the mipmaps (when asked) and every level's blocks (when compressed) but the
// upper band's, from pixels nobody else touches until the upload.
void prepareChain(void* argument) {
    PendingUpload* pending = static_cast<PendingUpload*>(argument);
    Texture* texture = pending->texture;
    if (pending->buildMips) buildMipmaps(texture);
    if (!pending->blocks) return;
    int32_t w = texture->width, h = texture->height;
    const size_t upperBytes = dxt5Bytes(w, pending->splitRow);
    compressDxt5(texture->pixels + size_t(pending->splitRow) * size_t(w) * 4, w,
                 h - pending->splitRow, pending->blocks + upperBytes);
    uint8_t* out = pending->blocks;
    for (int32_t i = 1; i <= texture->mipCount; ++i) {
        out += dxt5Bytes(w, h);
        halveSides(w, h);
        compressDxt5(texture->mipLevels[i - 1], w, h, out);
    }
}

// Uploads the oldest waiting texture, waiting for its blocks.
void uploadOldest() {
    PendingUpload& pending = batch.slots[batch.oldest % kPendingUploadSlots];
    waitForJob(batch.worker, pending.job);
    Texture* texture = pending.texture;
    glBindTexture(GL_TEXTURE_2D, GLuint(texture->glName));
    int32_t w = texture->width, h = texture->height;
    const uint8_t* blocks = pending.blocks;
    for (int32_t level = 0; level <= texture->mipCount; ++level) {
        if (level > 0) halveSides(w, h);
        if (!blocks) {
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         level == 0 ? texture->pixels : texture->mipLevels[level - 1]);
            continue;
        }
        const size_t bytes = dxt5Bytes(w, h);
        glCompressedTexImage2D(GL_TEXTURE_2D, level, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, w, h, 0,
                               GLsizei(bytes), blocks);
        blocks += bytes;
    }
    setTextureParameters(texture->mipCount);
    std::free(pending.blocks);
    freePixels(texture);
    texture->uploadPending = false;
    batch.pixelBytes -= pending.pixelBytes;
    pending = PendingUpload{};
    ++batch.oldest;
}

// Hands a freshly decoded texture to the worker, which builds its mipmaps when asked and
// compresses it when DXT5 is on; false when it is to be handled here and now.
bool queueUpload(Texture* texture, bool buildMips) {
    if (!batch.active || !batch.worker || !texture->pixels) return false;
    const int32_t w = texture->width, h = texture->height;
    // The chain the worker will build; only a failed allocation there makes it shorter (and
    // the memory count, made here, a little high).
    const int32_t mipCount = buildMips ? mipChainLength(w, h) : texture->mipCount;
    const size_t pixelBytes = chainBytes(w, h, mipCount, false);
    uploadReadyTextures();
    while (batch.oldest != batch.next && (batch.next - batch.oldest == kPendingUploadSlots ||
                                          batch.pixelBytes + pixelBytes > kMaxPendingPixelBytes))
        uploadOldest();
    uint8_t* blocks = nullptr;
    if (setupOptions.useDxt) {
        blocks = static_cast<uint8_t*>(std::malloc(chainBytes(w, h, mipCount, true)));
        if (!blocks) return false;
    }
    PendingUpload& pending = batch.slots[batch.next % kPendingUploadSlots];
    // Rows of whole blocks, three quarters of them.
    const int32_t splitRow = blocks && int64_t(w) * h >= kSplitPixels ? h * 3 / 16 * 4 : 0;
    pending = PendingUpload{texture, blocks, pixelBytes, buildMips, splitRow, 0};
    texture->uploadPending = true;
    const uint64_t upper = splitRow > 0 ? queueJob(batch.worker, compressUpperBand, &pending) : 0;
    if (splitRow == 0 || upper != 0) pending.job = queueJob(batch.worker, prepareChain, &pending);
    if (pending.job == 0 && upper != 0) {
        // The queue filled between the two (other jobs share it): the rest here and now.
        prepareChain(&pending);
        pending.job = upper;
    }
    if (pending.job == 0) { // only when other jobs fill the queue: then here and now
        std::free(blocks);
        pending = PendingUpload{};
        texture->uploadPending = false;
        return false;
    }
    ++batch.next;
    batch.pixelBytes += pixelBytes;
    // Counted now, as an upload now would, so the log line after the load reads the same.
    int32_t lw = w, lh = h;
    countTextureMemory(lw, lh);
    for (int32_t i = 1; i <= mipCount; ++i) {
        halveSides(lw, lh);
        countTextureMemory(lw, lh);
    }
    return true;
}

} // namespace

void beginTextureBatch() {
    if (batch.active) return;
    batch.active = true;
    batch.worker = startJobThread("texture loading");
}

void uploadReadyTextures() {
    if (!batch.worker) return;
    const uint64_t finished = finishedJobs(batch.worker);
    while (batch.oldest != batch.next &&
           batch.slots[batch.oldest % kPendingUploadSlots].job <= finished)
        uploadOldest();
}

void flushTextureUploads() {
    // All the blocks first, so this thread compresses beside the worker instead of waiting
    // for it texture by texture.
    if (batch.oldest != batch.next)
        waitForJob(batch.worker, batch.slots[(batch.next - 1) % kPendingUploadSlots].job);
    while (batch.oldest != batch.next)
        uploadOldest();
}

JobThread* textureBatchWorker() {
    return batch.worker;
}

void endTextureBatch() {
    if (!batch.active) return;
    flushTextureUploads();
    stopJobThread(batch.worker);
    batch.worker = nullptr;
    batch.active = false;
}

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
    // A picture for GL must fit the context's largest texture: refused from its header.
    GLint maxSide = 0;
    if (upload) glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    if (maxSide > 0) setImageSideLimit(maxSide);
    const bool loaded = texture->name && workingName && loadImageFile(texture, workingName);
    if (maxSide > 0) setImageSideLimit(0);
    std::free(workingName);
    if (!loaded) {
        releaseTexture(texture);
        return nullptr;
    }
    consolePrint("  W: %i H: %i \n", texture->width, texture->height);

    if (upload) {
        GLuint object = 0;
        glGenTextures(1, &object);
        texture->glName = int32_t(object);
        if (!queueUpload(texture, buildMips)) {
            if (buildMips) buildMipmaps(texture);
            glBindTexture(GL_TEXTURE_2D, object);
            uploadTexture(texture);
            freePixels(texture); // mipCount keeps its value
        }
    } else if (buildMips) {
        buildMipmaps(texture);
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
    setTextureParameters(texture->mipCount);
    for (int32_t i = 1; i <= texture->mipCount; ++i) {
        halveSides(w, h);
        uploadLevel(i, w, h, texture->mipLevels[i - 1], dxtBuffer);
    }
    std::free(dxtBuffer);
}

void bindTexture(Texture* texture) {
    if (texture && texture->uploadPending) flushTextureUploads();
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
    if (texture->uploadPending) flushTextureUploads();
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

void chooseTextureCompression(bool forced) {
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const DxtChoice choice = chooseDxt(setupOptions.useDxt, forced, renderer);
    setupOptions.useDxt = choice == DxtChoice::on;
    if (choice == DxtChoice::offOnSoftwareRenderer)
        consolePrint("Software renderer (%s): textures are not DXT-compressed, which draws "
                     "faster there (--dxt compresses them anyway) \n",
                     renderer);
}
