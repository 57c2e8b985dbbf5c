// Runs a built binary as a child process and collects its exit status, standard output and
// standard error. For end-to-end tests only.
#pragma once

#include <string>
#include <vector>

struct BinaryRun {
    int status = -1; // exit status, or -1 when it did not exit normally
    long peakKb = 0; // the child's peak resident size (getrusage)
    std::string out;
    std::string err;
};

// args excludes argv[0]. unsetVariables are removed from the child's environment, setVariables
// ("NAME=value") added; workingDirectory empty means the current one.
BinaryRun runBinary(const char* path, const std::vector<std::string>& args,
                    const std::vector<std::string>& unsetVariables = {},
                    const std::vector<std::string>& setVariables = {},
                    const std::string& workingDirectory = "");

std::string scratchDirectory(const char* name);
