#include "app/options_parse.h"

#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const kUsageText =
    "usage: quilm [options] [scene.q3d]\n"
    "  --no-dialog          skip the setup dialog; its defaults apply, changed by the options\n"
    "  --windowed | --fullscreen\n"
    "  --size WxH           window size (default 1024x768)\n"
    "  --console            log to standard output (also in full screen)\n"
    "  --no-extensions  --no-dxt  --low-memory  --no-widescreen  --always-in-front\n"
    "  --dxt                DXT5-compress textures also on a software renderer\n"
    "  --make-hidetrack     viewer mode: generate the scene's .hid file and exit\n"
    "  --headless           no window and no display needed; implies --no-dialog --windowed\n"
    "  --fixed-step S       deterministic: the clock advances S seconds per frame\n"
    "  --frames N           quit after N frames\n"
    "  --screenshot FILE    write the last frame as PNG\n"
    "  --profile            log the profiling counters at exit\n"
    "  --capture PATH       deterministic capture: a .mp4, .mkv, .mov, .webm or .avi file\n"
    "                       (needs ffmpeg), or a new or empty folder (a path without\n"
    "                       extension) of PNG frames and audio.wav; implies --no-dialog\n"
    "  --overwrite          capture into a folder that holds an earlier capture\n"
    "  --fps N              frames per second of the capture, 1 to 1000 (default 60)\n"
    "  --capture-overlay    keep the F1 info overlay (and F2 timeline) in the capture\n"
    "  --loop A:B           demo: repeat orders A to B\n"
    "  --data DIR           the demo's data folder (default: data here, else beside quilm)\n"
    "  --demo FILE.toml     play the demo this manifest describes; its folder is the data\n"
    "                       folder (default: the data folder's demo.toml, else built in)\n"
    "  --watch              reload the demo when its manifest or a file of it changes\n"
    "                       (F5 reloads at once)\n"
    "  --start ORDER[:ROW]  start the demo's music at that order and row\n"
    "  --exit-at-end        quit when the demo is over\n"
    "  --help  --version\n";

namespace {

constexpr int kMaxWindowSide = 16384;

// Whole decimal number in [1, limit]; no sign, no spaces, no trailing characters. 64 bits
// for the running value: long has only 32 on Windows, where ten times a large value overflows.
bool parsePositive(const char* text, const char* end, int64_t limit, int& out) {
    if (text == end) return false;
    int64_t value = 0;
    for (const char* p = text; p != end; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > limit) return false;
    }
    if (value < 1) return false;
    out = static_cast<int>(value);
    return true;
}

bool parseSize(const char* text, int& width, int& height) {
    const char* x = std::strchr(text, 'x');
    if (!x) return false;
    return parsePositive(text, x, kMaxWindowSide, width) &&
           parsePositive(x + 1, x + std::strlen(x), kMaxWindowSide, height);
}

// Whole decimal number in [0, limit].
bool parseWhole(const char* text, const char* end, long limit, int& out) {
    if (end - text == 1 && *text == '0') {
        out = 0;
        return true;
    }
    return parsePositive(text, end, limit, out);
}

// "A:B", orders from 0. Whether B comes after A is judged once the whole line is read; whether
// the music has those orders, only once it is loaded.
bool parseLoop(const char* text, int& first, int& last) {
    const char* colon = std::strchr(text, ':');
    int a = 0, b = 0;
    if (!colon || !parseWhole(text, colon, 65535, a) ||
        !parseWhole(colon + 1, colon + std::strlen(colon), 65535, b))
        return false;
    first = a;
    last = b;
    return true;
}

bool parseStep(const char* text, uint64_t& microseconds) {
    if (*text == '\0' || *text == ' ' || *text == '-' || *text == '+') return false;
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(seconds)) return false;
    // At least one microsecond, at most an hour per frame.
    if (seconds < 1e-6 || seconds > 3600.0) return false;
    microseconds = static_cast<uint64_t>(std::llround(seconds * 1e6));
    return true;
}

// Whole decimal number in [0, limit]; no sign, no spaces.
bool parseCount(const char* text, const char* end, long limit, int& out) {
    if (text == end) return false;
    long value = 0;
    for (const char* p = text; p != end; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > limit) return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool parseStart(const char* text, int& order, int& row) {
    const char* colon = std::strchr(text, ':');
    const char* end = text + std::strlen(text);
    row = 0;
    if (!colon) return parseCount(text, end, kMaxStartOrder, order);
    return parseCount(text, colon, kMaxStartOrder, order) &&
           parseCount(colon + 1, end, kMaxStartRow, row);
}

} // namespace

