#include "tests/support/countingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations{0};

void* CountedAllocate(std::size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* CountedAllocateOrThrow(std::size_t size) {
    if (void* p = CountedAllocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

long kiro::test::AllocationCount() { return allocations.load(std::memory_order_relaxed); }

void* operator new(std::size_t size) { return CountedAllocateOrThrow(size); }
void* operator new[](std::size_t size) { return CountedAllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
