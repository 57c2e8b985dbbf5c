// Fuzz target: our music adapter and the demo's position word. Most inputs are a script of
// operations on one module made here once (short rows, patterns of 1 to 16 rows, a pattern
// break and a position jump): play from any order and row, short renders, lock-step advances,
// jumps inside and past the module, queue depths, heard positions, and packing and decoding of
// arbitrary position words. One input in eight is instead loaded as module bytes (the load's
// checks and lines, the facts of every order, a short render), so the library's loader, fuzzed
// upstream, does not take the whole run: a load costs a hundred scripts under the sanitizers.
#include "demo/music_time.h"
#include "platform/music.h"
#include "writers/module_writer.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Each seek (play, jump) makes the library allocate a fresh play state: past a few per input
// they only cost time.
constexpr int kMaxScriptSteps = 32;
constexpr int kMaxScriptSeeks = 3;
constexpr int kMaxRenderFrames = 1024;
int16_t buffer[2 * kMaxRenderFrames];

// Speed 1 at tempo 255: a row is 432 frames, so a short render crosses rows, patterns and the
// end. Orders 0..6 play patterns 0, 1, 2, 1, 3, 4, 5; pattern 2 breaks to row 1 of the next
// order, pattern 4 jumps to order 6.
std::vector<uint8_t> scriptModule() {
    using namespace modulewriter;
    Module m;
    m.channels = 2;
    m.speed = 1;
    m.tempo = 255;
    m.instruments.push_back(toneInstrument(0, "sine"));
    const int rows[] = {1, 2, 4, 3, 5, 16};
    for (int p = 0; p < 6; ++p) {
        Pattern pattern = makePattern(rows[p], m.channels);
        for (int r = 0; r < rows[p]; ++r)
            pattern.at(r, 0) = {note(4, (p + r) % 12), 1, 0, 0, 0};
        m.patterns.push_back(pattern);
    }
    m.patterns[2].at(2, 1) = {0, 0, 0, 0xD, 0x01};
    m.patterns[4].at(1, 1) = {0, 0, 0, 0xB, 6};
    m.orders = {0, 1, 2, 1, 3, 4, 5};
    return writeModule(m);
}

// The heard position against what the module can report, and the word round trip.
void checkPosition() {
    const MusicHeard heard = musicHeard();
    if (heard.frame > musicFramesRendered()) std::abort();
    const MusicPosition p = musicPosition();
    if (p.valid && (p.order < 0 || p.order > musicOrderCount() || p.row < 0)) std::abort();
    int32_t order = 0, row = 0;
    decodeMusicPosition(packMusicPosition(p.valid, p.order, p.row), &order, &row);
    if (p.valid && (order != p.order || row != p.row)) std::abort();
}

void runBytes(const uint8_t* data, size_t size) {
    if (!loadMusicMemory(data, size, "fuzz")) return;
    const int orders = musicOrderCount();
    for (int order = -1; order <= orders && order < 4096; ++order)
        if (musicPatternRowsAt(order) < 0) std::abort();
    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    if (playMusic(orders > 0 ? pick % orders : 0, 0)) {
        for (int block = 0; block < 4; ++block) {
            if (renderMusic(buffer, 256) > 256) std::abort();
            if (block == 1) jumpMusicToOrder(pick % (orders + 2));
            checkPosition();
        }
    }
}

void runScript(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    const int orders = musicOrderCount();
    playMusic(next() % (orders + 2) - 1, next() % 20 - 1);
    int seeks = 0;
    for (int step = 0; step < kMaxScriptSteps && at < size; ++step) {
        const uint8_t op = next();
        const int value = next();
        const bool seek = (op % 7 == 2 || op % 7 == 4) && ++seeks <= kMaxScriptSeeks;
        switch (op % 7) {
        case 0:
            if (renderMusic(buffer, 1 + value * 4) > 1 + value * 4) std::abort();
            break;
        case 1:
            advanceMusic(uint64_t(value) * 997);
            break;
        case 2:
            if (seek) jumpMusicToOrder(value % (orders + 3) - 1);
            break;
        case 3:
            setMusicQueueDepth(value * 40 - 1);
            break;
        case 4:
            if (seek) playMusic(value % (orders + 2) - 1, next() % 20 - 1);
            break;
        case 5: {
            // Any word: decoding never fails, and a packed position decodes to itself.
            const uint32_t word =
                uint32_t(value) << 24 | uint32_t(next()) << 16 | uint32_t(next()) << 8 | next();
            int32_t order = 0, row = 0;
            decodeMusicPosition(word, &order, &row);
            int32_t again = 0, againRow = 0;
            decodeMusicPosition(packMusicPosition(true, order, row), &again, &againRow);
            if (again != order || againRow != row) std::abort();
            break;
        }
        default:
            renderMusic(buffer, kMaxRenderFrames);
            break;
        }
        checkPosition();
    }
    setMusicQueueDepth(-1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> script = scriptModule();
    static bool scriptLoaded = false;
    static bool opened = false;
    if (!opened) {
        openMusicOutput(MusicOutput::LockStep);
        opened = true;
    }
    if (size == 0) return 0;
    if (data[0] % 8 == 0) {
        scriptLoaded = false;
        runBytes(data + 1, size - 1);
        return 0;
    }
    if (!scriptLoaded && !loadMusicMemory(script.data(), script.size(), "script")) std::abort();
    scriptLoaded = true;
    runScript(data + 1, size - 1);
    return 0;
}
