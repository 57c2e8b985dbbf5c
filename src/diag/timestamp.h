// The processor's time-stamp counter (raw ticks, not converted to seconds) and a steady
// nanosecond clock where there is none.
#pragma once

#include <cstdint>

uint64_t readTimeStamp();
