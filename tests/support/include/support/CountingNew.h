// Replaces the global operator new with one that counts every allocation, so
// a test or benchmark can show that a piece of code allocates nothing.
// Include it in exactly one source file of a binary.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace zarvik::testing {
inline std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    zarvik::testing::g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
