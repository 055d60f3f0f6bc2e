// Replaces the global operator new/delete (over malloc/free) of the test
// program that includes it and counts every allocation, so that a test can
// show that a path allocates nothing. Include it in one file per program.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace vs32::test {

inline std::atomic<long> gAllocations{0};

// Allocations made so far, by every thread.
inline long Allocations() {
  return gAllocations.load(std::memory_order_relaxed);
}

}  // namespace vs32::test

// Out of line: inlined, GCC would see malloc'd memory reach free and take it
// for a mismatched new/delete.
__attribute__((noinline)) void* operator new(std::size_t n) {
  vs32::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
