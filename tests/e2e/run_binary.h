// Runs a built binary as a child process and collects its exit status, standard output and
// standard error. For end-to-end tests only.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

struct BinaryRun {
    int status = -1;       // exit status, or -1 when it did not exit normally
    bool timedOut = false; // killed after the time limit; err then ends with a line saying so
    long peakKb = 0;       // the child's peak resident size (getrusage)
    std::string out;
    std::string err;
};

// Long enough for the slowest run under a sanitizer or Wine, far below ctest's 300 s, so a hung
// binary fails its own test with its output instead of the whole test binary timing out.
// QUILM_TEST_RUN_SECONDS overrides it (a slower machine).
constexpr int kRunBinaryTimeoutSeconds = 120;
// For the few runs that do a lot by design (the whole demo, a whole data set): still below
// ctest's limit, so they too fail as themselves.
constexpr int kRunBinaryLongTimeoutSeconds = 280;

// args excludes argv[0]. unsetVariables are removed from the child's environment, setVariables
// ("NAME=value") added; workingDirectory empty means the current one. A child still running
// after timeoutSeconds (0: the default limit) is killed and the run fails the current test.
BinaryRun runBinary(const char* path, const std::vector<std::string>& args,
                    const std::vector<std::string>& unsetVariables = {},
                    const std::vector<std::string>& setVariables = {},
                    const std::string& workingDirectory = "", int timeoutSeconds = 0);

// The limit a run gets: timeoutSeconds when positive, else the override or the default.
inline int runBinaryTimeoutSeconds(int timeoutSeconds) {
    if (timeoutSeconds > 0) return timeoutSeconds;
    const char* text = std::getenv("QUILM_TEST_RUN_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : kRunBinaryTimeoutSeconds;
}

std::string scratchDirectory(const char* name);
