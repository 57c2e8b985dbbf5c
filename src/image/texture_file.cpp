// The GL-free half of the texture manager: finding and decoding image files, and the
// box-filtered mipmap chain.
#include "image/texture.h"

#include "diag/console.h"
#include "image/image_loaders.h"
#include "wavelet/qw2.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// ext is three lower-case letters; compares the last three characters of path.
bool extensionIs(const char* path, size_t length, const char* ext) {
    for (int i = 0; i < 3; ++i)
        if (lowerAscii(path[length - 3 + i]) != ext[i]) return false;
    return true;
}

// Directory parts are ignored: images are always opened from the current directory.
const char* bareFileName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

// Why the last loadImageFile failed, and the side limit loadTexture sets for GL.
char lastFailure[kImageReasonBytes] = {};
int32_t sideLimit = 0;

// The one call into the QW2 decoder; its pixels are already red, green, blue, alpha. A
// picture past the side limit is refused from its header, before any decoding memory.
uint8_t* decodeQw2Pixels(const uint8_t* data, size_t size, int32_t* width, int32_t* height,
                         char* reason) {
    Qw2Header header;
    if (const char* refused = checkQw2File(data, size, header)) {
        std::snprintf(reason, kImageReasonBytes, "%s", refused);
        return nullptr;
    }
    if (sideLimit > 0 && (header.width > sideLimit || header.height > sideLimit)) {
        std::snprintf(reason, kImageReasonBytes,
                      "%ix%i pixels is larger than this OpenGL's largest texture (%i a side)",
                      int(header.width), int(header.height), int(sideLimit));
        return nullptr;
    }
    const char* refused = nullptr;
    uint8_t* pixels = decodeQw2(data, size, *width, *height, &refused);
    if (!pixels) std::snprintf(reason, kImageReasonBytes, "%s", refused ? refused : "refused");
    return pixels;
}

uint8_t* readQw2File(FILE* file, int32_t* width, int32_t* height, char* reason) {
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || size > kQw2MaxFileBytes || std::fseek(file, 0, SEEK_SET) != 0) {
        if (size > kQw2MaxFileBytes)
            std::snprintf(reason, kImageReasonBytes, "larger than the %ld MB a QW2 file may have",
                          kQw2MaxFileBytes >> 20);
        else
            std::snprintf(reason, kImageReasonBytes, "cannot find the file's size");
        std::fclose(file);
        return nullptr;
    }
    // size + 2 bytes, the last two zero: slack past the end of the data.
    uint8_t* data = static_cast<uint8_t*>(std::calloc(size_t(size) + 2, 1));
    const size_t got = data ? std::fread(data, 1, size_t(size), file) : 0;
    std::fclose(file);
    uint8_t* pixels = nullptr;
    if (data && got == size_t(size))
        pixels = decodeQw2Pixels(data, got, width, height, reason);
    else
        std::snprintf(reason, kImageReasonBytes, data ? "cannot read the file" : "out of memory");
    std::free(data);
    return pixels;
}

// The adapters deliver blue, green, red, fourth byte. The exchange works on whole pixels as
// 32-bit words, four at a time with SSE2 (a plain loop is not vectorised at -O2 and costs a
// quarter of a JPEG decode); the byte loop is the same rule for other byte orders.
uint32_t exchangeRedBlue(uint32_t v) {
    return ((v >> 16) & 0xffu) | (v & 0xff00ff00u) | ((v & 0xffu) << 16);
}

#ifdef __SSE2__
__m128i exchangeRedBlue(__m128i v) {
    const __m128i low = _mm_set1_epi32(0xff);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), low),
                                     _mm_and_si128(v, _mm_set1_epi32(int(0xff00ff00u)))),
                        _mm_slli_epi32(_mm_and_si128(v, low), 16));
}
#endif

// Red, green, blue and alpha 255.
void toRedGreenBlueOpaque(uint8_t* pixels, int64_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        int64_t i = 0;
#ifdef __SSE2__
        const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
        for (; i + 4 <= count; i += 4) {
            __m128i* at = reinterpret_cast<__m128i*>(pixels + 4 * i);
            _mm_storeu_si128(at, _mm_or_si128(exchangeRedBlue(_mm_loadu_si128(at)), opaque));
        }
#endif
        for (; i < count; ++i) {
            uint32_t v;
            std::memcpy(&v, pixels + 4 * i, 4);
            v = exchangeRedBlue(v) | 0xff000000u;
            std::memcpy(pixels + 4 * i, &v, 4);
        }
    } else {
        for (uint8_t* p = pixels; count > 0; --count, p += 4) {
            std::swap(p[0], p[2]);
            p[3] = 255;
        }
    }
}

