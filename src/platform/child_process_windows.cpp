// Child processes on Windows. Every pipe is a named pipe whose server end, ours, does overlapped
// I/O, so one wait covers all inputs and outputs and the child's process handle: the inputs are
// fed in whatever order the child drains them, and a child that ends mid-write fails the write
// instead of leaving it pending. The child's end is an ordinary handle (its standard input or
// output) or, for a further input, the pipe's name on its command line. Arguments travel as
// UTF-16, quoted the way the C runtime and CommandLineToArgvW split them again.
#include "platform/child_process.h"

#include "diag/console.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr DWORD kWriteChunkBytes = 1 << 20;
constexpr DWORD kOutputChunkBytes = 4096;
constexpr char kChildEnded[] = "the program closed its input or ended";

struct PipeIo {
    HANDLE pipe = INVALID_HANDLE_VALUE; // our (server) end, overlapped
    OVERLAPPED io = {};                 // hEvent made with the pipe, manual reset
    bool connected = false;
};

struct WindowsChild {
    HANDLE process = nullptr;
    DWORD processId = 0;
    PipeIo inputs[kChildPipes];
    PipeIo output;
    bool reading = false; // a read of output is pending
    bool ended = false;   // the output reached its end
    bool failed = false;  // ... through an error rather than the child closing it
    DWORD ready = 0;      // bytes of chunk not yet handed out, from taken on
    DWORD taken = 0;
    char chunk[kOutputChunkBytes];
};

char lastError[256] = "";
LONG pipeSerial = 0;

WindowsChild* stateOf(ChildProcess& child) {
    return static_cast<WindowsChild*>(child.system);
}

void setError(const char* reason) {
    std::snprintf(lastError, sizeof lastError, "%s", reason);
}

// The system's text for an error code, in UTF-8 and without the trailing line break.
void describe(DWORD code, char* text, size_t bytes) {
    wchar_t wide[200];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, wide, 200, nullptr);
    int length = n > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, int(n), text, int(bytes) - 1,
                                             nullptr, nullptr)
                       : 0;
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length <= 0) length = std::snprintf(text, bytes, "error %lu", (unsigned long)code);
    text[length] = '\0';
}

void setSystemError(DWORD code) {
    if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED)
        setError(kChildEnded);
    else
        describe(code, lastError, sizeof lastError);
}

