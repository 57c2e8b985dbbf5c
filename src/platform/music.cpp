// Music over libopenmpt and SDL audio. The renderer (the audio callback with a device, the
// main thread otherwise) is the only writer of the module's play state and of the mark ring;
// the main thread reads positions back from the ring, never from the module, while a device
// runs.
#include "platform/music.h"
#include "platform/paths.h"

#include "diag/console.h"
#include "platform/clock.h"

#include <SDL.h>
#include <libopenmpt/libopenmpt.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef __linux__
#include <dlfcn.h>
#endif

namespace {

constexpr uint64_t kMarkWriting = ~uint64_t(0);
constexpr int kScratchFrames = 4096;

// A mark: from frame on, the module stood at position (row << 16 | order).
struct Mark {
    std::atomic<uint64_t> sequence{kMarkWriting};
    std::atomic<uint64_t> frame{0};
    std::atomic<uint32_t> position{0};
};

// What the callback last did: frames rendered before its block, the block size and when.
struct CallbackStamp {
    std::atomic<uint32_t> sequence{0}; // odd while being written
    std::atomic<uint64_t> framesBefore{0};
    std::atomic<uint32_t> blockFrames{0};
    std::atomic<uint64_t> counter{0};
};

struct MusicState {
    MusicOutput output = MusicOutput::None;
    MusicDeviceFailure deviceFailure = MusicDeviceFailure::None;
    char deviceError[256] = {};
    bool audioStarted = false;
    SDL_AudioDeviceID device = 0;
    int estimatedQueueFrames = 0;
    std::atomic<int> queueOverride{-1};

    openmpt_module* module = nullptr;
    int orderCount = 0;
    int initialSpeed = 0;
    int initialTempo = 0;
    std::vector<uint16_t> patternRows; // per order, filled at load

    std::atomic<bool> playing{false};

    // Renderer side.
    uint64_t rendered = 0;
    uint32_t lastMarked = 0;
    Mark ring[kMusicMarkRingSize];
    std::atomic<uint64_t> markCount{0};
    CallbackStamp stamp;

    // Main-thread pacing without a device.
    uint32_t silentStartMs = 0;
    uint64_t lockStepMicroseconds = 0;
    uint64_t lastHeardFrame = 0; // the heard frame never steps back on callback jitter
    int16_t scratch[kScratchFrames * 2] = {};
};

MusicState g;

uint32_t packPosition(int32_t order, int32_t row) {
    return (uint32_t(row) << 16) | (uint32_t(order) & 0xFFFFu);
}

MusicPosition unpackPosition(uint32_t p) {
    MusicPosition position;
    position.order = int32_t(p & 0xFFFFu);
    position.row = int32_t(p >> 16);
    position.valid = true;
    return position;
}

void pushMark(uint64_t frame, uint32_t position) {
    const uint64_t n = g.markCount.load(std::memory_order_relaxed);
    Mark& mark = g.ring[n % kMusicMarkRingSize];
    mark.sequence.store(kMarkWriting, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    mark.frame.store(frame, std::memory_order_relaxed);
    mark.position.store(position, std::memory_order_relaxed);
    mark.sequence.store(n, std::memory_order_release);
    g.markCount.store(n + 1, std::memory_order_release);
    g.lastMarked = position;
}

void markCurrentPosition() {
    const uint32_t position = packPosition(openmpt_module_get_current_order(g.module),
                                           openmpt_module_get_current_row(g.module));
    if (position != g.lastMarked) pushMark(g.rendered, position);
}

// The newest mark at or before frame; the oldest still in the ring when frame is older.
bool findMark(uint64_t frame, uint32_t* position) {
    const uint64_t count = g.markCount.load(std::memory_order_acquire);
    bool found = false;
    for (uint64_t i = count; i > 0 && count - i < uint64_t(kMusicMarkRingSize); --i) {
        const Mark& mark = g.ring[(i - 1) % kMusicMarkRingSize];
        const uint64_t before = mark.sequence.load(std::memory_order_acquire);
        const uint64_t markFrame = mark.frame.load(std::memory_order_relaxed);
        const uint32_t markPosition = mark.position.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before != i - 1 || mark.sequence.load(std::memory_order_relaxed) != before) break;
        *position = markPosition;
        found = true;
        if (markFrame <= frame) break;
    }
    return found;
}

void applyJump(int32_t order) {
    openmpt_module_set_position_order_row(g.module, order, 0);
    // The library ignores an order past the end; the marks keep what is playing (or the end).
    if (openmpt_module_get_current_order(g.module) == order)
        pushMark(g.rendered, packPosition(order, 0));
}

void audioCallback(void*, Uint8* stream, int bytes) {
    const uint64_t counter = SDL_GetPerformanceCounter();
    const uint64_t before = g.rendered;
    const int frames = bytes / 4;
    renderMusic(reinterpret_cast<int16_t*>(stream), frames);
    const uint32_t s = g.stamp.sequence.load(std::memory_order_relaxed);
    g.stamp.sequence.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    g.stamp.framesBefore.store(before, std::memory_order_relaxed);
    g.stamp.blockFrames.store(uint32_t(frames), std::memory_order_relaxed);
    g.stamp.counter.store(counter, std::memory_order_relaxed);
    g.stamp.sequence.store(s + 2, std::memory_order_release);
}

bool readStamp(uint64_t* framesBefore, uint32_t* blockFrames, uint64_t* counter) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const uint32_t s = g.stamp.sequence.load(std::memory_order_acquire);
        *framesBefore = g.stamp.framesBefore.load(std::memory_order_relaxed);
        *blockFrames = g.stamp.blockFrames.load(std::memory_order_relaxed);
        *counter = g.stamp.counter.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((s & 1u) == 0 && g.stamp.sequence.load(std::memory_order_relaxed) == s) return s != 0;
    }
    return false; // the callback keeps writing: use the last frame's answer next time
}