// Red, green, blue, alpha kept; fully transparent pixels become black.
void toRedGreenBlueAlpha(uint8_t* pixels, int64_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        int64_t i = 0;
#ifdef __SSE2__
        const __m128i zero = _mm_setzero_si128();
        for (; i + 4 <= count; i += 4) {
            __m128i* at = reinterpret_cast<__m128i*>(pixels + 4 * i);
            const __m128i v = _mm_loadu_si128(at);
            const __m128i transparent = _mm_cmpeq_epi32(_mm_srli_epi32(v, 24), zero);
            _mm_storeu_si128(at, _mm_andnot_si128(transparent, exchangeRedBlue(v)));
        }
#endif
        for (; i < count; ++i) {
            uint32_t v;
            std::memcpy(&v, pixels + 4 * i, 4);
            v = (v >> 24) == 0 ? 0u : exchangeRedBlue(v);
            std::memcpy(pixels + 4 * i, &v, 4);
        }
    } else {
        for (uint8_t* p = pixels; count > 0; --count, p += 4) {
            std::swap(p[0], p[2]);
            if (p[3] == 0) p[0] = p[1] = p[2] = 0;
        }
    }
}

// The search folder and a path built from it share one limit with the scene path.
constexpr size_t kSearchPathBytes = 4096;
char imageSearchFolder[kSearchPathBytes] = {};

// Opens a bare file name from the current directory, else from the search folder; a file found
// there is logged like one in the current directory, with its folder.
FILE* openImageFile(const char* fileName) {
    FILE* file = std::fopen(fileName, "rb");
    if (file || imageSearchFolder[0] == 0) return file;
    char path[kSearchPathBytes];
    const int written = std::snprintf(path, sizeof path, "%s/%s", imageSearchFolder, fileName);
    if (written < 0 || size_t(written) >= sizeof path) return nullptr;
    file = std::fopen(path, "rb");
    if (file) consolePrint("(from local dir: %s)\n", path);
    return file;
}

} // namespace

bool setImageSearchFolder(const char* folder) {
    imageSearchFolder[0] = 0;
    if (folder == nullptr) return true;
    const size_t length = std::strlen(folder);
    // Room for "/" and a bare name behind it; a folder that leaves none is refused, not cut.
    if (length + 2 + 260 > sizeof imageSearchFolder) return false;
    std::memcpy(imageSearchFolder, folder, length + 1);
    return true;
}

bool findImageFile(const char* name, char* found, size_t foundBytes) {
    const int local = std::snprintf(found, foundBytes, "%s", name);
    if (local < 0 || size_t(local) >= foundBytes) return false;
    if (FILE* file = std::fopen(found, "rb")) {
        std::fclose(file);
        return true;
    }
    if (imageSearchFolder[0] == 0) return false;
    const int inFolder = std::snprintf(found, foundBytes, "%s/%s", imageSearchFolder, name);
    if (inFolder < 0 || size_t(inFolder) >= foundBytes) return false;
    if (FILE* file = std::fopen(found, "rb")) {
        std::fclose(file);
        return true;
    }
    return false;
}

const char* imageLoadFailure() {
    return lastFailure;
}

void setImageSideLimit(int32_t maxSide) {
    sideLimit = maxSide > 0 ? maxSide : 0;
}

bool loadImageFile(Texture* texture, char* path) {
    lastFailure[0] = 0;
    const size_t length = std::strlen(path);
    if (length < 4) {
        std::snprintf(lastFailure, sizeof lastFailure, "name too short");
        return false;
    }

    const char* fileName = bareFileName(path);
    consolePrint("(from local dir: %s)\n", fileName);
    FILE* file = openImageFile(fileName);
    if (!file && extensionIs(path, length, "png")) {
        consolePrint(" Trying JPG instead of PNG ...\n");
        std::memcpy(path + length - 4, ".JPG", 4);
        fileName = bareFileName(path);
        consolePrint("(from local dir: %s)\n", fileName);
        file = openImageFile(fileName);
    }
    if (!file) {
        std::snprintf(lastFailure, sizeof lastFailure, "%s", std::strerror(errno));
        consolePrint("failed: unable to open! \n");
        return false;
    }

    int32_t width = 0, height = 0;
    uint8_t* pixels = nullptr;
    if (extensionIs(path, length, "jpg")) {
        consolePrint("(JPEG)...");
        pixels = loadJpeg(file, &width, &height, lastFailure);
        if (pixels) toRedGreenBlueOpaque(pixels, int64_t(width) * height);
    } else if (extensionIs(path, length, "png")) {
        consolePrint("(PNG)...");
        pixels = loadPng(file, &width, &height, lastFailure);
        if (pixels) toRedGreenBlueAlpha(pixels, int64_t(width) * height);
    } else if (extensionIs(path, length, "qw2")) {
        consolePrint("(QW2)...");
        pixels = readQw2File(file, &width, &height, lastFailure); // final order already
    } else {
        std::snprintf(lastFailure, sizeof lastFailure, "unrecognized extension");
        consolePrint("... failed: unrecognized extension! \n");
        std::fclose(file);
        return false;
    }
    if (!pixels) {
        if (lastFailure[0] == 0) std::snprintf(lastFailure, sizeof lastFailure, "refused");
        consolePrint("failed: error decoding! \n");
        consolePrint("%s: %s \n", fileName, lastFailure);
        return false;
    }
    std::free(texture->pixels);
    texture->pixels = pixels;
    texture->width = width;
    texture->height = height;
    consolePrint("ok. \n");
    return true;
}

