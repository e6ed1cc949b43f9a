#ifndef KIRO_TESTS_SUPPORT_COUNTING_ALLOCATOR_H
#define KIRO_TESTS_SUPPORT_COUNTING_ALLOCATOR_H

namespace kiro::test {

/// Heap allocations made through operator new since the process started. Linking
/// countingAllocator.cpp into an executable replaces its allocation functions; on Windows they
/// serve only the executable's own code, so such tests link the library's objects directly.
long AllocationCount();

}  // namespace kiro::test

#endif