void renderInto(uint64_t targetFrames) {
    while (g.rendered < targetFrames) {
        const uint64_t left = targetFrames - g.rendered;
        renderMusic(g.scratch, left < uint64_t(kScratchFrames) ? int(left) : kScratchFrames);
    }
}

void resetPlayState() {
    g.rendered = 0;
    g.markCount.store(0, std::memory_order_relaxed);
    g.lastMarked = 0;
    g.stamp.sequence.store(0, std::memory_order_relaxed);
    g.lockStepMicroseconds = 0;
    g.lastHeardFrame = 0;
    g.silentStartMs = timeGetTime();
}

#ifdef __linux__
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
#endif

// libasound reports a missing sound card in eight lines of its own on stderr before SDL gives
// up; our one line says the music runs silent. Looked up at run time so the program neither
// links libasound nor needs it; the handle stays open so the handler outlives SDL's own
// dlclose of the library.
void silenceAlsaErrors() {
#ifdef __linux__
    static bool done = false;
    if (done) return;
    done = true;
    void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(library, "snd_lib_error_set_handler")))
        set(ignoreAlsaError);
#endif
}

void reportLoadWarnings(openmpt_module* module, const char* name) {
    const char* warnings = openmpt_module_get_metadata(module, "warnings");
    reportMusicLoadWarnings(name, warnings);
    openmpt_free_string(warnings);
}

void lockDevice() {
    if (g.device) SDL_LockAudioDevice(g.device);
}
void unlockDevice() {
    if (g.device) SDL_UnlockAudioDevice(g.device);
}

} // namespace

MusicOutput openMusicOutput(MusicOutput wanted) {
    closeMusicOutput();
    g.deviceFailure = MusicDeviceFailure::None;
    g.deviceError[0] = 0;
    if (wanted != MusicOutput::Device) {
        g.output = wanted;
        g.estimatedQueueFrames = 0;
        return g.output;
    }
    silenceAlsaErrors();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::snprintf(g.deviceError, sizeof g.deviceError, "%s", SDL_GetError());
        g.deviceFailure = MusicDeviceFailure::AudioInit;
        g.output = MusicOutput::Silent;
        return g.output;
    }
    g.audioStarted = true;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = kMusicSampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kMusicDeviceBufferFrames;
    want.callback = audioCallback;
    SDL_AudioSpec have;
    SDL_zero(have);
    // No changes allowed: SDL converts, so the callback always sees 44100 Hz int16 stereo.
    g.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (g.device == 0) {
        std::snprintf(g.deviceError, sizeof g.deviceError, "%s", SDL_GetError());
        g.deviceFailure = MusicDeviceFailure::DeviceOpen;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        g.audioStarted = false;
        g.output = MusicOutput::Silent;
        return g.output;
    }
    // Drivers that take a block only when they play it queue nothing beyond it.
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool consumesAtCallback =
        driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "disk") == 0);
    g.estimatedQueueFrames = consumesAtCallback ? 0 : int(have.samples);
    g.output = MusicOutput::Device;
    SDL_PauseAudioDevice(g.device, 0); // silence until playMusic
    return g.output;
}

