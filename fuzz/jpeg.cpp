// libFuzzer target: the JPEG adapter on arbitrary bytes, through a stdio stream as the
// texture manager hands it over (the adapter closes it).
#include "image/image_loaders.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Large frames only make libjpeg fill big buffers from a damaged stream; the adapter's paths
// are all reachable on small ones. True when a start-of-frame marker announces more pixels.
bool announcesLargeFrame(const uint8_t* data, size_t size) {
    constexpr long kMaxFuzzPixels = 256 * 256;
    for (size_t i = 0; i + 9 <= size; ++i) {
        const uint8_t m = data[i + 1];
        const bool frame =
            data[i] == 0xFF && m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (!frame) continue;
        const long height = (data[i + 5] << 8) | data[i + 6];
        const long width = (data[i + 7] << 8) | data[i + 8];
        if (width * height > kMaxFuzzPixels) return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (announcesLargeFrame(data, size)) return 0;
    // fmemopen refuses an empty buffer; an empty file is still a case worth running.
    FILE* file =
        size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
    if (!file) return 0;
    int32_t width = 0, height = 0;
    std::free(loadJpeg(file, &width, &height));
    return 0;
}
