#include "platform/rand.h"

#include <cstdint>

namespace {
uint32_t randState = 1;
} // namespace

int quilmRand() {
    randState = randState * 214013u + 2531011u;
    return static_cast<int>((randState >> 16) & 32767u);
}

void quilmSrand(unsigned int seed) {
    randState = seed;
}
