#include "platform/child_process.h"

#include "diag/console.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

char lastError[256] = "";

void closeIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// A fresh record that keeps the input names childPipeInput handed out for it.
void resetKeepingNames(ChildProcess& child) {
    char names[kChildPipes][kChildPipeNameBytes];
    std::memcpy(names, child.pipeNames, sizeof names);
    child = ChildProcess{};
    std::memcpy(child.pipeNames, names, sizeof names);
}

} // namespace

bool findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path || std::strchr(name, '/')) return access(name, X_OK) == 0;
    std::string dir;
    for (const char* p = path;; ++p) {
        if (*p == ':' || *p == '\0') {
            const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
            struct stat info;
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                access(candidate.c_str(), X_OK) == 0)
                return true;
            dir.clear();
            if (*p == '\0') break;
        } else {
            dir += *p;
        }
    }
    return false;
}

const char* childPipeInput(ChildProcess& child, int pipe) {
    if (pipe < 0 || pipe >= kChildPipes) return "";
    std::snprintf(child.pipeNames[pipe], kChildPipeNameBytes, "pipe:%d", pipe == 0 ? 0 : 2 + pipe);
    return child.pipeNames[pipe];
}

bool startChildProcess(ChildProcess& child, const char* const* argv, int pipeCount) {
    resetKeepingNames(child);
    if (pipeCount < 1 || pipeCount > kChildPipes) return false;
    // A child that ends early must turn our writes into errors, not kill the player.
    std::signal(SIGPIPE, SIG_IGN);
    int readEnds[kChildPipes] = {-1, -1};
    for (int i = 0; i < pipeCount; ++i) {
        int fds[2];
        // Close-on-exec everywhere: the child gets only the copies made below, and no
        // write end stays open in it to keep it waiting for input.
        if (pipe2(fds, O_CLOEXEC) != 0) {
            consolePrint("Cannot start %s: no pipe (%s)\n", argv[0], std::strerror(errno));
            for (int j = 0; j < i; ++j) {
                closeIfOpen(readEnds[j]);
                closeIfOpen(child.pipes[j]);
            }
            return false;
        }
        readEnds[i] = fds[0];
        child.pipes[i] = fds[1];
        // Non-blocking, so writeChildPipes can feed whichever pipe the child drains.
        fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    }
    child.pipeCount = pipeCount;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < pipeCount; ++i) {
        const int target = i == 0 ? 0 : 2 + i;
        posix_spawn_file_actions_adddup2(&actions, readEnds[i], target);
    }
    pid_t pid = -1;
    const int failed =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < pipeCount; ++i)
        closeIfOpen(readEnds[i]);
    if (failed != 0) {
        consolePrint("Cannot start %s: %s\n", argv[0], std::strerror(failed));
        for (int i = 0; i < pipeCount; ++i)
            closeIfOpen(child.pipes[i]);
        child.pipeCount = 0;
        return false;
    }
    child.pid = pid;
    return true;
}

bool writeChildPipe(ChildProcess& child, int pipe, const void* bytes, size_t size) {
    if (pipe < 0 || pipe >= child.pipeCount || child.pipes[pipe] < 0) {
        std::snprintf(lastError, sizeof lastError, "pipe not open");
        return false;
    }
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = write(child.pipes[pipe], p, size);
        if (n < 0 && errno == EAGAIN) {
            pollfd wait = {child.pipes[pipe], POLLOUT, 0};
            poll(&wait, 1, -1);
            continue;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            std::snprintf(lastError, sizeof lastError, "%s",
                          errno == EPIPE ? "the program closed its input or ended"
                                         : std::strerror(errno));
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeChildPipes(ChildProcess& child, const void* const* bytes, const size_t* sizes) {
    const char* at[kChildPipes] = {};
    size_t left[kChildPipes] = {};
    for (int i = 0; i < child.pipeCount; ++i) {
        at[i] = static_cast<const char*>(bytes[i]);
        left[i] = sizes[i];
        if (child.pipes[i] < 0) {
            std::snprintf(lastError, sizeof lastError, "pipe not open");
            return false;
        }
    }
    for (;;) {
        pollfd waits[kChildPipes];
        int index[kChildPipes];
        int count = 0;
        for (int i = 0; i < child.pipeCount; ++i)
            if (left[i] > 0) {
                waits[count] = {child.pipes[i], POLLOUT, 0};
                index[count++] = i;
            }
        if (count == 0) return true;
        if (poll(waits, nfds_t(count), -1) < 0) {
            if (errno == EINTR) continue;
            std::snprintf(lastError, sizeof lastError, "%s", std::strerror(errno));
            return false;
        }
        for (int w = 0; w < count; ++w) {
            if (waits[w].revents == 0) continue;
            const int i = index[w];
            if (waits[w].revents & (POLLERR | POLLHUP)) {
                std::snprintf(lastError, sizeof lastError, "the program closed its input or ended");
                return false;
            }
            const ssize_t n = write(child.pipes[i], at[i], left[i]);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                std::snprintf(lastError, sizeof lastError, "%s",
                              errno == EPIPE ? "the program closed its input or ended"
                                             : std::strerror(errno));
                return false;
            }
            at[i] += n;
            left[i] -= size_t(n);
        }
    }
}

const char* childProcessError() {
    return lastError;
}

bool startReadingChild(ChildProcess& child, const char* const* argv, const char* directory) {
    child = ChildProcess{};
    int pipeEnds[2];
    // Close-on-exec: a second child started while this one runs must not hold its write end.
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        consolePrint("Cannot start %s: no pipe (%s)\n", argv[0], std::strerror(errno));
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        consolePrint("Cannot start %s: %s\n", argv[0], std::strerror(errno));
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        if (directory && chdir(directory) != 0) _exit(127);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipeEnds[1]);
    child.pid = pid;
    child.output = pipeEnds[0];
    return true;
}

int waitChildOutput(ChildProcess* const* children, int count) {
    pollfd waits[kChildOutputsWaited];
    int index[kChildOutputsWaited];
    int used = 0;
    for (int i = 0; i < count && used < kChildOutputsWaited; ++i)
        if (children[i]->output >= 0) {
            waits[used] = {children[i]->output, POLLIN, 0};
            index[used++] = i;
        }
    if (used == 0) return -1;
    for (;;) {
        if (poll(waits, nfds_t(used), -1) < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        for (int w = 0; w < used; ++w)
            if (waits[w].revents != 0) return index[w];
    }
}

long readChildOutput(ChildProcess& child, char* buffer, size_t size) {
    if (child.output < 0) return -1;
    for (;;) {
        const ssize_t got = read(child.output, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        return long(got);
    }
}

int finishChildProcess(ChildProcess& child) {
    for (int i = 0; i < child.pipeCount; ++i)
        closeIfOpen(child.pipes[i]);
    child.pipeCount = 0;
    closeIfOpen(child.output);
    if (child.pid < 0) return -1;
    int status = 0;
    pid_t got;
    do {
        got = waitpid(child.pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    child.pid = -1;
    if (got < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
