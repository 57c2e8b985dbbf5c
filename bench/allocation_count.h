// Counts operator new calls for the benchmarks that check the frame path allocates nothing.
// Replaces the global operators: include it in exactly one file of a benchmark executable.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {
inline std::atomic<long> allocations{0};
} // namespace bench

void* operator new(size_t size) {
    bench::allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
