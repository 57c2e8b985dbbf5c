#include "app/capture.h"

#include "image/png_writer.h"

#include <cerrno>
#include <iterator>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kAudioName = "audio.wav";

bool endsWith(const char* text, const char* suffix) {
    const size_t n = std::strlen(text);
    const size_t m = std::strlen(suffix);
    return n >= m && strcasecmp(text + n - m, suffix) == 0;
}

// Each container with codecs it holds well: H.264 and AAC where players expect them, VP9 and
// Opus for WebM, MPEG-4 part 2 and MP3 for AVI. Bit-exact output keeps captures identical
// from run to run (no encoder version or time in the file).
constexpr size_t kCodecArguments = 16;
struct VideoContainer {
    const char* extension;
    const char* codecs[kCodecArguments];
};
const VideoContainer kContainers[] = {
    {".mp4",
     {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-c:a", "aac", "-b:a", "192k"}},
    {".mkv",
     {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-c:a", "aac", "-b:a", "192k"}},
    {".mov",
     {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-c:a", "aac", "-b:a", "192k"}},
    {".webm",
     {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-crf", "24", "-b:v", "0",
      "-c:a", "libopus", "-b:a", "160k"}},
    {".avi", {"-c:v", "mpeg4", "-q:v", "2", "-c:a", "libmp3lame", "-b:a", "192k"}},
};

const VideoContainer* containerOf(const char* path) {
    for (const VideoContainer& container : kContainers)
        if (endsWith(path, container.extension)) return &container;
    return nullptr;
}

void putLe(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

// The canonical 44-byte header of 16-bit stereo PCM at 44100 Hz.
void wavHeader(uint8_t header[44], uint64_t frames) {
    const uint32_t dataBytes = uint32_t(frames * 4);
    std::memcpy(header, "RIFF", 4);
    putLe(header + 4, 36 + dataBytes, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLe(header + 16, 16, 4);
    putLe(header + 20, 1, 2); // PCM
    putLe(header + 22, 2, 2);
    putLe(header + 24, kCaptureSampleRate, 4);
    putLe(header + 28, kCaptureSampleRate * 4, 4);
    putLe(header + 32, 4, 2);
    putLe(header + 34, 16, 2);
    std::memcpy(header + 36, "data", 4);
    putLe(header + 40, dataBytes, 4);
}

void audioPath(const CaptureSink& sink, char* out, size_t bytes) {
    std::snprintf(out, bytes, "%s/%s", sink.path, kAudioName);
}

bool fail(CaptureSink& sink, const char* what, const char* reason) {
    std::fprintf(stderr, "quilm: capture %s: %s\n", what, reason);
    sink.failed = true;
    return false;
}

// The names a folder capture writes: "frame_" digits ".png", and the sound file.
bool isCaptureOutput(const char* name) {
    if (std::strcmp(name, kAudioName) == 0) return true;
    if (std::strncmp(name, "frame_", 6) != 0 || !endsWith(name, ".png")) return false;
    const size_t digits = std::strlen(name) - 6 - 4;
    if (digits == 0) return false;
    for (size_t i = 0; i < digits; ++i)
        if (name[6 + i] < '0' || name[6 + i] > '9') return false;
    return true;
}

// An existing folder must be empty, so old frames never mix with new ones; with overwrite
// only an earlier capture's own files go, whatever else the folder holds stays.
bool clearFolder(CaptureSink& sink, bool overwrite) {
    DIR* folder = opendir(sink.path);
    if (!folder) return fail(sink, sink.path, std::strerror(errno));
    int entries = 0;
    bool removed = true;
    char entryPath[kCapturePathBytes + 260];
    while (const dirent* entry = readdir(folder)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        ++entries;
        if (!overwrite || !isCaptureOutput(name)) continue;
        std::snprintf(entryPath, sizeof entryPath, "%s/%s", sink.path, name);
        if (std::remove(entryPath) != 0) removed = false;
    }
    closedir(folder);
    if (!removed) return fail(sink, sink.path, "an earlier capture's files could not be removed");
    if (!overwrite && entries > 0) {
        char reason[200];
        std::snprintf(reason, sizeof reason,
                      "the folder is not empty (%d entries); capture into a new or empty folder, "
                      "or give --overwrite to replace an earlier capture's frames",
                      entries);
        return fail(sink, sink.path, reason);
    }
    return true;
}

bool openFolder(CaptureSink& sink, bool overwrite) {
    struct stat info;
    if (stat(sink.path, &info) != 0) {
#ifdef _WIN32
        const int made = mkdir(sink.path);
#else
        const int made = mkdir(sink.path, 0777);
#endif
        if (made != 0) return fail(sink, sink.path, std::strerror(errno));
    } else if (!S_ISDIR(info.st_mode)) {
        return fail(sink, sink.path,
                    "exists and is not a folder (a video path ends in .mp4, .mkv, .mov, .webm "
                    "or .avi)");
    } else if (!clearFolder(sink, overwrite)) {
        return false;
    }
    char wavPath[kCapturePathBytes + 16];
    audioPath(sink, wavPath, sizeof wavPath);
    sink.wav = std::fopen(wavPath, "wb");
    if (!sink.wav) return fail(sink, wavPath, std::strerror(errno));
    uint8_t header[44];
    wavHeader(header, 0);
    if (std::fwrite(header, 1, sizeof header, sink.wav) != sizeof header) {
        std::fclose(sink.wav);
        sink.wav = nullptr;
        std::remove(wavPath);
        return fail(sink, wavPath, std::strerror(errno));
    }
    return true;
}

bool openVideo(CaptureSink& sink) {
    if (!findProgram("ffmpeg"))
        return fail(sink, sink.path,
                    "writing video needs ffmpeg; install it (apt-get install ffmpeg) or capture "
                    "to a folder");
    // Refuse an unwritable path before anything starts; ffmpeg overwrites the empty file.
    FILE* probe = std::fopen(sink.path, "wb");
    if (!probe) return fail(sink, sink.path, std::strerror(errno));
    std::fclose(probe);
    char size[32], rate[16];
    std::snprintf(size, sizeof size, "%dx%d", sink.width, sink.height);
    std::snprintf(rate, sizeof rate, "%d", sink.fps);
    const char* pictures = childPipeInput(sink.encoder, 0);
    const char* sound = childPipeInput(sink.encoder, 1);
    const char* argv[] = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                          // Pictures on standard input, sound on the second pipe. Raw inputs need
                          // no probing; probing one would wait for data the other holds up.
                          "-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "64",
                          "-f", "rawvideo", "-pix_fmt", "rgba", "-s", size, "-framerate", rate,
                          "-i", pictures, "-probesize", "32", "-analyzeduration", "0",
                          "-thread_queue_size", "1024", "-f", "s16le", "-ar", "44100", "-ac", "2",
                          "-i", sound, "-map", "0:v", "-map", "1:a"};
    const char* const common[] = {"-pix_fmt",  "yuv420p",  "-fflags",   "+bitexact",     "-flags:v",
                                  "+bitexact", "-flags:a", "+bitexact", "-map_metadata", "-1"};
    // The fixed arguments, the container's codecs, the common ones, the output, the end.
    const VideoContainer* container = containerOf(sink.path);
    const char* args[std::size(argv) + kCodecArguments + std::size(common) + 2] = {};
    size_t n = 0;
    for (const char* arg : argv)
        args[n++] = arg;
    for (const char* arg : container->codecs)
        if (arg) args[n++] = arg;
    for (const char* arg : common)
        args[n++] = arg;
    args[n++] = sink.path;
    args[n] = nullptr;
    if (!startChildProcess(sink.encoder, args, 2)) {
        std::remove(sink.path);
        return fail(sink, sink.path, "ffmpeg could not be started");
    }
    return true;
}

} // namespace

const char* const kCaptureVideoExtensions = ".mp4, .mkv, .mov, .webm, .avi";

bool captureIsVideoPath(const char* path) {
    return containerOf(path) != nullptr;
}

CaptureTarget captureTargetOf(const char* path, bool existingFolder) {
    if (captureIsVideoPath(path)) return CaptureTarget::video;
    if (existingFolder) return CaptureTarget::folder;
    // The extension of the last name: after its last dot, unless the name starts with it.
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    const char* dot = std::strrchr(name, '.');
    const bool extension = dot && dot != name && dot[1] != '\0';
    return extension ? CaptureTarget::refused : CaptureTarget::folder;
}

uint64_t captureSampleAt(int64_t frame, int fps) {
    // round(a / b) = floor((2a + b) / 2b) for whole a, b > 0.
    const uint64_t a = uint64_t(frame) * kCaptureSampleRate;
    return (2 * a + uint64_t(fps)) / (2 * uint64_t(fps));
}

int captureFrameSamples(int64_t frame, int fps) {
    return int(captureSampleAt(frame + 1, fps) - captureSampleAt(frame, fps));
}

bool openCapture(CaptureSink& sink, const char* path, int width, int height, int fps,
                 bool overwrite) {
    sink.open = false;
    sink.failed = false;
    sink.frames = 0;
    sink.audioFrames = 0;
    if (fps < 1 || fps > kCaptureMaxFps || width < 1 || height < 1)
        return fail(sink, path, "bad frame rate or size");
    if (std::strlen(path) + 1 > sizeof sink.path) return fail(sink, "path", "too long");
    std::snprintf(sink.path, sizeof sink.path, "%s", path);
    sink.width = width;
    sink.height = height;
    sink.fps = fps;
    sink.kind = captureIsVideoPath(path) ? CaptureKind::video : CaptureKind::folder;
    const bool opened =
        sink.kind == CaptureKind::video ? openVideo(sink) : openFolder(sink, overwrite);
    sink.open = opened;
    return opened;
}

bool writeCaptureFrame(CaptureSink& sink, const uint8_t* rgba) {
    if (!sink.open || sink.failed) return false;
    const int samples = captureFrameSamples(sink.frames, sink.fps);
    const size_t audioBytes = size_t(samples) * 4;
    if (sink.kind == CaptureKind::video) {
        const size_t pictureBytes = size_t(sink.width) * size_t(sink.height) * 4;
        const void* bytes[2] = {rgba, sink.audio};
        const size_t sizes[2] = {pictureBytes, audioBytes};
        if (!writeChildPipes(sink.encoder, bytes, sizes))
            return fail(sink, "to ffmpeg", childProcessError());
    } else {
        std::snprintf(sink.framePath, sizeof sink.framePath, "%s/frame_%06lld.png", sink.path,
                      static_cast<long long>(sink.frames));
        if (!writePngRgba(sink.framePath, sink.width, sink.height, rgba, true))
            return fail(sink, sink.framePath, "could not be written (disk full?)");
        if (std::fwrite(sink.audio, 1, audioBytes, sink.wav) != audioBytes)
            return fail(sink, kAudioName, std::strerror(errno));
    }
    ++sink.frames;
    sink.audioFrames += uint64_t(samples);
    return true;
}

bool finishCapture(CaptureSink& sink, bool ok) {
    if (!sink.open) return false;
    sink.open = false;
    ok = ok && !sink.failed;
    if (sink.kind == CaptureKind::video) {
        const int status = finishChildProcess(sink.encoder);
        if (ok && status != 0) {
            char reason[64];
            std::snprintf(reason, sizeof reason, "ffmpeg failed (exit status %d)", status);
            fail(sink, sink.path, reason);
            ok = false;
        }
        if (!ok) std::remove(sink.path);
        return ok;
    }
    char wavPath[kCapturePathBytes + 16];
    audioPath(sink, wavPath, sizeof wavPath);
    if (ok) {
        uint8_t header[44];
        wavHeader(header, sink.audioFrames);
        if (std::fflush(sink.wav) != 0 || std::fseek(sink.wav, 0, SEEK_SET) != 0 ||
            std::fwrite(header, 1, sizeof header, sink.wav) != sizeof header) {
            fail(sink, wavPath, std::strerror(errno));
            ok = false;
        }
    }
    if (std::fclose(sink.wav) != 0 && ok) {
        fail(sink, wavPath, std::strerror(errno));
        ok = false;
    }
    sink.wav = nullptr;
    if (!ok) std::remove(wavPath);
    return ok;
}
