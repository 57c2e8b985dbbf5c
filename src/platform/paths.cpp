#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
const char kPathSeparator = '\\';
constexpr const char* kProgramSuffix = ".exe";
#else
#include <unistd.h>
const char kPathSeparator = '/';
constexpr const char* kProgramSuffix = "";
#endif

const char* lastPathSeparator(const char* path) {
    const char* slash = std::strrchr(path, '/');
#ifdef _WIN32
    const char* backslash = std::strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash)) slash = backslash;
#endif
    return slash;
}

bool programPath(char* out, int outBytes) {
    if (outBytes <= 0) return false;
    out[0] = '\0';
#ifdef _WIN32
    // The C runtime's copy of the program path, in the process code page (UTF-8).
    if (!_pgmptr) return false;
    const int n = std::snprintf(out, size_t(outBytes), "%s", _pgmptr);
#else
    // readlink does not terminate; a result that fills the buffer may have been cut.
    const ssize_t n = readlink("/proc/self/exe", out, size_t(outBytes));
    if (n > 0 && n < outBytes) out[n] = '\0';
#endif
    if (n <= 0 || n >= outBytes) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool siblingProgramPath(const char* name, char* out, int outBytes) {
    if (outBytes <= 0) return false;
    out[0] = '\0';
    char self[kSiblingPathBytes];
    if (!programPath(self, sizeof self)) return false;
    const char* separator = lastPathSeparator(self);
    const int dirBytes = separator ? int(separator - self) + 1 : 0;
    const int n =
        std::snprintf(out, size_t(outBytes), "%.*s%s%s", dirBytes, self, name, kProgramSuffix);
    if (n < 0 || n >= outBytes) {
        out[0] = '\0';
        return false;
    }
    return true;
}

int openErrorCode(const char* path, int error) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : error;
}
