// The console log: the program's only text output. consolePrint formats with our own narrow
// formatter (%b %i %x %s %e, %f skips its argument) into a fixed 1024-byte buffer and writes
// the text to standard output. Nothing is written while the switch handed in is off (the run's
// "console on" choice, which the platform's options bind at start-up).
// It is not printf: there are no flags, widths or length modifiers.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>

constexpr int kConsoleLineBytes = 1024;

// Every conversion consumes one 32-bit argument: int for %b %i %x %f, const char* for %s,
// uint32_t float bits for %e (see floatBits). Returns true when the write succeeded.
bool consolePrint(const char* format, ...);

// Formats into out (outBytes >= 1, always zero-terminated); text past outBytes - 1 characters
// is cut, never overrun. Returns the number of characters written before the terminator.
int formatConsoleText(char* out, int outBytes, const char* format, va_list args);
int formatConsoleTextF(char* out, int outBytes, const char* format, ...);

inline uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The flag that says whether the console is on; null (or false) keeps it silent. The flag is
// read at every print, so whoever owns it switches the console by writing it.
void setConsoleSwitch(const bool* enabled);

// Where the text goes: standard output by default. Tests and tools may redirect it; the sink
// gets the formatted characters (no terminator) and returns whether the write succeeded.
using ConsoleSink = bool (*)(const char* text, int length, void* user);
void setConsoleSink(ConsoleSink sink, void* user);
