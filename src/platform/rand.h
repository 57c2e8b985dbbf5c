// Our own copy of the classic C runtime generator, so every platform draws the same
// sequence: state = state * 214013 + 2531011, result (state >> 16) & 32767, first state 1.
#pragma once

constexpr int kRandMax = 32767;

int quilmRand();
void quilmSrand(unsigned int seed); // tests only: the program never reseeds
