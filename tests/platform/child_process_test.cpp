// Child processes on both systems: the test binary starts itself as the child, in a helper mode
// its own test (ChildProcessHelper.Run) takes up when QUILM_TEST_CHILD names one.
#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kModeVariable = "QUILM_TEST_CHILD";
constexpr const char* kHelperFilter = "--gtest_filter=ChildProcessHelper.Run";
constexpr int kLinesStatus = 7;
constexpr int kQuitStatus = 5;

uint8_t patternByte(size_t at, int seed) {
    return uint8_t((at * 7 + size_t(seed) * 13 + at / 251) & 0xff);
}

std::vector<uint8_t> pattern(size_t size, int seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = patternByte(i, seed);
    return bytes;
}

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
            if (uint8_t(chunk[i]) != patternByte(at, seed)) return false;
    }
    return true;
}

// The helper's modes. lines: prints its arguments and working directory, one line on standard
// error and a last line without a line break, then exits 7. inputs: checks both inputs against
// the pattern, one after the other in the order asked, then their ends; exits 0, or 10 + the
// input that was short or wrong, 20 + the input that went on. quit: reads a little
// of its standard input and exits 5.
[[noreturn]] void runHelper(const std::string& mode) {
    const std::vector<std::string> args = ::testing::internal::GetArgvs();
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    int status = 99;
    if (mode == "lines") {
        for (size_t i = 1; i < args.size(); ++i)
            std::printf("arg:%s\n", args[i].c_str());
        const std::u8string cwd = fs::current_path().u8string();
        std::printf("cwd:%s\n", std::string(cwd.begin(), cwd.end()).c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "error line\n");
        std::fflush(stderr);
        std::printf("last");
        status = kLinesStatus;
    } else if (mode == "inputs") {
        const std::string order = childArg(args, "order");
        const size_t sizes[2] = {size_t(std::atol(childArg(args, "size0").c_str())),
                                 size_t(std::atol(childArg(args, "size1").c_str()))};
        const std::string names[2] = {childArg(args, "in0"), childArg(args, "in1")};
        FILE* inputs[2] = {openInput(names[0]), openInput(names[1])};
        status = 0;
        for (const char c : order) {
            const int i = c - '0';
            if (!checkInput(inputs[i], sizes[i], i)) status = 10 + i;
        }
        // Then both must end: nothing past the bytes written.
        for (int i = 0; i < 2 && status == 0; ++i)
            if (std::fgetc(inputs[i]) != EOF) status = 20 + i;
        for (FILE* in : inputs)
            if (in) std::fclose(in);
    } else if (mode == "quit") {
        char some[100];
        status = std::fread(some, 1, sizeof some, stdin) == sizeof some ? kQuitStatus : 98;
    }
    std::fflush(stdout);
    std::_Exit(status);
}

std::string selfPath() {
    char path[4096];
    if (!siblingProgramPath("quilm_tests", path, sizeof path)) return "";
    return path;
}

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Sets the helper's mode for the children started while it lives.
struct HelperMode {
    explicit HelperMode(const char* mode) { setenv(kModeVariable, mode, 1); }
    ~HelperMode() { unsetenv(kModeVariable); }
};

struct ReadRun {
    std::vector<std::string> lines;
    std::string partial;
    int status = -2;
};

void takeOutput(ReadRun& run, const char* bytes, long size) {
    for (long i = 0; i < size; ++i) {
        if (bytes[i] == '\n') {
            run.lines.push_back(run.partial);
            run.partial.clear();
        } else {
            run.partial += bytes[i];
        }
    }
}

bool hasLine(const ReadRun& run, const std::string& line) {
    for (const std::string& l : run.lines)
        if (l == line) return true;
    return run.partial == line;
}