void closeMusicOutput() {
    g.playing.store(false, std::memory_order_release);
    if (g.device) SDL_CloseAudioDevice(g.device);
    g.device = 0;
    if (g.audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g.audioStarted = false;
    g.output = MusicOutput::None;
}

MusicOutput musicOutput() {
    return g.output;
}

MusicDeviceFailure musicDeviceFailure() {
    return g.deviceFailure;
}

const char* musicDeviceError() {
    return g.deviceError;
}

bool loadMusicFile(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        consolePrint("%s: cannot open (%s)\n", path, std::strerror(openErrorCode(path, errno)));
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    bool tooLarge = false;
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, f);
        if (got == 0) break;
        if (bytes.size() + got > kMusicFileMaxBytes) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(f) != 0;
    const int readError = errno;
    std::fclose(f);
    if (failed) {
        consolePrint("%s: cannot read (%s)\n", path, std::strerror(readError));
        return false;
    }
    if (tooLarge) {
        consolePrint("%s: larger than the %i MB allowed for music\n", path,
                     int(kMusicFileMaxBytes >> 20));
        return false;
    }
    return loadMusicMemory(bytes.data(), bytes.size(), path);
}

bool loadMusicMemory(const void* data, size_t size, const char* name) {
    if (size == 0) {
        consolePrint("%s: empty, not a module\n", name);
        return false;
    }
    if (size > kMusicFileMaxBytes) {
        consolePrint("%s: larger than the %i MB allowed for music\n", name,
                     int(kMusicFileMaxBytes >> 20));
        return false;
    }
    // Play once and then stay silent; the library's own log stays quiet. No dither: its noise
    // comes from a randomly seeded generator, and a capture must give the same bytes each run.
    const openmpt_module_initial_ctl ctls[] = {
        {"play.at_end", "stop"}, {"dither", "0"}, {nullptr, nullptr}};
    int error = 0;
    const char* message = nullptr;
    openmpt_module* module = openmpt_module_create_from_memory2(data, size, openmpt_log_func_silent,
                                                                nullptr, openmpt_error_func_store,
                                                                nullptr, &error, &message, ctls);
    if (!module) {
        consolePrint("%s: not a module libopenmpt can play (%s)\n", name,
                     message && *message ? message : "unknown format");
        openmpt_free_string(message);
        return false;
    }
    openmpt_free_string(message);
    openmpt_module_set_repeat_count(module, 0);
    reportLoadWarnings(module, name);

    const int orders = openmpt_module_get_num_orders(module);
    std::vector<uint16_t> rows(size_t(orders > 0 ? orders : 0));
    for (int i = 0; i < orders; ++i) {
        const int pattern = openmpt_module_get_order_pattern(module, i);
        const int n = openmpt_module_get_pattern_num_rows(module, pattern);
        rows[size_t(i)] = uint16_t(n > 0 && n <= 0xFFFF ? n : 0);
    }

    lockDevice();
    g.playing.store(false, std::memory_order_release);
    if (g.module) openmpt_module_destroy(g.module);
    g.module = module;
    g.orderCount = orders;
    g.patternRows.swap(rows);
    g.initialSpeed = openmpt_module_get_current_speed(module);
    g.initialTempo = openmpt_module_get_current_tempo(module);
    resetPlayState();
    unlockDevice();
    return true;
}

void releaseMusic() {
    lockDevice();
    g.playing.store(false, std::memory_order_release);
    if (g.module) openmpt_module_destroy(g.module);
    g.module = nullptr;
    g.orderCount = 0;
    g.patternRows.clear();
    g.initialSpeed = 0;
    g.initialTempo = 0;
    unlockDevice();
}

bool musicLoaded() {
    return g.module != nullptr;
}

int musicOrderCount() {
    return g.orderCount;
}

int musicPatternRowsAt(int order) {
    if (order < 0 || order >= int(g.patternRows.size())) return 0;
    return g.patternRows[size_t(order)];
}

int musicInitialSpeed() {
    return g.initialSpeed;
}

int musicInitialTempo() {
    return g.initialTempo;
}

bool playMusic(int order, int row) {
    if (!g.module || g.output == MusicOutput::None) return false;
    if (row < 0 || row >= musicPatternRowsAt(order)) return false;
    lockDevice();
    resetPlayState();
    openmpt_module_set_position_order_row(g.module, order, row);
    pushMark(0, packPosition(order, row));
    g.playing.store(true, std::memory_order_release);
    unlockDevice();
    return true;
}