bool copyScenePath(const char* argument, char* out, int outBytes) {
    size_t length = std::strlen(argument);
    const char* start = argument;
    if (length >= 2 && argument[0] == '"' && argument[length - 1] == '"') {
        ++start;
        length -= 2;
    }
    if (length > static_cast<size_t>(kScenePathChars) || length + 1 > static_cast<size_t>(outBytes))
        return false;
    std::memcpy(out, start, length);
    out[length] = '\0';
    return true;
}

bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, char* error,
                      int errorBytes) {
    line = CommandLine{};
    bool pathSeen = false;
    bool fpsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&](const char* what) {
            if (value) return true;
            std::snprintf(error, errorBytes, "option %s needs %s", arg, what);
            return false;
        };
        if (std::strcmp(arg, "--no-dialog") == 0)
            line.noDialog = true;
        else if (std::strcmp(arg, "--windowed") == 0)
            line.windowed = true;
        else if (std::strcmp(arg, "--fullscreen") == 0)
            line.fullscreen = true;
        else if (std::strcmp(arg, "--console") == 0)
            line.console = true;
        else if (std::strcmp(arg, "--no-extensions") == 0)
            line.noExtensions = true;
        else if (std::strcmp(arg, "--no-dxt") == 0)
            line.noDxt = true;
        else if (std::strcmp(arg, "--dxt") == 0)
            line.forceDxt = true;
        else if (std::strcmp(arg, "--low-memory") == 0)
            line.lowMemory = true;
        else if (std::strcmp(arg, "--no-widescreen") == 0)
            line.noWideScreen = true;
        else if (std::strcmp(arg, "--always-in-front") == 0)
            line.alwaysInFront = true;
        else if (std::strcmp(arg, "--make-hidetrack") == 0)
            line.makeHidetrack = true;
        else if (std::strcmp(arg, "--headless") == 0)
            line.headless = true;
        else if (std::strcmp(arg, "--profile") == 0)
            line.profile = true;
        else if (std::strcmp(arg, "--exit-at-end") == 0)
            line.exitAtEnd = true;
        else if (std::strcmp(arg, "--help") == 0)
            line.help = true;
        else if (std::strcmp(arg, "--version") == 0)
            line.version = true;
        else if (std::strcmp(arg, "--size") == 0) {
            if (!needValue("a size WxH")) return false;
            if (!parseSize(value, line.width, line.height)) {
                std::snprintf(error, errorBytes,
                              "bad value for --size: '%s' (expected WxH, 1 to %d each)", value,
                              kMaxWindowSide);
                return false;
            }
            line.sizeGiven = true;
            ++i;
        } else if (std::strcmp(arg, "--fixed-step") == 0) {
            if (!needValue("seconds per frame")) return false;
            if (!parseStep(value, line.fixedStepMicroseconds)) {
                std::snprintf(error, errorBytes,
                              "bad value for --fixed-step: '%s' (expected seconds, 0.000001 to "
                              "3600)",
                              value);
                return false;
            }
            ++i;
        } else if (std::strcmp(arg, "--frames") == 0) {
            if (!needValue("a frame count")) return false;
            if (!parsePositive(value, value + std::strlen(value), 2147483647, line.frames)) {
                std::snprintf(error, errorBytes,
                              "bad value for --frames: '%s' (expected a whole number above 0)",
                              value);
                return false;
            }
            ++i;
        } else if (std::strcmp(arg, "--screenshot") == 0) {
            if (!needValue("a file name")) return false;
            if (value[0] == '\0') {
                std::snprintf(error, errorBytes, "option --screenshot needs a file name");
                return false;
            }
            line.screenshotPath = value;
            ++i;
        } else if (std::strcmp(arg, "--capture") == 0) {
            if (!needValue("a folder or a .mp4/.mkv file")) return false;
            if (value[0] == '\0') {
                std::snprintf(error, errorBytes, "option --capture needs a path");
                return false;
            }
            line.capturePath = value;
            ++i;
        } else if (std::strcmp(arg, "--fps") == 0) {
            if (!needValue("frames per second")) return false;
            // Any whole number reads; one outside 1 to kMaxCaptureFps is refused below.
            const bool negative = value[0] == '-';
            int magnitude = 0;
            if (!parseWhole(value + (negative ? 1 : 0), value + std::strlen(value), 1000000000,
                            magnitude)) {
                std::snprintf(error, errorBytes,
                              "bad value for --fps: '%s' (expected a whole number, 1 to %d)", value,
                              kMaxCaptureFps);
                return false;
            }
            line.captureFps = negative ? -magnitude : magnitude;
            fpsGiven = true;
            ++i;
        } else if (std::strcmp(arg, "--capture-overlay") == 0) {
            line.captureOverlay = true;
        } else if (std::strcmp(arg, "--overwrite") == 0) {
            line.overwrite = true;
        } else if (std::strcmp(arg, "--loop") == 0) {
            if (!needValue("orders A:B")) return false;
            if (!parseLoop(value, line.loopFirst, line.loopLast)) {
                std::snprintf(error, errorBytes,
                              "bad value for --loop: '%s' (expected orders A:B, whole numbers)",
                              value);
                return false;
            }
            line.loopGiven = true;
            ++i;
        } else if (std::strcmp(arg, "--data") == 0) {
            if (!needValue("a folder")) return false;
            if (value[0] == '\0') {
                std::snprintf(error, errorBytes, "option --data needs a folder");
                return false;
            }
            line.dataDirectory = value;
            ++i;
        } else if (std::strcmp(arg, "--watch") == 0) {
            line.watch = true;
        } else if (std::strcmp(arg, "--demo") == 0) {
            if (!needValue("a manifest")) return false;
            if (value[0] == '\0') {
                std::snprintf(error, errorBytes, "option --demo needs a manifest");
                return false;
            }
            line.demoManifest = value;
            ++i;
        } else if (std::strcmp(arg, "--start") == 0) {
            if (!needValue("ORDER[:ROW]")) return false;
            if (!parseStart(value, line.startOrder, line.startRow)) {
                std::snprintf(error, errorBytes,
                              "bad value for --start: '%s' (expected ORDER[:ROW], 0 to %d each)",
                              value, kMaxStartOrder);
                return false;
            }
            ++i;
        } else if (arg[0] == '-' && arg[1] == '-') {
            std::snprintf(error, errorBytes, "unknown option '%s'", arg);
            return false;
        } else {
            if (pathSeen) {
                std::snprintf(error, errorBytes, "more than one scene path ('%s')", arg);
                return false;
            }
            if (!copyScenePath(arg, line.scenePath, kScenePathBytes)) {
                std::snprintf(error, errorBytes, "scene path longer than %d characters",
                              kScenePathChars);
                return false;
            }
            pathSeen = true;
        }
    }
    if (line.windowed && line.fullscreen) {
        std::snprintf(error, errorBytes, "--windowed and --fullscreen exclude each other");
        return false;
    }
    if ((fpsGiven || line.captureOverlay || line.overwrite) && !line.capturePath) {
        std::snprintf(error, errorBytes, "--fps, --capture-overlay and --overwrite need --capture");
        return false;
    }
    // Values that cannot work whatever the files hold are bad options too.
    if (line.captureFps < 1 || line.captureFps > kMaxCaptureFps) {
        std::snprintf(error, errorBytes,
                      "cannot capture at %d frames per second; --fps takes 1 to %d",
                      line.captureFps, kMaxCaptureFps);
        return false;
    }
    if (line.loopGiven && line.loopLast < line.loopFirst) {
        std::snprintf(error, errorBytes,
                      "--loop %d:%d ends before it starts; give orders A:B with A <= B",
                      line.loopFirst, line.loopLast);
        return false;
    }
    // A capture runs unattended, on its own clock.
    if (line.capturePath) {
        line.noDialog = true;
        line.fixedStepMicroseconds = 0;
    }
    if (line.demoManifest && line.dataDirectory) {
        std::snprintf(error, errorBytes,
                      "--demo and --data both name the data folder; the manifest's folder is it");
        return false;
    }
    if (line.forceDxt && line.noDxt) {
        std::snprintf(error, errorBytes, "--dxt and --no-dxt contradict each other");
        return false;
    }
    if (line.headless) {
        if (line.fullscreen) {
            std::snprintf(error, errorBytes, "--headless runs windowed; drop --fullscreen");
            return false;
        }
        line.noDialog = true;
        line.windowed = true;
    }
    return true;
}

void applyCommandLine(const CommandLine& line, SetupOptions& options) {
    if (line.windowed) options.fullscreen = false;
    if (line.fullscreen) options.fullscreen = true;
    if (line.sizeGiven) {
        options.width = line.width;
        options.height = line.height;
    }
    if (line.console) options.consoleEnabled = true;
    if (line.noExtensions) options.useExtensions = false;
    if (line.forceDxt) options.useDxt = true;
    if (line.noDxt || !options.useExtensions) options.useDxt = false;
    if (line.lowMemory) options.lowMemory = true;
    if (line.noWideScreen) options.wideScreen = false;
    if (line.alwaysInFront) options.alwaysInFront = true;
    if (line.makeHidetrack) options.makeHidetrack = true;
}
