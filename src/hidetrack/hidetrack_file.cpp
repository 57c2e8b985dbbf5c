#include "hidetrack/hidetrack_file.h"

#include "diag/console.h"

#include <cstdio>
#include <cstring>

namespace {

// Far beyond any real scene (a 60-second scene at 30 samples needs 1801); keeps a damaged
// sample rate from asking for gigabytes.
constexpr int64_t kMaxFrames = int64_t(1) << 24;

bool readBytes(gzFile stream, void* out, unsigned bytes) {
    return gzread(stream, out, bytes) == int(bytes);
}

bool readInt(gzFile stream, int32_t& value) {
    value = 0;
    return readBytes(stream, &value, 4);
}

bool readFloat(gzFile stream, float& value) {
    value = 0.0f;
    return readBytes(stream, &value, 4);
}

// A read came up short: an end of data is a truncated track, anything else (a folder, a read
// error, a gzip stream that fails its checks) is said as it is. zlib's message starts with
// the path the stream was opened with and words a system error with strerror.
void reportShortRead(gzFile stream) {
    int code = Z_OK;
    const char* message = gzerror(stream, &code);
    if (code == Z_OK || code == Z_BUF_ERROR)
        consolePrint("Hide track file is truncated. Please regenerate it! \n");
    else if (code == Z_ERRNO)
        consolePrint("Hide track file cannot be read (%s). Please regenerate it! \n", message);
    else
        consolePrint("Hide track file is damaged (%s). Please regenerate it! \n", message);
}

void releaseBits(Scene& scene) {
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        delete[] scene.objects[i].hideBits;
        scene.objects[i].hideBits = nullptr;
        scene.objects[i].hideBitsBytes = 0;
    }
}

} // namespace

int64_t hidetrackFrameCount(float timeStart, float timeEnd, int32_t sampleRate) {
    const float step = 1.0f / float(sampleRate);
    const double samples = double(timeEnd - timeStart) / double(step);
    if (!(samples >= 0.0 && samples < double(kMaxFrames))) return -1;
    return 1 + int64_t(samples);
}

int64_t hidetrackBlockBytes(int32_t cameraCount, int64_t frameCount) {
    return int64_t(cameraCount) * (frameCount / 8 + 1);
}

bool loadHidetrack(Scene& scene, gzFile stream) {
    if (stream == nullptr) return false;
    int32_t objectCount, cameraCount, sampleRate, frameCount, rowBits;
    float timeStart, timeEnd;
    bool complete = readInt(stream, objectCount) && readInt(stream, cameraCount) &&
                    readFloat(stream, timeStart) && readFloat(stream, timeEnd);
    complete = readInt(stream, sampleRate) && complete;
    scene.hideFrameRate = sampleRate;
    complete = readInt(stream, frameCount) && complete;
    complete = readInt(stream, rowBits) && complete;
    scene.hideBitsPerCamera = rowBits;
    if (!complete) {
        reportShortRead(stream);
        return false;
    }
    // A rate of zero or below has no sample times; refused like any other mismatch.
    const int64_t expectedFrames =
        sampleRate > 0 ? hidetrackFrameCount(scene.timeStart, scene.timeEnd, sampleRate) : -1;
    if (objectCount != scene.objectCount || cameraCount != scene.cameraCount ||
        timeStart != scene.timeStart || timeEnd != scene.timeEnd || expectedFrames < 1 ||
        frameCount != expectedFrames) {
        consolePrint("Hide track is incompatible with scene. Please regenerate it! \n");
        return false;
    }
    // Both factors are bounded (65535 objects from the scene file, 2^31 cameras times 2^21
    // bytes per row at most), so the product fits.
    const int64_t wideBlockBytes = hidetrackBlockBytes(cameraCount, frameCount);
    if (wideBlockBytes > kHidetrackMaxBytes ||
        wideBlockBytes * scene.objectCount > kHidetrackMaxBytes) {
        consolePrint("Hide track needs more than the %i MB hidetrack limit. \n",
                     int(kHidetrackMaxBytes >> 20));
        return false;
    }
    const int32_t blockBytes = int32_t(wideBlockBytes);
    releaseBits(scene);
    for (int32_t i = 0; i < scene.objectCount; ++i) {
        SceneObject& object = scene.objects[i];
        // Not cleared: the read fills every byte or the track is refused, so memory is only
        // touched as the file's bytes arrive.
        object.hideBits = new uint8_t[blockBytes > 0 ? blockBytes : 1];
        object.hideBitsBytes = blockBytes;
        if (blockBytes > 0 && !readBytes(stream, object.hideBits, unsigned(blockBytes))) {
            releaseBits(scene);
            reportShortRead(stream);
            return false;
        }
    }
    // A gzip stream checks its length and CRC only after its last byte: one more read makes
    // zlib look, so damaged bits are refused rather than shown. Bytes past the track are
    // allowed, as they always were.
    uint8_t beyond = 0;
    if (gzread(stream, &beyond, 1) < 0) {
        releaseBits(scene);
        reportShortRead(stream);
        return false;
    }
    return true;
}

bool setHidetrackBit(uint8_t* block, int64_t blockBytes, int64_t bit) {
    if (bit < 0 || bit / 8 >= blockBytes) return false;
    block[bit / 8] = uint8_t(block[bit / 8] | (1u << (bit % 8)));
    return true;
}

namespace {

// Little-endian on every platform we build for; the fields are copied as they lie in memory.
bool writeField(FILE* file, const void* field) {
    return fwrite(field, 4, 1, file) == 1;
}

} // namespace

bool writeHidetrackFile(const char* path, const HidetrackHeader& header,
                        const uint8_t* const* blocks) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr) {
        consolePrint("Could not create %s \n", path);
        return false;
    }
    bool ok = writeField(file, &header.objectCount) && writeField(file, &header.cameraCount) &&
              writeField(file, &header.timeStart) && writeField(file, &header.timeEnd) &&
              writeField(file, &header.sampleRate) && writeField(file, &header.frameCount) &&
              writeField(file, &header.rowBits);
    const int64_t blockBytes = hidetrackBlockBytes(header.cameraCount, header.frameCount);
    for (int32_t i = 0; ok && i < header.objectCount; ++i)
        ok = blockBytes == 0 || fwrite(blocks[i], size_t(blockBytes), 1, file) == 1;
    // A full disk often shows only when the buffered tail is flushed.
    ok = fclose(file) == 0 && ok;
    if (!ok) consolePrint("Could not write %s \n", path);
    return ok;
}
