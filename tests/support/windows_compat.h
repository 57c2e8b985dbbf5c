// The few POSIX calls the tests make, for the Windows build of the test binary (included into
// every test source there by the build). Paths are UTF-8; temporary directories are made with
// the C runtime's template functions.
#pragma once

#ifdef _WIN32
#define _USE_MATH_DEFINES // M_PI
#include <windows.h>
// windows.h defines near and far as empty macros; the tests use near as a name.
#undef near
#undef far
#include <direct.h>
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

inline char* mkdtemp(char* pattern) {
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0) return nullptr;
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
    return _putenv_s(name, "") == 0 ? 0 : -1;
}

// Two-argument mkdir; the mode has no meaning there.
inline int mkdir(const char* path, int) {
    return _mkdir(path);
}

inline FILE* popen(const char* command, const char* mode) {
    return _popen(command, mode);
}

inline int pclose(FILE* pipe) {
    return _pclose(pipe);
}
// system() and pclose() give the exit code itself.
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) (status)
#endif
