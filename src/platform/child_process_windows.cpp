// The pipe-fed child on Windows: the encoder reads its second input from descriptor 3, which a
// Windows child does not inherit the POSIX way, so starting one fails plainly (and video
// capture says why) until it has a CreateProcess-based version.
#include "platform/child_process.h"

#include "diag/console.h"

#include <windows.h>

namespace {

const char kUnavailable[] = "video capture is not available in the Windows build";

} // namespace

bool findProgram(const char* name) {
    char found[MAX_PATH];
    const DWORD length = SearchPathA(nullptr, name, ".exe", MAX_PATH, found, nullptr);
    return length > 0 && length < MAX_PATH;
}

bool startChildProcess(ChildProcess& child, const char* const* argv, int) {
    child = ChildProcess{};
    consolePrint("Cannot start %s: %s\n", argv[0], kUnavailable);
    return false;
}

bool writeChildPipe(ChildProcess&, int, const void*, size_t) {
    return false;
}

bool writeChildPipes(ChildProcess&, const void* const*, const size_t*) {
    return false;
}

const char* childProcessError() {
    return kUnavailable;
}

int finishChildProcess(ChildProcess& child) {
    child = ChildProcess{};
    return -1;
}