namespace {

// Halves one level with integer truncation, all four byte channels alike. A side of 1 pairs
// with itself, which gives the single-row and single-column rules; sizes are halved down
// (as OpenGL expects of a complete chain), so an odd side's last row or column does not
// reach the next level and no read leaves the source.
void halveLevel(const uint8_t* src, int32_t w, int32_t h, uint8_t* dst, int32_t nw, int32_t nh) {
    const size_t srcRow = size_t(w) * 4;
    if (w == 1) {
        for (int32_t k = 0; k < nh; ++k) {
            const uint8_t* a = src + srcRow * size_t(2 * k);
            for (int c = 0; c < 4; ++c)
                dst[k * 4 + c] = uint8_t((a[c] + a[srcRow + c]) / 2);
        }
    } else if (h == 1) {
        for (int32_t k = 0; k < nw; ++k) {
            const uint8_t* a = src + size_t(k) * 8;
            for (int c = 0; c < 4; ++c)
                dst[k * 4 + c] = uint8_t((a[c] + a[4 + c]) / 2);
        }
    } else {
        for (int32_t y = 0; y < nh; ++y) {
            const uint8_t* top = src + srcRow * size_t(2 * y);
            const uint8_t* bottom = top + srcRow;
            uint8_t* out = dst + size_t(nw) * 4 * size_t(y);
            int32_t x = 0;
#ifdef __SSE2__
            // Four new pixels from two 32-byte row pieces, summed in 16 bits: the same truncated
            // means; the byte loop below is not vectorised at -O2.
            const __m128i zero = _mm_setzero_si128();
            for (; x + 4 <= nw; x += 4, top += 32, bottom += 32, out += 16) {
                __m128i sums[2];
                for (int half = 0; half < 2; ++half) {
                    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top) + half);
                    const __m128i b =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom) + half);
                    // Pixels 0,1 and 2,3 of the piece in the low and high 8 bytes.
                    const __m128i low =
                        _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
                    const __m128i high =
                        _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
                    // Left plus right neighbour: 64-bit lanes hold the pixels of a pair.
                    const __m128i pairs =
                        _mm_add_epi16(_mm_unpacklo_epi64(low, high), _mm_unpackhi_epi64(low, high));
                    sums[half] = _mm_srli_epi16(pairs, 2);
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                 _mm_packus_epi16(sums[0], sums[1]));
            }
#endif
            for (; x < nw; ++x, top += 8, bottom += 8, out += 4)
                for (int c = 0; c < 4; ++c)
                    out[c] = uint8_t((top[c] + top[4 + c] + bottom[c] + bottom[4 + c]) / 4);
        }
    }
}

} // namespace

void buildMipmaps(Texture* texture) {
    if (!texture->pixels || texture->mipCount > 0) return;
    int32_t w = texture->width, h = texture->height;
    if (w <= 0 || h <= 0) return;
    const uint8_t* source = texture->pixels;
    int32_t count = 0;
    while ((w != 1 || h != 1) && count < kMaxMipLevels) {
        const int32_t nw = std::max(1, w / 2);
        const int32_t nh = std::max(1, h / 2);
        uint8_t* level = static_cast<uint8_t*>(std::malloc(size_t(nw) * size_t(nh) * 4));
        if (!level) break; // a shorter chain still draws
        halveLevel(source, w, h, level, nw, nh);
        texture->mipLevels[count++] = level;
        source = level;
        w = nw;
        h = nh;
    }
    texture->mipCount = count;
}
