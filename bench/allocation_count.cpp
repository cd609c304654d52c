// Counting replacements of the global operator new and delete for the whole
// process: how many heap allocations a record costs. They count and pass on to
// malloc; nothing else changes.

#include <atomic>
#include <cstdlib>
#include <new>

#include "bench_support.h"

namespace {

std::atomic<std::uint64_t> allocations{0};

void* allocate(std::size_t size, std::size_t alignment = 0) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  void* memory = nullptr;
  if (alignment > alignof(std::max_align_t)) {
    if (posix_memalign(&memory, alignment, size) != 0) memory = nullptr;
  } else {
    memory = std::malloc(size);
  }
  return memory;
}

void* allocateOrThrow(std::size_t size, std::size_t alignment = 0) {
  void* memory = allocate(size, alignment);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

namespace kel::bench {

std::uint64_t allocationCount() {
  return allocations.load(std::memory_order_relaxed);
}

void reportAllocations(benchmark::State& state, std::uint64_t before) {
  double perIteration = state.iterations() == 0
                            ? 0.0
                            : static_cast<double>(allocationCount() - before) / static_cast<double>(state.iterations());
  state.counters["allocations"] = benchmark::Counter(perIteration);
}

}  // namespace kel::bench

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