// UTF-8 to UTF-16; false for bytes that are not UTF-8, which would otherwise reach the child
// as other characters.
bool widen(const char* text, std::wstring& out) {
    out.clear();
    const int length = int(std::strlen(text));
    if (length == 0) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
    if (n <= 0) return false;
    out.resize(size_t(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, out.data(), n) == n;
}

bool commandLine(const char* const* argv, std::wstring& line) {
    line.clear();
    std::wstring arg;
    for (int i = 0; argv[i]; ++i) {
        if (!widen(argv[i], arg)) return false;
        if (i > 0) line += L' ';
        appendQuotedArgument(line, arg);
    }
    return true;
}

void nameNewPipe(char* name, size_t bytes) {
    std::snprintf(name, bytes, "\\\\.\\pipe\\quilm-%lu-%ld", (unsigned long)GetCurrentProcessId(),
                  (long)InterlockedIncrement(&pipeSerial));
}

// Our end of a new pipe, one instance only, so nobody can have opened the name before us.
bool createServer(PipeIo& io, const char* name, DWORD direction) {
    std::wstring wide;
    widen(name, wide);
    io.io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!io.io.hEvent) return false;
    io.pipe = CreateNamedPipeW(
        wide.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
    return io.pipe != INVALID_HANDLE_VALUE;
}

// The child's end of a pipe we made, inheritable; opening it connects the pipe.
HANDLE openClient(const char* name, DWORD access) {
    std::wstring wide;
    widen(name, wide);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(wide.c_str(), access, 0, &inherit, OPEN_EXISTING, 0, nullptr);
}

void cancelAndWait(PipeIo& io) {
    CancelIoEx(io.pipe, &io.io);
    DWORD moved = 0;
    GetOverlappedResult(io.pipe, &io.io, &moved, TRUE);
}

// After the child's end was opened by us: the pipe is connected already, which ConnectNamedPipe
// confirms so that the server end is in the state its I/O expects.
bool confirmConnected(PipeIo& io) {
    if (ConnectNamedPipe(io.pipe, &io.io)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_PIPE_CONNECTED) return true;
    if (code == ERROR_IO_PENDING) cancelAndWait(io);
    return false;
}

// An inheritable copy of one of our standard handles, or null when we have none.
HANDLE inheritableCopy(DWORD which) {
    const HANDLE own = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (own == nullptr || own == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

void closeHandle(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

void closePipe(PipeIo& io) {
    closeHandle(io.pipe);
    io.pipe = INVALID_HANDLE_VALUE;
    closeHandle(io.io.hEvent);
}

void releaseState(ChildProcess& child) {
    WindowsChild* state = stateOf(child);
    if (!state) return;
    for (PipeIo& io : state->inputs)
        closePipe(io);
    closePipe(state->output);
    closeHandle(state->process);
    delete state;
    child.system = nullptr;
}

// Starts the process with the three standard handles given (each may be null). Closes nothing.
bool createProcess(ChildProcess& child, const char* const* argv, const wchar_t* application,
                   const char* directory, HANDLE input, HANDLE output, HANDLE error) {
    std::wstring line, dir;
    if (!commandLine(argv, line) || (directory && !widen(directory, dir))) {
        consolePrint("Cannot start %s: an argument is not UTF-8\n", argv[0]);
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    // Without a console of ours, a console program would open a window of its own.
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (GetConsoleWindow() ? 0 : CREATE_NO_WINDOW);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(application, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        directory ? dir.c_str() : nullptr, &startup, &started)) {
        char reason[200];
        describe(GetLastError(), reason, sizeof reason);
        consolePrint("Cannot start %s: %s\n", argv[0], reason);
        return false;
    }
    CloseHandle(started.hThread);
    stateOf(child)->process = started.hProcess;
    stateOf(child)->processId = started.dwProcessId;
    child.pid = int(started.dwProcessId);
    return true;
}

// The outcome of the operation pending on io: true when it is over (done set, bytes moved in
// moved), false while it is still under way.
bool overlappedDone(PipeIo& io, DWORD& moved, DWORD& code) {
    moved = 0;
    if (GetOverlappedResult(io.pipe, &io.io, &moved, FALSE)) {
        code = ERROR_SUCCESS;
        return true;
    }
    code = GetLastError();
    return code != ERROR_IO_INCOMPLETE;
}

// The client of an input pipe must be the child itself: until it opens the name, another
// program could. False (with the reason set) for a stranger.
bool clientIsChild(const PipeIo& io, DWORD processId) {
    ULONG client = 0;
    // Not every system answers; the single instance still limits the pipe to one reader.
    if (!GetNamedPipeClientProcessId(io.pipe, &client)) return true;
    if (client == processId) return true;
    setError("another program opened the input meant for the child");
    return false;
}

} // namespace

void appendQuotedArgument(std::wstring& line, const std::wstring& arg) {
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

bool findProgram(const char* name) {
    std::wstring wide;
    if (!widen(name, wide)) return false;
    wchar_t found[MAX_PATH];
    const DWORD length = SearchPathW(nullptr, wide.c_str(), L".exe", MAX_PATH, found, nullptr);
    return length > 0 && length < MAX_PATH;
}

const char* childPipeInput(ChildProcess& child, int pipe) {
    if (pipe < 0 || pipe >= kChildPipes) return "";
    if (pipe == 0)
        std::snprintf(child.pipeNames[0], kChildPipeNameBytes, "pipe:0");
    else
        nameNewPipe(child.pipeNames[pipe], kChildPipeNameBytes);
    return child.pipeNames[pipe];
}

bool startChildProcess(ChildProcess& child, const char* const* argv, int pipeCount) {
    if (child.system) releaseState(child);
    char names[kChildPipes][kChildPipeNameBytes];
    std::memcpy(names, child.pipeNames, sizeof names);
    child = ChildProcess{};
    std::memcpy(child.pipeNames, names, sizeof names);
    if (pipeCount < 1 || pipeCount > kChildPipes) return false;
    WindowsChild* state = new WindowsChild;
    child.system = state;
    // Standard input is a pipe of its own name; the further ones keep the name the child got.
    char inputName[kChildPipeNameBytes];
    nameNewPipe(inputName, sizeof inputName);
    for (int i = 1; i < pipeCount; ++i)
        if (child.pipeNames[i][0] != '\\') nameNewPipe(child.pipeNames[i], kChildPipeNameBytes);
    for (int i = 0; i < pipeCount; ++i) {
        if (!createServer(state->inputs[i], i == 0 ? inputName : child.pipeNames[i],
                          PIPE_ACCESS_OUTBOUND)) {
            char reason[200];
            describe(GetLastError(), reason, sizeof reason);
            consolePrint("Cannot start %s: no pipe (%s)\n", argv[0], reason);
            releaseState(child);
            return false;
        }
    }
    HANDLE input = openClient(inputName, GENERIC_READ);
    if (input != INVALID_HANDLE_VALUE && !confirmConnected(state->inputs[0])) closeHandle(input);
    if (!input) input = INVALID_HANDLE_VALUE;
    HANDLE output = inheritableCopy(STD_OUTPUT_HANDLE);
    HANDLE error = inheritableCopy(STD_ERROR_HANDLE);
    const bool started = input != INVALID_HANDLE_VALUE &&
                         createProcess(child, argv, nullptr, nullptr, input, output, error);
    if (input == INVALID_HANDLE_VALUE) {
        char reason[200];
        describe(GetLastError(), reason, sizeof reason);
        consolePrint("Cannot start %s: no pipe (%s)\n", argv[0], reason);
    }
    closeHandle(input);
    closeHandle(output);
    closeHandle(error);
    if (!started) {
        releaseState(child);
        return false;
    }
    state->inputs[0].connected = true; // by our own open of its client end
    child.pipeCount = pipeCount;
    for (int i = 0; i < pipeCount; ++i)
        child.pipes[i] = i;
    return true;
}

bool writeChildPipes(ChildProcess& child, const void* const* bytes, const size_t* sizes) {
    WindowsChild* state = stateOf(child);
    if (!state || child.pipeCount == 0) {
        setError("pipe not open");
        return false;
    }
    const int count = child.pipeCount;
    const char* at[kChildPipes] = {};
    size_t left[kChildPipes] = {};
    bool pending[kChildPipes] = {};
    for (int i = 0; i < count; ++i) {
        at[i] = static_cast<const char*>(bytes[i]);
        left[i] = sizes[i];
        if (left[i] > 0 && state->inputs[i].pipe == INVALID_HANDLE_VALUE) {
            setError("pipe not open");
            return false;
        }
    }
    bool ok = true;
    for (;;) {
        // Start an operation on every input that has bytes left and none under way.
        bool busy = false;
        for (int i = 0; ok && i < count; ++i) {
            PipeIo& io = state->inputs[i];
            if (pending[i] || left[i] == 0) continue;
            if (!io.connected) {
                if (ConnectNamedPipe(io.pipe, &io.io)) {
                    io.connected = true;
                } else {
                    const DWORD code = GetLastError();
                    if (code == ERROR_PIPE_CONNECTED) {
                        io.connected = true;
                    } else if (code == ERROR_IO_PENDING) {
                        pending[i] = true;
                        continue;
                    } else {
                        setSystemError(code);
                        ok = false;
                        break;
                    }
                }
                if (!clientIsChild(io, state->processId)) {
                    ok = false;
                    break;
                }
            }
            const DWORD asked = left[i] < kWriteChunkBytes ? DWORD(left[i]) : kWriteChunkBytes;
            if (!WriteFile(io.pipe, at[i], asked, nullptr, &io.io) &&
                GetLastError() != ERROR_IO_PENDING) {
                setSystemError(GetLastError());
                ok = false;
                break;
            }
            // Finished at once or not: the outcome is collected below either way.
            pending[i] = true;
        }
        if (!ok) break;
        for (int i = 0; i < count; ++i)
            busy = busy || pending[i];
        if (!busy) break;

        HANDLE waits[kChildPipes + 1];
        int index[kChildPipes];
        int used = 0;
        for (int i = 0; i < count; ++i)
            if (pending[i]) {
                index[used] = i;
                waits[used++] = state->inputs[i].io.hEvent;
            }
        // The process last: an operation that finished as it ended still counts.
        waits[used] = state->process;
        const DWORD woke = WaitForMultipleObjects(DWORD(used + 1), waits, FALSE, INFINITE);
        if (woke == WAIT_FAILED) {
            setSystemError(GetLastError());
            ok = false;
            break;
        }
        const bool processEnded = woke == WAIT_OBJECT_0 + DWORD(used);
        bool progressed = false;
        for (int w = 0; w < used && ok; ++w) {
            const int i = index[w];
            PipeIo& io = state->inputs[i];
            DWORD moved = 0, code = 0;
            if (!overlappedDone(io, moved, code)) continue;
            pending[i] = false;
            progressed = true;
            if (code != ERROR_SUCCESS) {
                setSystemError(code);
                ok = false;
            } else if (!io.connected) {
                io.connected = true;
                if (!clientIsChild(io, state->processId)) ok = false;
            } else {
                at[i] += moved;
                left[i] -= moved;
            }
        }
        if (ok && processEnded && !progressed) {
            setError(kChildEnded);
            ok = false;
        }
        if (!ok) break;
    }
    if (!ok)
        // The caller's bytes must not be read after we return.
        for (int i = 0; i < count; ++i)
            if (pending[i]) cancelAndWait(state->inputs[i]);
    return ok;
}

bool writeChildPipe(ChildProcess& child, int pipe, const void* bytes, size_t size) {
    if (pipe < 0 || pipe >= child.pipeCount) {
        setError("pipe not open");
        return false;
    }
    const void* all[kChildPipes] = {};
    size_t sizes[kChildPipes] = {};
    all[pipe] = bytes;
    sizes[pipe] = size;
    return writeChildPipes(child, all, sizes);
}

const char* childProcessError() {
    return lastError;
}

bool startReadingChild(ChildProcess& child, const char* const* argv, const char* directory) {
    if (child.system) releaseState(child);
    child = ChildProcess{};
    std::wstring application;
    if (!widen(argv[0], application)) {
        consolePrint("Cannot start %s: an argument is not UTF-8\n", argv[0]);
        return false;
    }
    WindowsChild* state = new WindowsChild;
    child.system = state;
    char name[kChildPipeNameBytes];
    nameNewPipe(name, sizeof name);
    HANDLE output = INVALID_HANDLE_VALUE;
    if (createServer(state->output, name, PIPE_ACCESS_INBOUND))
        output = openClient(name, GENERIC_WRITE);
    if (output != INVALID_HANDLE_VALUE && !confirmConnected(state->output)) {
        CloseHandle(output);
        output = INVALID_HANDLE_VALUE;
    }
    if (output == INVALID_HANDLE_VALUE) {
        char reason[200];
        describe(GetLastError(), reason, sizeof reason);
        consolePrint("Cannot start %s: no pipe (%s)\n", argv[0], reason);
        releaseState(child);
        return false;
    }
    state->output.connected = true;
    HANDLE input = inheritableCopy(STD_INPUT_HANDLE);
    const bool started =
        createProcess(child, argv, application.c_str(), directory, input, output, output);
    closeHandle(input);
    // Only the child holds the write end now: its end is the end of the output.
    closeHandle(output);
    if (!started) {
        releaseState(child);
        return false;
    }
    child.output = 0;
    return true;
}

namespace {

// Takes in the outcome of a finished read.
void collectRead(WindowsChild& state, DWORD moved, DWORD code) {
    state.reading = false;
    if (code == ERROR_SUCCESS) {
        state.ready = moved; // zero bytes: the child wrote nothing, read again
        state.taken = 0;
    } else {
        state.ended = true;
        state.failed = code != ERROR_BROKEN_PIPE && code != ERROR_PIPE_NOT_CONNECTED;
    }
}

// Starts a read when there is nothing to hand out and none under way.
void startRead(WindowsChild& state) {
    if (state.reading || state.ended || state.ready > state.taken) return;
    PipeIo& io = state.output;
    if (!ReadFile(io.pipe, state.chunk, sizeof state.chunk, nullptr, &io.io) &&
        GetLastError() != ERROR_IO_PENDING) {
        collectRead(state, 0, GetLastError());
        return;
    }
    state.reading = true;
    DWORD moved = 0, code = 0;
    if (overlappedDone(io, moved, code)) collectRead(state, moved, code);
}

bool hasNews(const WindowsChild& state) {
    return state.ended || state.ready > state.taken;
}

} // namespace

int waitChildOutput(ChildProcess* const* children, int count) {
    if (count > kChildOutputsWaited) count = kChildOutputsWaited;
    for (;;) {
        HANDLE waits[kChildOutputsWaited];
        int index[kChildOutputsWaited];
        int used = 0;
        for (int i = 0; i < count; ++i) {
            WindowsChild* state = stateOf(*children[i]);
            if (!state || children[i]->output < 0) continue;
            startRead(*state);
            if (hasNews(*state)) return i;
            index[used] = i;
            waits[used++] = state->output.io.hEvent;
        }
        if (used == 0) return -1;
        const DWORD woke = WaitForMultipleObjects(DWORD(used), waits, FALSE, INFINITE);
        if (woke >= WAIT_OBJECT_0 + DWORD(used)) return -1;
        WindowsChild& state = *stateOf(*children[index[woke - WAIT_OBJECT_0]]);
        DWORD moved = 0, code = 0;
        if (overlappedDone(state.output, moved, code)) collectRead(state, moved, code);
    }
}

long readChildOutput(ChildProcess& child, char* buffer, size_t size) {
    WindowsChild* state = stateOf(child);
    if (!state || child.output < 0) return -1;
    while (!hasNews(*state)) {
        startRead(*state);
        if (state->reading) {
            DWORD moved = 0;
            const bool done =
                GetOverlappedResult(state->output.pipe, &state->output.io, &moved, TRUE);
            collectRead(*state, moved, done ? ERROR_SUCCESS : GetLastError());
        }
    }
    if (state->ready > state->taken) {
        const DWORD available = state->ready - state->taken;
        const DWORD n = size < available ? DWORD(size) : available;
        std::memcpy(buffer, state->chunk + state->taken, n);
        state->taken += n;
        return long(n);
    }
    return state->failed ? -1 : 0;
}

int finishChildProcess(ChildProcess& child) {
    WindowsChild* state = stateOf(child);
    child.pipeCount = 0;
    child.output = -1;
    for (int& pipe : child.pipes)
        pipe = -1;
    if (!state) return -1;
    // Closing our ends is the end of the child's input; what it has not read stays readable.
    for (PipeIo& io : state->inputs)
        closePipe(io);
    if (state->reading) cancelAndWait(state->output);
    closePipe(state->output);
    int status = -1;
    DWORD code = 0;
    if (state->process && WaitForSingleObject(state->process, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(state->process, &code))
        // Exception codes (0xC0000005 and the like) are a crash, what a signal is on POSIX.
        status = code >= 0xC0000000u ? -1 : int(code);
    releaseState(child);
    child.pid = -1;
    return status;
}

int finishChildProcessWithin(ChildProcess& child, unsigned milliseconds, ChildEnd& end) {
    end = ChildEnd{};
    WindowsChild* state = stateOf(child);
    if (state && state->process &&
        WaitForSingleObject(state->process, DWORD(milliseconds)) == WAIT_TIMEOUT) {
        TerminateProcess(state->process, 1);
        end.timedOut = true;
    }
    DWORD code = 0;
    if (state && state->process && WaitForSingleObject(state->process, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(state->process, &code) && code >= 0xC0000000u && !end.timedOut)
        end.crashCode = unsigned(code);
    return finishChildProcess(child);
}
