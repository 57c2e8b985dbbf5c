#include "diag/timestamp.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
uint64_t readTimeStamp() {
    return __rdtsc();
}
#else
#include <chrono>
uint64_t readTimeStamp() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
#endif
