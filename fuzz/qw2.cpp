// libFuzzer target: the QW2 decoder on arbitrary bytes (headers, channel fields, streams).
#include "wavelet/qw2.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Large squares only cost memory and time per run; the coder's paths are all reachable on
    // small ones, so keep the fuzzer on those.
    Qw2Header header;
    if (!checkQw2File(data, size, header) && qw2SquareSide(header.width, header.height) > 64)
        return 0;
    int32_t width = 0, height = 0;
    uint8_t* pixels = decodeQw2(data, size, width, height);
    std::free(pixels);
    return 0;
}
