// quilm-tool qw2: decode a QW2 file to PNG exactly as the player sees it, or encode a PNG or
// JPEG picture (read through the engine's adapters) to QW2.
#include "quilm_tool/commands.h"
#include "platform/paths.h"

#include "image/image_loaders.h"
#include "image/png_writer.h"
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// Reads at most kQw2MaxFileBytes, as the player does: a longer file (or an endless one, such
// as /dev/zero) is refused once it passes the cap. On failure, reason says why.
bool readWholeFile(const char* path, std::vector<uint8_t>& bytes, const char*& reason) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        reason = std::strerror(openErrorCode(path, errno));
        return false;
    }
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    // A regular file says its size: one that is too large is not read at all.
    struct stat info {};
    bool tooLarge =
        fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > kQw2MaxFileBytes;
    while (!tooLarge && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        tooLarge = bytes.size() + got > size_t(kQw2MaxFileBytes);
        if (!tooLarge) bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    if (failed) reason = std::strerror(errno);
    std::fclose(file);
    static char tooLargeText[64];
    std::snprintf(tooLargeText, sizeof tooLargeText, "larger than the %ld MB a QW2 file may have",
                  kQw2MaxFileBytes >> 20);
    if (tooLarge) reason = tooLargeText;
    return !failed && !tooLarge;
}

// Reads a PNG or JPEG (told apart by their first bytes) through the engine's own adapters and
// turns their blue-green-red order into red, green, blue, alpha (JPEG pictures are opaque).
bool readPicture(const char* path, std::vector<uint8_t>& rgba, int& width, int& height) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t magic[4] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file);
    const bool png =
        got >= 4 && magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G';
    const bool jpeg = got >= 2 && magic[0] == 0xFF && magic[1] == 0xD8;
    if ((!png && !jpeg) || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return false;
    }
    int32_t w = 0, h = 0;
    uint8_t* pixels = png ? loadPng(file, &w, &h) : loadJpeg(file, &w, &h); // closes the file
    if (!pixels) return false;
    width = w;
    height = h;
    rgba.assign(pixels, pixels + size_t(w) * size_t(h) * 4);
    std::free(pixels);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        std::swap(rgba[i], rgba[i + 2]);
        if (jpeg) rgba[i + 3] = 255;
    }
    return true;
}

// Pictures larger than this are refused from their header before decoding: a few bytes of
// header may declare 8192 x 8192 (256 MB of output, more while decoding). --max-pixels N
// raises it for a picture that is meant to be that large.
constexpr int64_t kQw2DecodeBudgetPixels = int64_t(4096) * 4096;

int usage() {
    std::fprintf(stderr, "usage: quilm-tool qw2 decode IN.qw2 OUT.png [--max-pixels N]\n"
                         "       quilm-tool qw2 encode IN OUT.qw2 [--filter 0-3] [--bpp B] "
                         "[--alpha]\n");
    return 2;
}

int runDecode(int argc, char** argv) {
    if (argc != 3 && argc != 5) return usage();
    const char* in = argv[1];
    const char* out = argv[2];
    int64_t budget = kQw2DecodeBudgetPixels;
    if (argc == 5) {
        if (std::strcmp(argv[3], "--max-pixels") != 0) {
            std::fprintf(stderr, "quilm-tool qw2: unknown option '%s'\n", argv[3]);
            return usage();
        }
        char* end = nullptr;
        const long long value = std::strtoll(argv[4], &end, 10);
        if (*end || end == argv[4] || value <= 0) {
            std::fprintf(stderr, "quilm-tool qw2: --max-pixels takes a positive pixel count\n");
            return usage();
        }
        budget = value;
    }
    std::vector<uint8_t> bytes;
    const char* readFailure = nullptr;
    if (!readWholeFile(in, bytes, readFailure)) {
        std::fprintf(stderr, "quilm-tool qw2: %s: cannot read the file: %s\n", in, readFailure);
        return 1;
    }
    Qw2Header header;
    if (!checkQw2File(bytes.data(), bytes.size(), header) &&
        int64_t(header.width) * header.height > budget) {
        std::fprintf(stderr,
                     "quilm-tool qw2: %s: %dx%d pixels is more than the decode budget of %lld "
                     "pixels (--max-pixels N raises it)\n",
                     in, int(header.width), int(header.height), static_cast<long long>(budget));
        return 1;
    }
    int32_t width = 0, height = 0;
    const char* reason = nullptr;
    uint8_t* pixels = decodeQw2(bytes.data(), bytes.size(), width, height, &reason);
    if (!pixels) {
        std::fprintf(stderr, "quilm-tool qw2: %s: %s\n", in, reason ? reason : "refused");
        return 1;
    }
    const bool written = writePngRgba(out, width, height, pixels);
    std::free(pixels);
    if (!written) {
        std::remove(out);
        std::fprintf(stderr, "quilm-tool qw2: %s: cannot write the file\n", out);
        return 1;
    }
    return 0;
}

int runEncode(int argc, char** argv) {
    if (argc < 3) return usage();
    const char* in = argv[1];
    const char* out = argv[2];
    Qw2EncodeOptions options;
    for (int i = 3; i < argc; ++i) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--alpha") == 0) {
            options.alpha = true;
        } else if (std::strcmp(argv[i], "--filter") == 0 && i + 1 < argc) {
            options.filterKind = int(std::strtol(argv[++i], &end, 10));
            if (*end || end == argv[i] || options.filterKind < 0 || options.filterKind > 3) {
                std::fprintf(stderr, "quilm-tool qw2: --filter takes 0, 1, 2 or 3\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--bpp") == 0 && i + 1 < argc) {
            options.bitsPerPixel = std::strtod(argv[++i], &end);
            if (*end || end == argv[i] || !(options.bitsPerPixel > 0.0)) {
                std::fprintf(stderr, "quilm-tool qw2: --bpp takes a positive number\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "quilm-tool qw2: unknown option '%s'\n", argv[i]);
            return usage();
        }
    }
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    if (!readPicture(in, rgba, width, height)) {
        std::fprintf(stderr, "quilm-tool qw2: %s: not a readable PNG or JPEG picture\n", in);
        return 1;
    }
    std::vector<uint8_t> file;
    const char* reason = nullptr;
    if (!encodeQW2(rgba.data(), width, height, options, file, &reason)) {
        std::fprintf(stderr, "quilm-tool qw2: %s: %s\n", in, reason);
        return 1;
    }
    FILE* output = std::fopen(out, "wb");
    bool written = output && std::fwrite(file.data(), 1, file.size(), output) == file.size();
    if (output && std::fclose(output) != 0) written = false;
    if (!written) {
        if (output) std::remove(out);
        std::fprintf(stderr, "quilm-tool qw2: %s: cannot write the file\n", out);
        return 1;
    }
    std::printf("%s: %dx%d, %zu bytes, %.3f bits per pixel\n", out, width, height, file.size(),
                8.0 * double(file.size()) / (double(width) * double(height)));
    return 0;
}

} // namespace

int runQw2Command(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "decode") == 0) return runDecode(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "encode") == 0) return runEncode(argc - 1, argv + 1);
    return usage();
}
