#include "diag/prof.h"

#include "diag/console.h"
#include "diag/timestamp.h"

#include <cstdio>
#include <cstring>

namespace {

ProfCounter counters[kProfSlots];

ProfCounter& slotFor(const char* name) {
    return counters[profSlot(name)];
}

// Names longer than the field are cut, keeping the terminator.
void storeName(ProfCounter& c, const char* name) {
    std::strncpy(c.name, name, kProfNameBytes - 1);
    c.name[kProfNameBytes - 1] = '\0';
}

} // namespace

int profSlot(const char* name) {
    // Keys outside the documented range would index past the table: fold them into it.
    return ((name[0] & 127) + 2 * (name[1] & 127)) & (kProfSlots - 1);
}

void profStart(const char* name) {
    ProfCounter& c = slotFor(name);
    if (c.error || c.eventOnly) return;
    if (c.running) {
        c.error = true;
        return;
    }
    if (c.count == 0) {
        storeName(c, name);
        c.eventOnly = false;
    }
    ++c.count;
    c.running = true;
    c.startStamp = readTimeStamp();
}

void profStop(const char* name) {
    const uint64_t now = readTimeStamp();
    ProfCounter& c = slotFor(name);
    if (c.error || c.eventOnly) return;
    if (!c.running) {
        c.error = true;
        return;
    }
    c.running = false;
    c.accumulated += now - c.startStamp;
}

void profCount(const char* name, int32_t amount) {
    ProfCounter& c = slotFor(name);
    if (c.count == 0) {
        storeName(c, name);
        c.eventOnly = true;
    }
    c.count += amount;
}

int profReport(int slot, char* buffer) {
    const ProfCounter& c = counters[slot & (kProfSlots - 1)];
    const ProfCounter& mainSlot = counters[profSlot("00main")];
    const char* label = c.name[0] && c.name[1] ? c.name + 2 : "";
    int n;
    if (c.error) {
        n = std::snprintf(buffer, kProfReportBytes, "Counter %s in error state.\n", label);
    } else if (c.count == 0) {
        n = std::snprintf(buffer, kProfReportBytes, "Counter %s never ran.\n", label);
    } else if (c.running) {
        n = std::snprintf(buffer, kProfReportBytes, "Counter %s still running.\n", label);
    } else if (c.eventOnly) {
        if (mainSlot.count == 0)
            n = std::snprintf(buffer, kProfReportBytes, "%s: #%i (no main) \n", label, c.count);
        else
            n = std::snprintf(buffer, kProfReportBytes, "%s: #%i, APM:%i \n", label, c.count,
                              c.count / mainSlot.count);
    } else {
        // The average is printed in 64 bits: a long frame in ticks does not fit 32 bits.
        const long long average = static_cast<long long>(static_cast<double>(c.accumulated) /
                                                         static_cast<double>(c.count));
        if (mainSlot.count == 0) {
            n = std::snprintf(buffer, kProfReportBytes, "%s: #%i, Avg:%lld (no main) \n", label,
                              c.count, average);
        } else {
            const long long percent =
                mainSlot.accumulated == 0
                    ? 0
                    : static_cast<long long>(static_cast<double>(c.accumulated) * 100.0 /
                                             static_cast<double>(mainSlot.accumulated));
            n = std::snprintf(buffer, kProfReportBytes,
                              "%s: #%i, Avg:%lld ACPM:%i Mpercent:%lld   \n", label, c.count,
                              average, c.count / mainSlot.count, percent);
        }
    }
    if (n < 0) n = 0;
    if (n >= kProfReportBytes) n = kProfReportBytes - 1;
    return n;
}

void profReportAll() {
    char line[kProfReportBytes];
    for (int slot = 0; slot < kProfSlots; ++slot) {
        if (counters[slot].count == 0) continue;
        profReport(slot, line);
        consolePrint(line);
    }
}

const ProfCounter& profCounter(int slot) {
    return counters[slot & (kProfSlots - 1)];
}

void profResetAll() {
    std::memset(counters, 0, sizeof counters);
}
