// quilm-tool import: a model from a modelling tool (anything Assimp reads) becomes one scene
// file with its pictures beside it. Prints one line per object, material, camera and light,
// then a summary with what was dropped or approximated.
//
// Assimp parses in a child process (fork on POSIX, a helper run of this tool on Windows) that
// hands back the converted result as bytes: a crash or a hang of the library's readers on a
// damaged file ends the import with one line and status 1 instead of taking the tool with it.
// On Windows the helper is this command with --record FILE, which writes the bytes there.
#include "quilm_tool/commands.h"

#include "import/scene_import.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/child_process.h"

#include <filesystem>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: quilm-tool import IN OUT.q3d [--fps F] [--scale S] [--gzip] [--max-faces N] "
    "[--max-bytes N] [--max-seconds S]\n";
// Far above what the largest models need (about a second); a reader that loops ends here.
constexpr float kDefaultSeconds = 300.0f;
constexpr float kMaxSeconds = 86400.0f;

bool parseFloat(const char* text, float& value) {
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool parseCount(const char* text, int64_t& value) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v <= 0) return false;
    value = v;
    return true;
}

// Test hook: makes the parsing child crash or hang, so the containment is tested without
// depending on a fault in the library.
void actOnTestFault() {
    const char* fault = std::getenv("QUILM_IMPORT_TEST_FAULT");
    if (!fault) return;
    if (std::strcmp(fault, "crash") == 0) {
#ifdef _WIN32
        volatile int* nowhere = nullptr;
        *nowhere = 1;
#else
        // The signal itself: a sanitizer build would report a bad write and exit instead.
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
#endif
    }
    if (std::strcmp(fault, "hang") == 0)
        for (;;) {
#ifdef _WIN32
            Sleep(1000);
#else
            pause();
#endif
        }
}

#ifdef _WIN32

std::string utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

// The helper: this tool again, with --record, writing the result's bytes to a temporary file.
bool importContained(const char* in, const sceneimport::ImportOptions& options, float seconds,
                     sceneimport::ImportResult& result) {
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::error_code failed;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(failed);
    if (length == 0 || length >= MAX_PATH || failed) {
        result.error = "cannot start the reader: no program path or temporary folder";
        return false;
    }
    char name[64];
    static unsigned serial = 0;
    std::snprintf(name, sizeof name, "quilm-import-%lu-%u.tmp",
                  (unsigned long)GetCurrentProcessId(), ++serial);
    const std::string record = utf8((temp / name).wstring());
    const std::string program = utf8(exe);
    char fps[32], scale[32], faces[32], bytes[32];
    std::snprintf(fps, sizeof fps, "%.9g", double(options.fps));
    std::snprintf(scale, sizeof scale, "%.9g", double(options.scale));
    std::snprintf(faces, sizeof faces, "%lld", (long long)options.maxFaces);
    std::snprintf(bytes, sizeof bytes, "%lld", (long long)options.maxFileBytes);
    const char* argv[] = {program.c_str(), "import",      "--record", record.c_str(), in,
                          "--fps",         fps,           "--scale",  scale,          "--max-faces",
                          faces,           "--max-bytes", bytes,      nullptr};
    ChildProcess child;
    if (!startReadingChild(child, argv, nullptr)) {
        result.error = "cannot start the reader";
        return false;
    }
    ChildEnd end;
    const int status =
        finishChildProcessWithin(child, unsigned(std::min(seconds, kMaxSeconds) * 1000.0f), end);
    std::vector<uint8_t> data;
    if (FILE* file = _wfopen((temp / name).wstring().c_str(), L"rb")) {
        uint8_t chunk[65536];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            data.insert(data.end(), chunk, chunk + got);
        std::fclose(file);
    }
    std::filesystem::remove(temp / name, failed);
    if (end.timedOut) {
        result.error = sceneimport::timeLimitLine(seconds);
        return false;
    }
    if (end.crashCode != 0) {
        char line[160];
        std::snprintf(line, sizeof line, "the model reader crashed on it (exception 0x%08X)",
                      end.crashCode);
        result.error = line;
        return false;
    }
    if (status != 0 || !sceneimport::decodeResult(data.data(), data.size(), result)) {
        char line[160];
        std::snprintf(line, sizeof line, "the model reader ended without a result (status %d)",
                      status);
        result.error = line;
        return false;
    }
    return result.error.empty();
}

#else

bool importContained(const char* in, const sceneimport::ImportOptions& options, float seconds,
                     sceneimport::ImportResult& result) {
    return sceneimport::parseInChild(
        [&](sceneimport::ImportResult& parsed) {
            actOnTestFault();
            sceneimport::importFile(in, options, parsed);
        },
        seconds, result);
}

#endif

// The helper's side (--record FILE): parse, write the result's bytes, say nothing.
int writeRecord(const char* in, const char* record, const sceneimport::ImportOptions& options) {
#ifdef _WIN32
    // A crash must end the helper at once, with no dialog waiting for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#endif
    actOnTestFault();
    sceneimport::ImportResult parsed;
    sceneimport::importFile(in, options, parsed);
    const std::vector<uint8_t> bytes = sceneimport::encodeResult(parsed);
    FILE* file = std::fopen(record, "wb");
    if (!file) return 3;
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && wrote ? 0 : 3;
}

int badOption(const char* fmt, const char* a, const char* b) {
    std::fputs("quilm-tool import: ", stderr);
    std::fprintf(stderr, fmt, a, b);
    std::fputc('\n', stderr);
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int runImportCommand(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    const char* record = nullptr;
    sceneimport::ImportOptions options;
    float seconds = kDefaultSeconds;
    bool gzip = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((std::strcmp(a, "--fps") == 0 || std::strcmp(a, "--scale") == 0 ||
             std::strcmp(a, "--max-seconds") == 0) &&
            hasValue) {
            float& target = a[2] == 'f' ? options.fps : a[2] == 's' ? options.scale : seconds;
            if (!parseFloat(argv[++i], target))
                return badOption("bad number '%s' for %s", argv[i], a);
        } else if ((std::strcmp(a, "--max-faces") == 0 || std::strcmp(a, "--max-bytes") == 0) &&
                   hasValue) {
            int64_t& target = a[6] == 'f' ? options.maxFaces : options.maxFileBytes;
            if (!parseCount(argv[++i], target))
                return badOption("bad count '%s' for %s (a whole number above 0)", argv[i], a);
        } else if (std::strcmp(a, "--record") == 0 && hasValue) {
            record = argv[++i];
        } else if (std::strcmp(a, "--gzip") == 0) {
            gzip = true;
        } else if (a[0] == '-' && a[1] != '\0') {
            return badOption("unknown or incomplete option '%s'%s", a, "");
        } else if (!in) {
            in = a;
        } else if (!out) {
            out = a;
        } else {
            return badOption("more than one output file%s%s", "", "");
        }
    }
    if (record && in) return writeRecord(in, record, options);
    if (!in || !out) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Values that can be judged before anything runs are bad options, not failed imports.
    if (!(options.fps > 0 && options.fps <= 1000))
        return badOption("--fps must lie in (0, 1000]%s%s", "", "");
    if (!(options.scale > 0 && options.scale < 1e9f))
        return badOption("--scale must be a positive number below 1e9%s%s", "", "");
    if (!(seconds > 0 && seconds <= kMaxSeconds))
        return badOption("--max-seconds must lie in (0, 86400]%s%s", "", "");

    sceneimport::ImportResult result;
    if (!importContained(in, options, seconds, result)) {
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