MusicHeard musicHeard() {
    MusicHeard heard;
    if (!g.playing.load(std::memory_order_acquire)) return heard;
    const int override = g.queueOverride.load(std::memory_order_relaxed);
    const int64_t queue = override >= 0 ? override : g.estimatedQueueFrames;
    int64_t frame = 0;
    if (g.output == MusicOutput::Device) {
        uint64_t before = 0, counter = 0;
        uint32_t block = 0;
        if (readStamp(&before, &block, &counter)) {
            // At the callback the device still held `queue` frames ahead of its block; since
            // then it has played on at the sample rate, up to the end of that block.
            const uint64_t now = SDL_GetPerformanceCounter();
            const double seconds = double(now - counter) / double(SDL_GetPerformanceFrequency());
            int64_t played = int64_t(seconds * kMusicSampleRate);
            if (played > queue + int64_t(block)) played = queue + int64_t(block);
            frame = int64_t(before) - queue + played;
        }
        if (frame < int64_t(g.lastHeardFrame)) frame = int64_t(g.lastHeardFrame);
        g.lastHeardFrame = uint64_t(frame > 0 ? frame : 0);
    } else {
        frame = int64_t(g.rendered) - queue;
    }
    heard.frame = frame > 0 ? uint64_t(frame) : 0;
    uint32_t position = 0;
    if (findMark(heard.frame, &position)) heard.position = unpackPosition(position);
    return heard;
}

MusicPosition musicPosition() {
    pumpMusic();
    return musicHeard().position;
}

void jumpMusicToOrder(int order) {
    if (!g.module || !g.playing.load(std::memory_order_acquire)) return;
    // libopenmpt allocates when it seeks, so the jump is made here under the device lock (the
    // callback holds it for one block) rather than in the callback.
    lockDevice();
    applyJump(order);
    unlockDevice();
}

void pumpMusic() {
    if (g.output != MusicOutput::Silent || !g.playing.load(std::memory_order_relaxed)) return;
    const uint32_t elapsedMs = timeGetTime() - g.silentStartMs;
    renderInto(uint64_t(elapsedMs) * kMusicSampleRate / 1000u);
}

void advanceMusic(uint64_t microseconds) {
    if (g.output != MusicOutput::LockStep || !g.playing.load(std::memory_order_relaxed)) return;
    g.lockStepMicroseconds += microseconds;
    renderInto(g.lockStepMicroseconds * kMusicSampleRate / 1000000u);
}

int renderMusic(int16_t* out, int frames) {
    const bool playing = g.playing.load(std::memory_order_acquire) && g.module;
    int filled = 0;
    for (int done = 0; done < frames;) {
        const int n = frames - done < kMusicMarkBlockFrames ? frames - done : kMusicMarkBlockFrames;
        int16_t* block = out + 2 * done;
        int got = 0;
        if (playing) {
            got = int(openmpt_module_read_interleaved_stereo(g.module, kMusicSampleRate, size_t(n),
                                                             block));
        }
        if (got < n) std::memset(block + 2 * got, 0, size_t(n - got) * 4);
        if (playing && got < n) {
            // Ended: the library falls back to order 0, which would replay the first cues.
            // Past the last order matches nothing.
            const uint32_t end = packPosition(g.orderCount, 0);
            if (end != g.lastMarked) pushMark(g.rendered + uint64_t(got), end);
        }
        g.rendered += uint64_t(n);
        if (playing && got == n) markCurrentPosition();
        filled += got;
        done += n;
    }
    return filled;
}

uint64_t musicFramesRendered() {
    if (g.output != MusicOutput::Device) return g.rendered;
    uint64_t before = 0, counter = 0;
    uint32_t block = 0;
    return readStamp(&before, &block, &counter) ? before + block : 0;
}

void reportMusicLoadWarnings(const char* name, const char* warnings) {
    if (!warnings || !*warnings) return;
    char joined[768];
    size_t length = 0;
    for (const char* p = warnings; *p && length + 1 < sizeof joined; ++p) {
        if (*p == '\r') continue;
        if (*p != '\n') {
            joined[length++] = *p;
        } else if (p[1] && length + 3 < sizeof joined) {
            joined[length++] = ';';
            joined[length++] = ' ';
        }
    }
    joined[length] = 0;
    std::fprintf(stderr, "quilm: %s: libopenmpt warns: %s\n", name, joined);
    consolePrint("%s: libopenmpt warns: %s\n", name, joined);
}

void setMusicQueueDepth(int frames) {
    g.queueOverride.store(frames < 0 ? -1 : frames, std::memory_order_relaxed);
}
