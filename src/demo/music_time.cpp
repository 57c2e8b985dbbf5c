// Music start, demo clock and cue position. The position is read through the 32-bit word the
// script's decoding was written for, so out-of-range values decode the same way everywhere.
#include "demo/music_time.h"

#include "diag/console.h"
#include "platform/clock.h"
#include "platform/music.h"

namespace {

struct MusicTime {
    uint64_t lockStepMicroseconds = 0;
    bool callerRenders = false;
    int loopFirst = -1;
    int loopLast = -1;
    bool loopJumped = false; // the heard position may lag behind the jump for a while
    int loopRepeats = 0;
    uint32_t startTick = 0;
    float clock = 0.0f;
    int32_t order = 0;
    int32_t row = 0;
    float cueTimers[kCueTimerCount];
    // Not started until the first frame says otherwise, even before loading begins.
    MusicTime() {
        for (float& timer : cueTimers)
            timer = kCueNotStarted;
    }
};

MusicTime t;

// The script's cue windows assume this layout; another layout plays, but cues go missing.
void checkMusicLayout(const char* name) {
    const int orders = musicOrderCount();
    if (orders < kDemoOrderCount)
        consolePrint("%s: %i orders, the demo expects %i \n", name, orders, kDemoOrderCount);
    const int checked = orders < kDemoOrderCount ? orders : kDemoOrderCount;
    for (int order = 0; order < checked; ++order) {
        const int rows = musicPatternRowsAt(order);
        if (rows != kDemoPatternRows) {
            consolePrint("%s: order %i has %i rows, the demo expects %i \n", name, order, rows,
                         kDemoPatternRows);
            break;
        }
    }
}

} // namespace

void useMusicLockStep(uint64_t stepMicroseconds) {
    t.lockStepMicroseconds = stepMicroseconds;
}

void useMusicLockStepRenderedByCaller() {
    t.callerRenders = true;
}

void resetCueTimers() {
    for (float& timer : t.cueTimers)
        timer = kCueNotStarted;
}

void beginDemoClock() {
    resetCueTimers();
    t.startTick = timeGetTime();
    t.clock = 0.0f;
}

bool startMusic(const char* name, int order, int row, bool checkLayout) {
    const MusicOutput wanted =
        t.lockStepMicroseconds > 0 || t.callerRenders ? MusicOutput::LockStep : MusicOutput::Device;
    openMusicOutput(wanted);
    // Opening the device is what init did; unpausing it (the old start) cannot fail. Without
    // a device the demo still runs, so this is said, not fatal.
    if (musicDeviceFailure() != MusicDeviceFailure::None) {
        consolePrint("BASS init failed.\n");
        consolePrint("No audio device (%s): the music runs silent \n", musicDeviceError());
    }
    if (!loadMusicFile(name)) {
        consolePrint("BASS music load failed.\n");
        return false;
    }
    if (checkLayout) checkMusicLayout(name);
    if (!playMusic(order, row)) {
        consolePrint("BASS play failed.\n");
        return false;
    }
    return true;
}

uint32_t packMusicPosition(bool valid, int32_t order, int32_t row) {
    if (!valid) return 0xFFFFFFFFu;
    return (uint32_t(row) << 16) | (uint32_t(order) & 0xFFFFu);
}

void decodeMusicPosition(uint32_t position, int32_t* order, int32_t* row) {
    *order = int32_t(position & 0xFFFFu);
    *row = int32_t(position) >> 16;
}

void setMusicLoop(int first, int last) {
    t.loopFirst = first;
    t.loopLast = last;
    t.loopJumped = false;
    t.loopRepeats = 0;
}

int musicLoopRepeats() {
    return t.loopRepeats;
}

namespace {

void readMusicPosition() {
    const MusicPosition heard = musicPosition();
    decodeMusicPosition(packMusicPosition(heard.valid, heard.order, heard.row), &t.order, &t.row);
}

// Back into the loop before any cue sees a position outside it.
void keepMusicInLoop() {
    if (t.loopFirst < 0) return;
    if (t.order >= t.loopFirst && t.order <= t.loopLast) {
        t.loopJumped = false;
        return;
    }
    if (!t.loopJumped) {
        if (t.order > t.loopLast) ++t.loopRepeats;
        jumpMusicToOrder(t.loopFirst);
        resetCueTimers();
        t.loopJumped = true;
        readMusicPosition();
        if (t.order >= t.loopFirst && t.order <= t.loopLast) return;
    }
    // The queue still plays what came before the jump: the cues see the loop's start until the
    // heard position arrives there, and the jump is not made again.
    t.order = t.loopFirst;
    t.row = 0;
}

} // namespace

void updateDemoClock() {
    t.clock = float(int32_t(timeGetTime() - t.startTick)) / 1000.0f;
    readMusicPosition();
    keepMusicInLoop();
    // The audio of the coming frame: the next read sees the music one step on.
    if (t.lockStepMicroseconds > 0 && !t.callerRenders) advanceMusic(t.lockStepMicroseconds);
}

void seekMusicForward() {
    jumpMusicToOrder(t.order + 1);
    resetCueTimers();
}

void seekMusicBack() {
    if (t.order < 2) return;
    jumpMusicToOrder(t.order - 1);
    resetCueTimers();
}

bool seekMusicTo(int order, int row) {
    // A jump keeps the output's sample count but only reaches row 0; a restart reaches any row
    // and counts the heard position from it, in every output.
    if (!playMusic(order, row)) return false;
    resetCueTimers();
    t.loopJumped = false;
    return true;
}

float demoClock() {
    return t.clock;
}

int32_t musicOrder() {
    return t.order;
}

int32_t musicRow() {
    return t.row;
}

int32_t cuePosition() {
    return t.order * 256 + t.row;
}

float* cueTimers() {
    return t.cueTimers;
}
