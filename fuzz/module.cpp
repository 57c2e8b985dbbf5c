// Fuzz target: any bytes as a music module in lock-step output; when they load, the facts of
// every order, play from a start chosen by the input, a capped render, jumps and heard
// positions with queue depths, and the demo's decoding of the position word.
#include "demo/music_time.h"
#include "platform/music.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool opened = false;
    if (!opened) {
        openMusicOutput(MusicOutput::LockStep);
        opened = true;
    }
    if (!loadMusicMemory(data, size, "fuzz")) return 0;
    const int orders = musicOrderCount();
    for (int order = -1; order <= orders && order < 4096; ++order)
        if (musicPatternRowsAt(order) < 0) std::abort();
    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    const int startOrder = orders > 0 ? pick % orders : 0;
    if (playMusic(startOrder, 0)) {
        static int16_t buffer[2 * 2048];
        for (int block = 0; block < 8; ++block) { // 0.37 s of audio at most
            if (renderMusic(buffer, 2048) > 2048) std::abort();
            if (block == 3) jumpMusicToOrder(pick % (orders + 2));
            setMusicQueueDepth(block * 1000);
            const MusicPosition p = musicPosition();
            int32_t order = 0, row = 0;
            decodeMusicPosition(packMusicPosition(p.valid, p.order, p.row), &order, &row);
            if (p.valid && (order != (p.order & 0xFFFF) || order < 0)) std::abort();
        }
        setMusicQueueDepth(-1);
    }
    releaseMusic();
    return 0;
}
