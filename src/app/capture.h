// Deterministic capture: every frame and the audio it covers go to a folder (numbered PNG
// frames and "audio.wav") or, for a path whose extension names a container ffmpeg writes
// (.mp4, .mkv, .mov, .webm, .avi), through an ffmpeg child into one file. Frame k covers the audio
// samples from sampleAt(k) to sampleAt(k + 1), so sound and picture are the same length to the
// sample. It neither draws nor renders sound: the caller hands in each frame's pixels and samples.
// The record is the caller's and holds the one audio block; nothing is allocated per frame.
#pragma once

#include "platform/child_process.h"

#include <cstdint>
#include <cstdio>

constexpr int kCaptureSampleRate = 44100;
constexpr int kCaptureMaxFps = 1000;
// The most samples one frame can cover (at 1 frame per second), plus the rounding.
constexpr int kCaptureMaxFrameSamples = kCaptureSampleRate + 1;
constexpr int kCapturePathBytes = 1200;

enum class CaptureKind { folder, video };

struct CaptureSink {
    CaptureKind kind = CaptureKind::folder;
    char path[kCapturePathBytes] = {};
    int width = 0;
    int height = 0;
    int fps = 60;
    int64_t frames = 0;       // written so far
    uint64_t audioFrames = 0; // stereo sample frames written so far
    bool open = false;
    bool failed = false;
    FILE* wav = nullptr;
    ChildProcess encoder;
    int16_t audio[2 * kCaptureMaxFrameSamples] = {}; // the caller fills it for each frame
    char framePath[kCapturePathBytes + 32] = {};
};

// True for a path that names a video file (a container extension above, any case).
bool captureIsVideoPath(const char* path);
// What a --capture path asks for, judged before anything runs: a container's extension is a
// video, an existing folder or a name without extension a folder of frames; any other
// extension is refused (it would be a typo or a container we cannot write).
enum class CaptureTarget { folder, video, refused };
CaptureTarget captureTargetOf(const char* path, bool existingFolder);
// The extensions captureIsVideoPath takes, for messages: ".mp4, .mkv, .mov, .webm, .avi".
extern const char* const kCaptureVideoExtensions;
// round(k * 44100 / fps), exactly, in whole numbers.
uint64_t captureSampleAt(int64_t frame, int fps);
int captureFrameSamples(int64_t frame, int fps);

// Prepares the folder (made when missing) or starts ffmpeg. A folder that already holds
// anything is refused, unless overwrite is set: then the frames and sound file an earlier
// capture wrote there are removed, and nothing else. False with one line on standard error
// naming the path and the reason (ffmpeg missing, path not writable, folder not empty); then
// nothing was left behind.
bool openCapture(CaptureSink& sink, const char* path, int width, int height, int fps,
                 bool overwrite = false);
// Writes the next frame (RGBA rows top-down, width x height) and its samples, which the caller
// put into sink.audio (captureFrameSamples(sink.frames, fps) stereo frames). False with one
// line on standard error when writing failed; the sink is failed then.
bool writeCaptureFrame(CaptureSink& sink, const uint8_t* rgba);
// Completes the files. With ok false, or when anything failed, removes the video or
// "audio.wav" so that no partial result looks complete; returns whether the capture is
// complete and sound.
bool finishCapture(CaptureSink& sink, bool ok);
