// libFuzzer target: the JPEG adapter on arbitrary bytes, through a stdio stream as the
// texture manager hands it over (the adapter closes it).
#include "image/image_loaders.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // fmemopen refuses an empty buffer; an empty file is still a case worth running.
    FILE* file =
        size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
    if (!file) return 0;
    int32_t width = 0, height = 0;
    std::free(loadJpeg(file, &width, &height));
    return 0;
}
