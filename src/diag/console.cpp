#include "diag/console.h"

#include <cstdio>

namespace {

bool writeStdout(const char* text, int length, void*) {
    const size_t written = std::fwrite(text, 1, static_cast<size_t>(length), stdout);
    // Flushed per message so the log interleaves correctly with standard error and survives
    // a crash, as a console window would.
    std::fflush(stdout);
    return written == static_cast<size_t>(length);
}

ConsoleSink consoleSink = writeStdout;
const bool* consoleSwitch = nullptr;
void* consoleSinkUser = nullptr;

struct LineWriter {
    char* out;
    int capacity; // characters that fit before the terminator
    int length = 0;

    void put(char c) {
        if (length < capacity) out[length++] = c;
    }
    void put(const char* s) {
        while (*s)
            put(*s++);
    }
};

void putInteger(LineWriter& w, int32_t value, uint32_t base) {
    if (value == 0) {
        w.put('0');
        return;
    }
    // Magnitude in 64 bits so the most negative value prints as -2147483648 (in its base).
    int64_t v = value;
    if (v < 0) {
        w.put('-');
        v = -v;
    }
    char digits[64];
    int count = 0;
    while (v > 0) {
        const int d = static_cast<int>(v % base);
        digits[count++] = static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10));
        v /= base;
    }
    while (count > 0)
        w.put(digits[--count]);
}

void putFloatDump(LineWriter& w, uint32_t bits) {
    const uint32_t sign = bits >> 31;
    const int32_t exponent = static_cast<int32_t>((bits >> 23) & 0xff);
    const uint32_t fraction = bits & 0x7fffff;
    w.put(sign ? '-' : '+');
    if (exponent == 255) {
        w.put(fraction ? "NAN" : "INF");
        return;
    }
    if (exponent == 0) {
        w.put(fraction ? "DENORMAL" : "0");
        return;
    }
    w.put("0.");
    putInteger(w, static_cast<int32_t>(fraction + (1u << 23)), 10);
    w.put('E');
    putInteger(w, exponent - 127, 10);
}

} // namespace

int formatConsoleText(char* out, int outBytes, const char* format, va_list args) {
    if (out == nullptr || outBytes <= 0) return 0;
    LineWriter w{out, outBytes - 1};
    if (format == nullptr) {
        w.put("NULL");
        out[w.length] = '\0';
        return w.length;
    }
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            w.put(*p);
            continue;
        }
        const char conversion = p[1];
        if (conversion == '\0') break; // a trailing '%' produces nothing
        ++p;
        switch (conversion) {
        case 'b':
            putInteger(w, va_arg(args, int32_t), 2);
            break;
        case 'i':
            putInteger(w, va_arg(args, int32_t), 10);
            break;
        case 'x':
            putInteger(w, va_arg(args, int32_t), 16);
            break;
        case 's': {
            const char* s = va_arg(args, const char*);
            w.put(s ? s : "<NULL>");
            break;
        }
        case 'e':
            putFloatDump(w, va_arg(args, uint32_t));
            break;
        case 'f':
            (void)va_arg(args, int32_t);
            break;
        default: // unknown conversions are copied and consume nothing
            w.put('%');
            w.put(conversion);
            break;
        }
    }
    out[w.length] = '\0';
    return w.length;
}

int formatConsoleTextF(char* out, int outBytes, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = formatConsoleText(out, outBytes, format, args);
    va_end(args);
    return length;
}

void setConsoleSwitch(const bool* enabled) {
    consoleSwitch = enabled;
}

void setConsoleSink(ConsoleSink sink, void* user) {
    consoleSink = sink ? sink : writeStdout;
    consoleSinkUser = sink ? user : nullptr;
}

bool consolePrint(const char* format, ...) {
    if (consoleSwitch == nullptr || !*consoleSwitch) return false;
    char line[kConsoleLineBytes];
    va_list args;
    va_start(args, format);
    const int length = formatConsoleText(line, sizeof line, format, args);
    va_end(args);
    return consoleSink(line, length, consoleSinkUser);
}
