// Child programs, two kinds: one fed through pipes (up to kChildPipes inputs, written to, then
// waited for) and one whose standard output and error come back through one pipe to be read,
// several at once. POSIX (posix_spawn, fork, poll) or Windows (CreateProcess, named pipes with
// overlapped I/O); a write to a child that has gone fails with a reason instead of raising
// SIGPIPE or hanging. The record is the caller's; the Windows build keeps its handles in a block
// it allocates at start and frees at finish.
#pragma once

#include <cstddef>
#ifdef _WIN32
#include <string>
#endif

constexpr int kChildPipes = 2;
constexpr int kChildPipeNameBytes = 64;
constexpr int kChildOutputsWaited = 16;

struct ChildProcess {
    int pid = -1;
    int pipes[kChildPipes] = {-1, -1}; // write ends
    int pipeCount = 0;
    int output = -1;        // read end of standard output and error (startReadingChild)
    void* system = nullptr; // Windows: process, pipe handles and pending I/O
    char pipeNames[kChildPipes][kChildPipeNameBytes] = {}; // see childPipeInput
};

// True when an executable of that name is on PATH.
bool findProgram(const char* name);

// What the child reads pipe i by, for its command line: "pipe:0" (standard input) and "pipe:3"
// (descriptor 3) on POSIX; on Windows "pipe:0" and a named pipe (\\.\pipe\...) new for each
// child. Call it before startChildProcess, which keeps the name; the text lives in the record.
const char* childPipeInput(ChildProcess& child, int pipe);

// argv ends with null; argv[0] is searched on PATH. Pipe 0 becomes the child's standard input,
// pipe i (i > 0) the input childPipeInput names. False with one console line when the pipes or
// the process cannot be made.
bool startChildProcess(ChildProcess& child, const char* const* argv, int pipeCount);

// Writes all bytes to one pipe, waiting while the child catches up. False (the reason in
// childProcessError) when the child closed it or has gone.
bool writeChildPipe(ChildProcess& child, int pipe, const void* bytes, size_t size);
// Writes to every pipe at once (bytes[i], sizes[i] for pipe i), in whatever order the child
// reads them: a child that reads one input while the other is full cannot stall the two.
bool writeChildPipes(ChildProcess& child, const void* const* bytes, const size_t* sizes);
const char* childProcessError();

// Starts the program at argv[0] (a path, not searched) in directory (null: this one), its
// standard output and error both into one pipe that readChildOutput drains; standard input
// stays this process's. False with one console line when it cannot be started.
bool startReadingChild(ChildProcess& child, const char* const* argv, const char* directory);
// Waits until one of the children (the first kChildOutputsWaited) has output to read or has
// ended it; returns its index, or -1 when there is none to wait for or waiting failed.
int waitChildOutput(ChildProcess* const* children, int count);
// Up to size bytes of the child's output: the count, 0 at its end, -1 on an error. Waits when
// nothing has come yet.
long readChildOutput(ChildProcess& child, char* buffer, size_t size);

// Closes the pipes and waits for the child; returns its exit status, or -1 when it did not exit
// normally (killed by a signal, or an exception code on Windows). A second call returns -1 at
// once.
int finishChildProcess(ChildProcess& child);

#ifdef _WIN32
// How a child waited for with a time limit ended.
struct ChildEnd {
    bool timedOut = false;  // stopped by us at the limit
    unsigned crashCode = 0; // the exception code (0xC0000005, ...) of a crash, else 0
};
// Like finishChildProcess, but a child still running after milliseconds is stopped.
int finishChildProcessWithin(ChildProcess& child, unsigned milliseconds, ChildEnd& end);

// Appends arg to a Windows command line, quoted so that CommandLineToArgvW and the C runtime
// give it back unchanged (backslashes double only before a quote).
void appendQuotedArgument(std::wstring& line, const std::wstring& arg);
#endif
