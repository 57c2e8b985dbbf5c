// Texture manager: finds an image by its bare file name in the current directory, decodes it
// by extension (PNG, JPEG, QW2), builds box-filtered mipmaps, uploads them to OpenGL and shares
// the result through a 256-slot name cache with reference counts. The manager owns every
// Texture and its pixel buffers (malloc'd); holders give theirs back with releaseTexture and
// never free one themselves. Single-threaded; the GL steps need a current context.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kTextureCacheSlots = 256;
constexpr int kMaxMipLevels = 16; // covers sides up to 65536 pixels

// One loaded image. Pixels: 4 bytes each (red, green, blue, alpha), rows from the top down.
struct Texture {
    char* name = nullptr; // as requested (directory included): the cache key
    int32_t glName = -1;  // -1 while the texture has no GL object
    int32_t width = 0;
    int32_t height = 0;
    int32_t refCount = 1;
    uint8_t* pixels = nullptr;              // level 0; freed after upload
    int32_t mipCount = 0;                   // reduced levels built
    uint8_t* mipLevels[kMaxMipLevels] = {}; // levels 1..mipCount; freed after upload
    bool uploadPending = false; // queued in a texture batch: pixels are the worker's until upload
};

// The cache: lookups search slots 0..textureCacheCount-1; insertion wraps to 0 after 255.
extern Texture* textureCache[kTextureCacheSlots];
extern int32_t textureCacheCount;
// Bytes of every level ever uploaded (width x height x 4 whatever the internal format);
// never decreased.
extern int32_t textureMemoryTotal;

// Returns the cached texture (one more reference) or loads, builds and uploads a new one.
// Null when the name is shorter than 4 characters or the file cannot be opened or decoded.
Texture* loadTexture(const char* name, bool buildMips, bool upload);

// Opens the bare file name of path from the current directory, else from the search folder,
// and decodes it into texture->pixels, width and height. path is a writable working copy: a
// missing PNG is retried with ".JPG" in place of its last four characters. No GL calls.
bool loadImageFile(Texture* texture, char* path);

// A second folder searched after the current directory: the viewer sets the scene file's
// folder so a scene's pictures are found from anywhere. Copied; null or "" searches only the
// current directory; a folder too long for a path is refused (false) and searches nothing.
bool setImageSearchFolder(const char* folder);

// Writes to found (foundBytes long) the path under which the bare file name opens: name
// itself in the current directory, else folder/name in the search folder. False when neither.
bool findImageFile(const char* name, char* found, size_t foundBytes);

// Builds the reduced levels from texture->pixels with an integer box filter. No GL calls.
void buildMipmaps(Texture* texture);

// Sends level 0 and every reduced level to the texture object bound on GL_TEXTURE_2D: RGBA,
// or DXT5 blocks compressed on the CPU when setupOptions.useDxt is set.
void uploadTexture(Texture* texture);

// Texture batches, for loading many pictures at once (the demo's data). Between begin and
// end, textures loaded with upload have their mipmaps (and, with DXT5, their blocks) made on
// a worker thread while the caller decodes the next picture; their GL object exists at once,
// their levels arrive at the latest by flushTextureUploads or endTextureBatch, always in load
// order. The memory count and log lines are those of a load without batch. Binding or
// releasing a texture still waiting flushes first. Without a second processor nothing
// changes.
void beginTextureBatch();
// Uploads the waiting textures whose levels are ready, without waiting for the others.
void uploadReadyTextures();
// Uploads every waiting texture, waiting for the worker as needed.
void flushTextureUploads();
// Flushes and stops the worker; does nothing outside a batch.
void endTextureBatch();
// The batch's worker, for other processor-only jobs of the same load (queued behind the
// textures already handed over); null outside a batch or without a second processor.
struct JobThread;
JobThread* textureBatchWorker();

// Makes the texture current on GL_TEXTURE_2D; one without a GL object is uploaded into
// object 0 on every such bind.
void bindTexture(Texture* texture);

// Drops one reference; the last one removes the texture from the searched cache slots,
// deletes its GL object and frees it.
void releaseTexture(Texture* texture);

// Settles setupOptions.useDxt for the current context before anything loads: a software
// renderer leaves compression off (one console line says why) unless forced (--dxt).
void chooseTextureCompression(bool forced);
