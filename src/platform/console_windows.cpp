// Windows only: standard output and error for a GUI-subsystem program, and the console window.
// Started from a console (cmd.exe), the program writes into that console; started by a double
// click, it has none, and the first console line opens a console window of its own, as the
// console option promises. Standard output and error are binary, so the log's bytes are the
// same as on Linux ("\n", not "\r\n"). Linked into each executable as an object of its own,
// because only its static initialiser refers to it.
#include "diag/console.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace {

bool hasStandardOutput() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
}

// Points the C runtime's streams at the process's console, keeping a stream that was
// redirected to a file or pipe where it was.
void reopenOnConsole(bool output, bool error) {
    if (output) std::freopen("CONOUT$", "w", stdout);
    if (error) std::freopen("CONOUT$", "w", stderr);
    SetConsoleOutputCP(CP_UTF8);
}

bool consoleOpened = false;

bool writeToConsoleWindow(const char* text, int length, void*) {
    if (!consoleOpened) {
        consoleOpened = true;
        if (!hasStandardOutput() && AllocConsole()) {
            reopenOnConsole(true, GetStdHandle(STD_ERROR_HANDLE) == nullptr);
            _setmode(_fileno(stdout), _O_BINARY);
        }
    }
    const size_t written = std::fwrite(text, 1, static_cast<size_t>(length), stdout);
    std::fflush(stdout);
    return written == static_cast<size_t>(length);
}

struct WindowsStandardStreams {
    WindowsStandardStreams() {
        const bool noOutput = !hasStandardOutput();
        const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        const bool noError = err == nullptr || err == INVALID_HANDLE_VALUE;
        if ((noOutput || noError) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            consoleOpened = true;
            reopenOnConsole(noOutput, noError);
        }
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
        setConsoleSink(writeToConsoleWindow, nullptr);
    }
};

const WindowsStandardStreams windowsStandardStreams;

} // namespace