// The helper's command line, owning its words.
struct HelperCommand {
    HelperCommand(const std::string& self, std::vector<std::string> args) : words(std::move(args)) {
        argv = {self.c_str(), kHelperFilter};
        for (const std::string& a : words)
            argv.push_back(a.c_str());
        argv.push_back(nullptr);
    }
    std::vector<std::string> words;
    std::vector<const char*> argv;
};

class ChildProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        self = selfPath();
        ASSERT_FALSE(self.empty());
        ASSERT_TRUE(fs::is_regular_file(fromUtf8(self))) << self;
    }
    std::string self;
};

} // namespace

TEST(ChildProcessHelper, Run) {
    const char* mode = std::getenv(kModeVariable);
    if (!mode || !*mode) GTEST_SKIP() << "only as the child of the process tests";
    runHelper(mode);
}

TEST_F(ChildProcessTest, ReadingChildGivesLinesArgumentsDirectoryAndStatus) {
    const fs::path dir = fs::temp_directory_path() / fs::path(u8"quilm child dir ü");
    fs::create_directories(dir);
    // Quotes, backslashes before a quote and at the end, spaces, non-ASCII, an empty one.
    const std::vector<std::string> args = {
        "plain", "with space", "quote \" inside", "back\\\\\"slash", "trailing\\", "", "ü ß €"};
    const HelperMode mode("lines");
    const HelperCommand command(self, args);
    ChildProcess child;
    ASSERT_TRUE(startReadingChild(child, command.argv.data(), utf8(dir).c_str()));
    ReadRun run;
    char chunk[7]; // small: lines arrive in pieces
    long got;
    while ((got = readChildOutput(child, chunk, sizeof chunk)) > 0)
        takeOutput(run, chunk, got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(finishChildProcess(child), kLinesStatus);
    EXPECT_EQ(finishChildProcess(child), -1);
    for (const std::string& a : args)
        EXPECT_TRUE(hasLine(run, "arg:" + a)) << a;
    EXPECT_TRUE(hasLine(run, "error line"));
    EXPECT_EQ(run.partial, "last");
    std::string cwd;
    for (const std::string& l : run.lines)
        if (l.rfind("cwd:", 0) == 0) cwd = l.substr(4);
    std::error_code error;
    EXPECT_TRUE(fs::equivalent(fromUtf8(cwd), dir, error)) << cwd;
    fs::remove_all(dir, error);
}

TEST_F(ChildProcessTest, SeveralReadingChildrenAreReadAsTheirOutputComes) {
    const HelperMode mode("lines");
    constexpr int kChildren = 3;
    ChildProcess children[kChildren];
    ChildProcess* waited[kChildren];
    ReadRun runs[kChildren];
    std::vector<std::string> tags;
    for (int i = 0; i < kChildren; ++i)
        tags.push_back("child " + std::to_string(i));
    for (int i = 0; i < kChildren; ++i) {
        const HelperCommand command(self, {tags[size_t(i)]});
        ASSERT_TRUE(startReadingChild(children[i], command.argv.data(), nullptr));
    }
    int open = kChildren;
    while (open > 0) {
        int count = 0;
        int index[kChildren];
        for (int i = 0; i < kChildren; ++i)
            if (runs[i].status == -2) {
                index[count] = i;
                waited[count++] = &children[i];
            }
        const int ready = waitChildOutput(waited, count);
        ASSERT_GE(ready, 0);
        ASSERT_LT(ready, count);
        const int i = index[ready];
        char chunk[4096];
        const long got = readChildOutput(children[i], chunk, sizeof chunk);
        ASSERT_GE(got, 0);
        if (got > 0) {
            takeOutput(runs[i], chunk, got);
            continue;
        }
        runs[i].status = finishChildProcess(children[i]);
        --open;
    }
    for (int i = 0; i < kChildren; ++i) {
        EXPECT_EQ(runs[i].status, kLinesStatus);
        EXPECT_TRUE(hasLine(runs[i], "arg:" + tags[size_t(i)]));
        for (int j = 0; j < kChildren; ++j) {
            if (j == i) continue;
            EXPECT_FALSE(hasLine(runs[i], "arg:" + tags[size_t(j)]));
        }
    }
    EXPECT_EQ(waitChildOutput(waited, 0), -1);
}

TEST_F(ChildProcessTest, AProgramThatCannotStartIsNoChild) {
    const std::string missing = utf8(fs::temp_directory_path() / "quilm no such program");
    const char* argv[] = {missing.c_str(), nullptr};
    ChildProcess child;
    // POSIX forks before it knows: the child then ends with 127, as a shell reports it.
    if (startReadingChild(child, argv, nullptr)) {
        char chunk[64];
        while (readChildOutput(child, chunk, sizeof chunk) > 0) {
        }
        EXPECT_EQ(finishChildProcess(child), 127);
    }
    ChildProcess fed;
    const char* fedArgv[] = {"quilm-no-such-program", nullptr};
    EXPECT_FALSE(startChildProcess(fed, fedArgv, 1));
    EXPECT_EQ(finishChildProcess(fed), -1);
}

TEST_F(ChildProcessTest, InputNamesAreStandardInputAndOneNewNamePerChild) {
    ChildProcess a, b;
    EXPECT_STREQ(childPipeInput(a, 0), "pipe:0");
    const std::string first = childPipeInput(a, 1);
    const std::string second = childPipeInput(b, 1);
#ifdef _WIN32
    EXPECT_EQ(first.rfind("\\\\.\\pipe\\", 0), 0u) << first;
    EXPECT_NE(first, second);
#else
    EXPECT_EQ(first, "pipe:3");
    EXPECT_EQ(second, "pipe:3");
#endif
    EXPECT_STREQ(childPipeInput(a, kChildPipes), "");
}

// Both inputs well past any pipe buffer, read by the child one after the other: the writer must
// feed whichever it drains.
TEST_F(ChildProcessTest, BothInputsArriveWholeInEitherReadingOrder) {
    const size_t sizes[2] = {3 * 1024 * 1024 + 17, 1024 * 1024 + 5};
    const std::vector<uint8_t> data[2] = {pattern(sizes[0], 0), pattern(sizes[1], 1)};
    const HelperMode mode("inputs");
    for (const char* order : {"01", "10"}) {
        SCOPED_TRACE(order);
        ChildProcess child;
        const std::string in0 = std::string("--child-in0=") + childPipeInput(child, 0);
        const std::string in1 = std::string("--child-in1=") + childPipeInput(child, 1);
        const HelperCommand command(self, {in0, in1, std::string("--child-order=") + order,
                                           "--child-size0=" + std::to_string(sizes[0]),
                                           "--child-size1=" + std::to_string(sizes[1])});
        ASSERT_TRUE(startChildProcess(child, command.argv.data(), 2));
        const void* bytes[2] = {data[0].data(), data[1].data()};
        ASSERT_TRUE(writeChildPipes(child, bytes, sizes)) << childProcessError();
        EXPECT_EQ(finishChildProcess(child), 0);
    }
}

TEST_F(ChildProcessTest, AChildThatEndsMidRunFailsTheWriteWithAReason) {
    const HelperMode mode("quit");
    const std::vector<uint8_t> data = pattern(8 * 1024 * 1024, 0);
    ChildProcess child;
    const std::string in1 = std::string("--child-in1=") + childPipeInput(child, 1);
    const HelperCommand command(self, {in1});
    ASSERT_TRUE(startChildProcess(child, command.argv.data(), 2));
    const void* bytes[2] = {data.data(), data.data()};
    const size_t sizes[2] = {data.size(), data.size()};
    EXPECT_FALSE(writeChildPipes(child, bytes, sizes));
    EXPECT_STREQ(childProcessError(), "the program closed its input or ended");
    EXPECT_FALSE(writeChildPipe(child, 0, data.data(), data.size()));
    EXPECT_EQ(finishChildProcess(child), kQuitStatus);
}
