// A child program fed through pipes: started with up to kChildPipes pipes that become its
// file descriptors 0, 3, 4..., written to, then waited for. POSIX (posix_spawn); a write to a
// child that has gone fails instead of raising SIGPIPE. The record is the caller's; no output
// of the child is read, its standard output and error stay the parent's.
#pragma once

#include <cstddef>

constexpr int kChildPipes = 2;

struct ChildProcess {
    int pid = -1;
    int pipes[kChildPipes] = {-1, -1}; // write ends
    int pipeCount = 0;
};

// True when an executable of that name is on PATH.
bool findProgram(const char* name);

// argv ends with null. Pipe 0 becomes the child's standard input, pipe i (i > 0) its file
// descriptor 2 + i. False with one console line when the pipes or the process cannot be made.
bool startChildProcess(ChildProcess& child, const char* const* argv, int pipeCount);

// Writes all bytes to one pipe, waiting while the child catches up. False (the reason in
// childProcessError) when the child closed it or has gone.
bool writeChildPipe(ChildProcess& child, int pipe, const void* bytes, size_t size);
// Writes to every pipe at once (bytes[i], sizes[i] for pipe i), in whatever order the child
// reads them: a child that reads one input while the other is full cannot stall the two.
bool writeChildPipes(ChildProcess& child, const void* const* bytes, const size_t* sizes);
const char* childProcessError();

// Closes the pipes and waits for the child; returns its exit status, or -1 when it did not exit
// normally (killed by a signal). A second call returns -1 at once.
int finishChildProcess(ChildProcess& child);
