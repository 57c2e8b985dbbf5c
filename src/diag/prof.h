// Named profiling counters keyed by the first two characters of the name ("00main",
// "07Polys"): a fixed table of 256 slots, no search and no allocation on start and stop.
// Timers measure time-stamp counter ticks; event counters add amounts. Main thread only.
#pragma once

#include <cstdint>

constexpr int kProfSlots = 256;
constexpr int kProfNameBytes = 128;
constexpr int kProfReportBytes = 256;

struct ProfCounter {
    int32_t count;
    bool running;
    bool error;
    bool eventOnly;
    uint64_t startStamp;
    uint64_t accumulated;
    char name[kProfNameBytes];
};

// The slot index of a name's key; keys of two characters '0'..'9', 'A'.. stay below 256.
int profSlot(const char* name);

void profStart(const char* name);
void profStop(const char* name);
void profCount(const char* name, int32_t amount);

// Formats one slot's report line into buffer (kProfReportBytes); returns its length.
int profReport(int slot, char* buffer);
// Logs the line of every slot whose count is not zero, in slot order.
void profReportAll();

// Read access for tools and tests; resetting exists for tests only.
const ProfCounter& profCounter(int slot);
void profResetAll();
