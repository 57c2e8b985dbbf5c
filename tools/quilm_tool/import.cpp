// quilm-tool import: a model from a modelling tool (anything Assimp reads) becomes one scene
// file with its pictures beside it. Prints one line per object, material, camera and light,
// then a summary with what was dropped or approximated.
#include "quilm_tool/commands.h"

#include "support/scene_import.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <unistd.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: quilm-tool import IN OUT.q3d [--fps F] [--scale S] [--gzip]\n";

bool parseFloat(const char* text, float& value) {
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// Assimp's readers can loop forever on some damaged files; the import then ends with one line
// and status 1 instead of hanging. Far above what the largest models need (about a second).
constexpr unsigned kImportSeconds = 300;
char watchdogLine[512];
size_t watchdogLength = 0;

void stopWatchdog(int) {
    const ssize_t ignored = write(STDERR_FILENO, watchdogLine, watchdogLength);
    (void)ignored;
    _exit(1);
}

#ifdef _WIN32
// No SIGALRM here: a timer-queue thread ends the import instead.
HANDLE watchdogTimer = nullptr;

void CALLBACK watchdogFired(void*, BOOLEAN) {
    stopWatchdog(0);
}

void armWatchdog(unsigned seconds) {
    CreateTimerQueueTimer(&watchdogTimer, nullptr, watchdogFired, nullptr, seconds * 1000, 0,
                          WT_EXECUTEONLYONCE);
}

void cancelWatchdog() {
    if (watchdogTimer) DeleteTimerQueueTimer(nullptr, watchdogTimer, INVALID_HANDLE_VALUE);
    watchdogTimer = nullptr;
}
#else
void armWatchdog(unsigned seconds) {
    struct sigaction action = {};
    action.sa_handler = stopWatchdog;
    sigaction(SIGALRM, &action, nullptr);
    alarm(seconds);
}

void cancelWatchdog() {
    alarm(0);
}
#endif

void startWatchdog(const char* in) {
    const int n = std::snprintf(watchdogLine, sizeof watchdogLine,
                                "quilm-tool import: '%s': not read within %u s; the file may be "
                                "damaged\n",
                                in, kImportSeconds);
    watchdogLength = n < 0 ? 0 : std::min(size_t(n), sizeof watchdogLine - 1);
    if (watchdogLength > 0) watchdogLine[watchdogLength - 1] = '\n';
    armWatchdog(kImportSeconds);
}

} // namespace

int runImportCommand(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    sceneimport::ImportOptions options;
    bool gzip = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((std::strcmp(a, "--fps") == 0 || std::strcmp(a, "--scale") == 0) && hasValue) {
            float& target = a[2] == 'f' ? options.fps : options.scale;
            if (!parseFloat(argv[++i], target)) {
                std::fprintf(stderr, "quilm-tool import: bad number '%s' for %s\n", argv[i], a);
                std::fputs(kUsage, stderr);
                return 2;
            }
        } else if (std::strcmp(a, "--gzip") == 0) {
            gzip = true;
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "quilm-tool import: unknown or incomplete option '%s'\n", a);
            std::fputs(kUsage, stderr);
            return 2;
        } else if (!in) {
            in = a;
        } else if (!out) {
            out = a;
        } else {
            std::fprintf(stderr, "quilm-tool import: more than one output file\n");
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (!in || !out) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    sceneimport::ImportResult result;
    startWatchdog(in);
    const bool imported = sceneimport::importFile(in, options, result);
    cancelWatchdog();
    if (!imported) {
        std::fprintf(stderr, "quilm-tool import: '%s': %s\n", in, result.error.c_str());
        return 1;
    }
    std::string error;
    if (!sceneimport::writeImport(result, out, gzip, error)) {
        std::fprintf(stderr, "quilm-tool import: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& line : result.lines)
        std::printf("%s\n", line.c_str());
    std::printf("imported %s: %d objects, %d materials, %d cameras, %d lights, %d keys, %zu "
                "pictures -> %s\n",
                in, result.objects, result.materials, result.cameras, result.lights, result.keys,
                result.pictures.size(), out);
    if (result.notes.empty()) std::printf("nothing dropped or approximated\n");
    for (const std::string& note : result.notes)
        std::printf("note: %s\n", note.c_str());
    return 0;
}
