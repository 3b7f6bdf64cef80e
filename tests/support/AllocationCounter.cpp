#include "support/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Every plain and array form is replaced, so that allocation and release
// always pair up, also under AddressSanitizer.
namespace {
std::atomic<int64_t> Count{0};

void* Allocate(std::size_t Size) {
  Count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(Size == 0 ? 1 : Size)) return p;
  throw std::bad_alloc();
}
}  // namespace

int64_t quenvis::test::AllocationCount() { return Count.load(std::memory_order_relaxed); }

void* operator new(std::size_t Size) { return Allocate(Size); }
void* operator new[](std::size_t Size) { return Allocate(Size); }
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
  Count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(Size == 0 ? 1 : Size);
}
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept {
  Count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(Size == 0 ? 1 : Size);
}
void operator delete(void* P) noexcept { std::free(P); }
void operator delete[](void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }
void operator delete[](void* P, std::size_t) noexcept { std::free(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { std::free(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { std::free(P); }
