#include "e2e/run_binary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A hung run fails the test that made it, naming the command, and says so in err as well.
void reportTimeout(BinaryRun& run, const char* path, const std::vector<std::string>& args,
                   int limit) {
    std::string command = path;
    for (const std::string& a : args)
        command += " " + a;
    const std::string line =
        "timed out: " + command + " still ran after " + std::to_string(limit) + " s and was killed";
    run.err += (run.err.empty() || run.err.back() == '\n' ? "" : "\n") + line + "\n";
    ADD_FAILURE() << line;
}

} // namespace

std::string scratchDirectory(const char* name) {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/quilm-e2e-" + name + "-" +
                      std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    return dir;
}

BinaryRun runBinary(const char* path, const std::vector<std::string>& args,
                    const std::vector<std::string>& unsetVariables,
                    const std::vector<std::string>& setVariables,
                    const std::string& workingDirectory, int timeoutSeconds) {
    const std::string dir = scratchDirectory("io");
    const std::string outPath = dir + "/out";
    const std::string errPath = dir + "/err";
    BinaryRun run;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        for (const std::string& name : unsetVariables)
            unsetenv(name.c_str());
        for (const std::string& assignment : setVariables) {
            const size_t eq = assignment.find('=');
            setenv(assignment.substr(0, eq).c_str(), assignment.substr(eq + 1).c_str(), 1);
        }
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path, argv.data());
        _exit(127);
    }
    const int limit = runBinaryTimeoutSeconds(timeoutSeconds);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
    int status = 0;
    rusage usage{};
    pid_t done = child > 0 ? 0 : -1;
    // Polled, with a pause that grows to 20 ms: short runs stay short, a hang costs nothing.
    for (int pauseMs = 1; done == 0;) {
        done = wait4(child, &status, WNOHANG, &usage);
        if (done < 0 && errno == EINTR) done = 0;
        if (done != 0) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            run.timedOut = true;
            while ((done = wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        pauseMs = pauseMs < 20 ? pauseMs * 2 : 20;
    }
    if (done == child) {
        if (WIFEXITED(status) && !run.timedOut) run.status = WEXITSTATUS(status);
        run.peakKb = usage.ru_maxrss;
    }
    run.out = readAll(outPath);
    run.err = readAll(errPath);
    if (run.timedOut) reportTimeout(run, path, args, limit);
    return run;
}
