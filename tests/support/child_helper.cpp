#include "support/child_helper.h"

#include "platform/child_process.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// The value of "--child-NAME=" among the arguments, or empty.
std::string childArg(const std::vector<std::string>& args, const char* name) {
    const std::string prefix = std::string("--child-") + name + "=";
    for (const std::string& a : args)
        if (a.rfind(prefix, 0) == 0) return a.substr(prefix.size());
    return "";
}

// An input the way the child sees it: "pipe:N" is descriptor N, anything else a name.
FILE* openInput(const std::string& name) {
    if (name.rfind("pipe:", 0) == 0) {
        const int fd = std::atoi(name.c_str() + 5);
#ifdef _WIN32
        _setmode(fd, _O_BINARY);
        return _fdopen(fd, "rb");
#else
        return fdopen(fd, "rb");
#endif
    }
    return std::fopen(name.c_str(), "rb");
}

// Whether the input's next size bytes are the pattern. Reads no further: the other input may
// still be on its way.
bool checkInput(FILE* in, size_t size, int seed) {
    if (!in) return false;
    char chunk[8192];
    for (size_t at = 0; at < size;) {
        const size_t want = std::min(sizeof chunk, size - at);
        if (std::fread(chunk, 1, want, in) != want) return false;
        for (size_t i = 0; i < want; ++i, ++at)
            if (uint8_t(chunk[i]) != childPatternByte(at, seed)) return false;
    }
    return true;
}

// lines: prints its arguments and working directory, one line on standard error and a last
// line without a line break; exits 7.
int printLines(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size(); ++i)
        std::printf("arg:%s\n", args[i].c_str());
    const std::u8string cwd = std::filesystem::current_path().u8string();
    std::printf("cwd:%s\n", std::string(cwd.begin(), cwd.end()).c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "error line\n");
    std::fflush(stderr);
    std::printf("last");
    return kChildLinesStatus;
}

// inputs: checks both inputs (--child-in0/1, --child-size0/1) against the pattern, one after
// the other in the order asked (--child-order=01 or 10), then their ends; exits 0, or 10 + the
// input that was short or wrong, 20 + the input that went on.
int checkInputs(const std::vector<std::string>& args) {
    const std::string order = childArg(args, "order");
    const size_t sizes[2] = {size_t(std::atol(childArg(args, "size0").c_str())),
                             size_t(std::atol(childArg(args, "size1").c_str()))};
    FILE* inputs[2] = {openInput(childArg(args, "in0")), openInput(childArg(args, "in1"))};
    int status = 0;
    for (const char c : order) {
        const int i = c - '0';
        if (!checkInput(inputs[i], sizes[i], i)) status = 10 + i;
    }
    for (int i = 0; i < 2 && status == 0; ++i)
        if (std::fgetc(inputs[i]) != EOF) status = 20 + i;
    for (FILE* in : inputs)
        if (in) std::fclose(in);
    return status;
}

// encoder: stands in for ffmpeg. Reads the two "-i" inputs to their ends at once, as it does,
// and writes "pictures N\nsound M\n" (their byte counts) to the last argument; exits 0, or 30
// when its command line lacks either.
int countEncoderInputs(const std::vector<std::string>& args) {
    std::vector<std::string> inputs;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "-i") inputs.push_back(args[i + 1]);
    if (inputs.size() != 2 || args.size() < 2) return 30;
    size_t counts[2] = {0, 0};
    auto drain = [&](int i) {
        FILE* in = openInput(inputs[size_t(i)]);
        if (!in) return;
        char chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
            counts[i] += got;
        std::fclose(in);
    };
    std::thread sound(drain, 1);
    drain(0);
    sound.join();
    FILE* out = std::fopen(args.back().c_str(), "wb");
    if (!out) return 31;
    std::fprintf(out, "pictures %llu\nsound %llu\n", (unsigned long long)counts[0],
                 (unsigned long long)counts[1]);
    return std::fclose(out) == 0 ? 0 : 31;
}

} // namespace

uint8_t childPatternByte(size_t at, int seed) {
    return uint8_t((at * 7 + size_t(seed) * 13 + at / 251) & 0xff);
}

std::vector<uint8_t> childPattern(size_t size, int seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = childPatternByte(i, seed);
    return bytes;
}

std::string testBinaryPath() {
    char path[4096];
    return siblingProgramPath("quilm_tests", path, sizeof path) ? std::string(path) : "";
}

// The filter goes into the environment too: a child standing in for another program gets
// that program's command line, not ours.
ChildHelperMode::ChildHelperMode(const char* mode) {
    setenv(kChildModeVariable, mode, 1);
    setenv("GTEST_FILTER", kChildHelperFilter + std::strlen("--gtest_filter="), 1);
}

ChildHelperMode::~ChildHelperMode() {
    unsetenv(kChildModeVariable);
    unsetenv("GTEST_FILTER");
}

TEST(ChildProcessHelper, Run) {
    const char* mode = std::getenv(kChildModeVariable);
    if (!mode || !*mode) GTEST_SKIP() << "only as the child of the process tests";
    const std::vector<std::string> args = ::testing::internal::GetArgvs();
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const std::string name = mode;
    int status = 99;
    if (name == "lines") {
        status = printLines(args);
    } else if (name == "inputs") {
        status = checkInputs(args);
    } else if (name == "encoder") {
        status = countEncoderInputs(args);
    } else if (name == "hang") {
        // Outlives any limit a runner test gives it.
        std::this_thread::sleep_for(std::chrono::seconds(60));
        status = 0;
    } else if (name == "quit") {
        // Reads a little of its standard input and ends.
        char some[100];
        status = std::fread(some, 1, sizeof some, stdin) == sizeof some ? kChildQuitStatus : 98;
    }
    std::fflush(stdout);
    std::_Exit(status);
}
