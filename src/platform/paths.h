// The few path facts that differ between Linux and Windows: the program's own path and the
// directory separators. Paths are UTF-8 on both (the Windows build's manifest makes the
// process code page UTF-8). No allocation; the caller owns every buffer.
#pragma once

// The separator this platform writes between folders: '/' on Linux, '\\' on Windows.
extern const char kPathSeparator;

// The last directory separator in path ('/' everywhere, '\\' as well on Windows), or null.
const char* lastPathSeparator(const char* path);

// The running executable's full path into out (always terminated). False, with out empty,
// when the system does not say or the path does not fit.
bool programPath(char* out, int outBytes);

// The path of the program called name beside the running executable, with ".exe" on Windows.
// False, with out empty, when the program's own path is unknown or the result does not fit.
// The program's own path may be up to kSiblingPathBytes long.
constexpr int kSiblingPathBytes = 4096;
bool siblingProgramPath(const char* name, char* out, int outBytes);

// The reason an open of path failed, for the message: EISDIR when path is a folder (Linux
// opens one and fails the first read; Windows refuses the open with EACCES), else error.
int openErrorCode(const char* path, int error);
