// Compile-time format checks for our printf-style functions. MinGW's g++ links its own C99
// printf (%zu, %lld) into C++ programs, but its plain "printf" check means Microsoft's older
// one; gnu_printf names the one linked. Clang knows only "printf".
#pragma once

#if defined(__MINGW32__) && !defined(__clang__)
#define QUILM_PRINTF_CHECK(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define QUILM_PRINTF_CHECK(fmt, first) __attribute__((format(printf, fmt, first)))
#endif
