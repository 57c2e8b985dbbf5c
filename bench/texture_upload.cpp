// Texture loading on the GL driver with DXT5 on and off: the whole loadTexture (decode,
// mipmaps, upload) of a 1024 x 1024 PNG and the upload alone (DXT5 blocks made on the CPU),
// and beside it the same levels handed to the driver to compress. Needs a GL
// context: runs on SDL's offscreen driver when there is no display.
//   bench_texture_upload [repetitions]
#include "bench_timing.h"
#include "image/png_writer.h"
#include "image/texture.h"
#include "platform/options.h"
#include "support/qw2_picture.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include "platform/video.h"
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The other way: every level handed over as RGBA for the driver to compress.
void uploadForDriverToCompress(const Texture& texture) {
    int32_t w = texture.width, h = texture.height;
    for (int32_t i = 0; i <= texture.mipCount; ++i) {
        if (i > 0) {
            w = std::max(1, w / 2);
            h = std::max(1, h / 2);
        }
        glTexImage2D(GL_TEXTURE_2D, i, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, w, h, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, i == 0 ? texture.pixels : texture.mipLevels[i - 1]);
    }
}

bool makeContext() {
    if (!startVideo(true)) return false;
    static PlatformWindow window;
    PlatformWindowRequest request;
    request.title = "bench";
    request.width = 64;
    request.height = 64;
    request.hidden = true;
    return createPlatformWindow(window, request);
}

// Loads name fresh (not from the cache) and gives it back.
void loadOnce(const char* name, bool upload = true) {
    textureCacheCount = 0;
    Texture* texture = loadTexture(name, true, upload);
    if (!texture) std::fprintf(stderr, "load failed: %s\n", name);
    releaseTexture(texture);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    if (!makeContext()) {
        std::fprintf(stderr, "no GL context: %s\n", platformError());
        return 1;
    }
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    char scratch[] = "/tmp/quilm-bench-XXXXXX";
    if (!mkdtemp(scratch) || chdir(scratch) != 0) return 1;
    const int side = 1024;
    const std::vector<uint8_t> picture = makeQw2TestPicture(side, side);
    if (!writePngRgba("pic.png", side, side, picture.data())) return 1;

    // The upload alone: one texture with its 10 reduced levels, from kept pixels.
    Texture kept;
    kept.width = kept.height = side;
    kept.pixels = static_cast<uint8_t*>(std::malloc(picture.size()));
    std::memcpy(kept.pixels, picture.data(), picture.size());
    buildMipmaps(&kept);
    GLuint object = 0;
    glGenTextures(1, &object);
    glBindTexture(GL_TEXTURE_2D, object);

    std::printf("%-34s %10s %10s %8s\n", "1024x1024 with mipmaps", "RGBA ms", "DXT5 ms", "ratio");
    double ms[3][2];
    for (int dxt = 0; dxt < 2; ++dxt) {
        setupOptions.useDxt = dxt == 1;
        ms[0][dxt] = bench::medianMs(repetitions, [&] {
            uploadTexture(&kept);
            glFinish();
        });
        ms[1][dxt] = bench::medianMs(repetitions, [&] {
            loadOnce("pic.png");
            glFinish();
        });
        ms[2][dxt] = bench::medianMs(repetitions, [&] {
            loadOnce("pic.png", false);
            glFinish();
        });
    }
    const double driverMs = bench::medianMs(repetitions, [&] {
        uploadForDriverToCompress(kept);
        glFinish();
    });
    const char* rows[3] = {"uploadTexture (same object)", "loadTexture (PNG, mips, upload)",
                           "loadTexture without upload"};
    for (int r = 0; r < 3; ++r)
        std::printf("%-34s %10.2f %10.2f %7.2fx\n", rows[r], ms[r][0], ms[r][1],
                    ms[r][1] / ms[r][0]);

    std::printf("DXT5 upload with the driver compressing instead: %.2f ms\n", driverMs);
    glDeleteTextures(1, &object);
    std::remove("pic.png");
    if (chdir("/") == 0) rmdir(scratch);
    return 0;
}
