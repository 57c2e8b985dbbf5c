// A/V agreement and allocations of the music path. A real-time run on an SDL audio device
// (SDL's dummy driver unless SDL_AUDIODRIVER names another) plays a writer-made module at
// speed 7, tempo 145 for FRAMES frames at 60 Hz and reports, in milliseconds:
//   lookup: how far the heard frame estimate lies outside the row the picture is given
//           (rows from the lock-step timeline: 5320 frames each);
//   display: the same for the heard frame when the frame is shown, one frame period later.
// Then counts operator new calls per frame on the device, silent and lock-step outputs, and
// the render speed in lock-step.
#include "allocation_count.h"
#include "bench_timing.h"
#include "demo/music_time.h"
#include "platform/clock.h"
#include "platform/music.h"
#include "writers/module_writer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kRowFramesRendered = 5320.0; // 7 ticks of 760 frames at tempo 145
constexpr double kFrameMs = 1000.0 / 60.0;

// Milliseconds by which frame lies outside row index k's span of the timeline.
double outsideRowMs(uint64_t frame, int k) {
    const double start = k * kRowFramesRendered, end = start + kRowFramesRendered;
    const double f = double(frame);
    const double frames = f < start ? start - f : (f >= end ? f - end + 1 : 0.0);
    return frames * 1000.0 / kMusicSampleRate;
}

struct Stats {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    void print(const char* name) {
        std::sort(values.begin(), values.end());
        double sum = 0;
        for (double v : values)
            sum += v;
        std::printf("%-9s mean %.2f ms  median %.2f  p99 %.2f  max %.2f  (%zu frames)\n", name,
                    sum / double(values.size()), values[values.size() / 2],
                    values[values.size() * 99 / 100], values.back(), values.size());
    }
};

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(60, std::atoi(argv[1])) : 500;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const std::string path = "/tmp/quilm_bench_music_av.xm";
    if (!modulewriter::writeModuleFile(path, modulewriter::simpleModule(33, 7, 145))) return 1;

    // Real time on the device.
    if (openMusicOutput(MusicOutput::Device) != MusicOutput::Device) {
        std::printf("no audio device (%s); set SDL_AUDIODRIVER=dummy\n", musicDeviceError());
        return 1;
    }
    if (!loadMusicFile(path.c_str()) || !playMusic(0, 0)) return 1;
    std::printf("driver %s, device buffer %d frames, %d frames at 60 Hz\n",
                std::getenv("SDL_AUDIODRIVER"), kMusicDeviceBufferFrames, frames);
    Stats lookup, display;
    lookup.values.reserve(size_t(frames));
    display.values.reserve(size_t(frames));
    // Counted on every thread: the audio callback's allocations show here too.
    const long deviceBefore = bench::allocations.load();
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        const MusicHeard picture = musicHeard();
        const int k = picture.position.order * 64 + picture.position.row;
        if (i >= 10) lookup.add(outsideRowMs(picture.frame, k)); // past the device start-up
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
        if (i >= 10) display.add(outsideRowMs(musicHeard().frame, k));
    }
    std::printf("A/V, position the picture uses vs the position heard (one frame = %.1f ms):\n",
                kFrameMs);
    lookup.print("lookup");
    display.print("display");
    const long deviceTotal = bench::allocations.load() - deviceBefore;
    closeMusicOutput();

    // Allocations per frame through the demo layer in each output, and for one seek.
    useFixedStepClock(16667);
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    long perFrame[2] = {0, 0}, seek = 0;
    for (int mode = 0; mode < 2; ++mode) {
        useMusicLockStep(mode == 0 ? 0 : 16667);
        beginDemoClock();
        if (!startMusic(path.c_str(), 0, 0)) return 1;
        updateDemoClock(); // warm-up
        for (int i = 0; i < frames; ++i) {
            if (i == frames / 2) {
                const long before = bench::allocations.load();
                seekMusicForward();
                seek = bench::allocations.load() - before;
            }
            const long before = bench::allocations.load();
            updateDemoClock();
            advanceFixedStepClock();
            perFrame[mode] += bench::allocations.load() - before;
        }
        closeMusicOutput();
    }
    std::printf("allocations over %d frames: device %ld, silent %ld, lock-step %ld; "
                "one seek (libopenmpt) %ld\n",
                frames, deviceTotal, perFrame[0], perFrame[1], seek);

    // Render speed in lock-step: ten seconds of music.
    openMusicOutput(MusicOutput::LockStep);
    loadMusicFile(path.c_str());
    const double ms = bench::medianMs(5, [] {
        playMusic(0, 0);
        advanceMusic(10000000);
    });
    std::printf("render: 10 s of music in %.1f ms of processor time (%.0fx real time)\n", ms,
                10000.0 / ms);
    releaseMusic();
    closeMusicOutput();
    return 0;
}
