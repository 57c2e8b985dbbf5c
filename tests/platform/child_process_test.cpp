// Child processes on both systems, with the test binary itself as the child
// (support/child_helper.h).
#include "platform/child_process.h"

#include "support/child_helper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

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
        argv = {self.c_str(), kChildHelperFilter};
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
        self = testBinaryPath();
        ASSERT_FALSE(self.empty());
        ASSERT_TRUE(fs::is_regular_file(fromUtf8(self))) << self;
    }
    std::string self;
};

} // namespace

TEST_F(ChildProcessTest, ReadingChildGivesLinesArgumentsDirectoryAndStatus) {
    const fs::path dir = fs::temp_directory_path() / fs::path(u8"quilm child dir ü");
    fs::create_directories(dir);
    // Quotes, backslashes before a quote and at the end, spaces, non-ASCII, an empty one.
    const std::vector<std::string> args = {
        "plain", "with space", "quote \" inside", "back\\\\\"slash", "trailing\\", "", "ü ß €"};
    const ChildHelperMode mode("lines");
    const HelperCommand command(self, args);
    ChildProcess child;
    ASSERT_TRUE(startReadingChild(child, command.argv.data(), utf8(dir).c_str()));
    ReadRun run;
    char chunk[7]; // small: lines arrive in pieces
    long got;
    while ((got = readChildOutput(child, chunk, sizeof chunk)) > 0)
        takeOutput(run, chunk, got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(finishChildProcess(child), kChildLinesStatus);
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
    const ChildHelperMode mode("lines");
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
        EXPECT_EQ(runs[i].status, kChildLinesStatus);
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
    const std::vector<uint8_t> data[2] = {childPattern(sizes[0], 0), childPattern(sizes[1], 1)};
    const ChildHelperMode mode("inputs");
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
    const ChildHelperMode mode("quit");
    const std::vector<uint8_t> data = childPattern(8 * 1024 * 1024, 0);
    ChildProcess child;
    const std::string in1 = std::string("--child-in1=") + childPipeInput(child, 1);
    const HelperCommand command(self, {in1});
    ASSERT_TRUE(startChildProcess(child, command.argv.data(), 2));
    const void* bytes[2] = {data.data(), data.data()};
    const size_t sizes[2] = {data.size(), data.size()};
    EXPECT_FALSE(writeChildPipes(child, bytes, sizes));
    EXPECT_STREQ(childProcessError(), "the program closed its input or ended");
    EXPECT_FALSE(writeChildPipe(child, 0, data.data(), data.size()));
    EXPECT_EQ(finishChildProcess(child), kChildQuitStatus);
}
