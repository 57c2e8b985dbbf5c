// The one music module of the program and its output: libopenmpt renders it at 44100 Hz
// stereo into an SDL audio device, silently paced by the clock when no device opens, or in
// lock-step with the caller in deterministic runs. It reports the position being heard and
// jumps to the start of an order. It does not loop, mix or own any sound but the module; all
// memory is its own (the file bytes and module live until releaseMusic).
//
// Threads: everything here is called from the main thread. With a device, the audio callback
// renders; per frame it shares only a ring of position marks with the main thread (atomics),
// never allocates or blocks, and the main thread never waits for it. Load, play and jump take
// the device lock for a moment (the library allocates when it seeks).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMusicSampleRate = 44100;
constexpr size_t kMusicFileMaxBytes = size_t(64) << 20;
// The callback renders in blocks of this many frames and marks the position after each, so a
// heard position is at most this late (1.5 ms).
constexpr int kMusicMarkBlockFrames = 64;
constexpr int kMusicMarkRingSize = 1024; // marks are written on position changes only
// Device buffer: small enough that one buffer of uncertainty stays under a 60 Hz frame.
constexpr int kMusicDeviceBufferFrames = 512;

enum class MusicOutput { None, Device, Silent, LockStep };

// Opens the output. Device: SDL audio; when that fails the output is Silent (paced by
// timeGetTime) and musicDeviceFailure says why; nothing is logged, the caller words it.
// LockStep never touches SDL: the music moves only by advanceMusic. Returns the output in
// use. Closing releases the device and SDL's audio part.
MusicOutput openMusicOutput(MusicOutput wanted);
void closeMusicOutput();
MusicOutput musicOutput();
enum class MusicDeviceFailure { None, AudioInit, DeviceOpen };
MusicDeviceFailure musicDeviceFailure();
const char* musicDeviceError(); // SDL's reason, "" when none

// Loads the module from a file, read by content (any format libopenmpt plays), at most
// kMusicFileMaxBytes. Replaces a loaded module. False plus one line naming the file and the
// reason when the file is unreadable, empty, too large or not a module. A module the library
// loads with warnings (damaged, partly understood) loads; one line on stderr and the console
// names the file and gives the warnings. Rendering has no dither: the same module and span
// give the same samples on every run.
bool loadMusicFile(const char* path);
bool loadMusicMemory(const void* data, size_t size, const char* name);
void releaseMusic();
bool musicLoaded();
// The line for a module loaded with warnings (the library's text, one warning a line): the
// warnings joined into one line after the name, on stderr and the console; nothing for none.
void reportMusicLoadWarnings(const char* name, const char* warnings);

// Facts of the loaded module (0 when none): orders, rows of the pattern an order plays (0 for
// an order outside the list or a separator), initial speed (ticks per row) and tempo (BPM).
int musicOrderCount();
int musicPatternRowsAt(int order);
int musicInitialSpeed();
int musicInitialTempo();

// Plays the module once from order/row. False (and nothing changes) when nothing is loaded,
// no output is open or the order/row is outside the module.
bool playMusic(int order, int row);

struct MusicPosition {
    int32_t order = 0;
    int32_t row = 0;
    bool valid = false; // false: nothing playing
};
// The position of the sample now at the output: rendered position minus what is still queued
// in the device. Silent output first renders up to the clock.
MusicPosition musicPosition();
// Jumps to row 0 of the order at once, unchecked (libopenmpt ignores an order past the end).
// With a device the audio already queued still plays: the heard position follows it.
void jumpMusicToOrder(int order);

// Silent output: renders up to the clock (discarding the sound). Otherwise nothing.
void pumpMusic();
// Lock-step output: moves the music on by the given time, exactly 44100 frames per second
// with the fraction carried from call to call. Otherwise nothing.
void advanceMusic(uint64_t microseconds);
// Renders the next frames into interleaved int16 stereo (2 * frames values) and writes the
// position marks; silence once the module has ended or when nothing plays. Without a device
// only (the callback uses it with one). Returns the frames the module filled.
int renderMusic(int16_t* interleavedStereo, int frames);
// Frames delivered to the output since playMusic, silence after the end included.
uint64_t musicFramesRendered();

// The audio still queued after the callback's block, in frames: -1 uses the estimate for the
// device in use (one device buffer; none for SDL's dummy and disk drivers, which take a block
// when they play it). Tests fake a depth with it; in lock-step it shifts the heard position
// back from the rendered one.
void setMusicQueueDepth(int frames);

// The rendered frame the heard position stands for, and its (order, row): for the A/V check.
struct MusicHeard {
    uint64_t frame = 0;
    MusicPosition position;
};
MusicHeard musicHeard();
