// SPDX-License-Identifier: MIT
#pragma once

// Fault injection for the global allocator, for test programs that link
// alloc_fault.cpp (it replaces operator new for the whole program).
// Counting is per thread, so gtest's own threads are not disturbed.

#include <cstddef>

namespace oxa::test {

enum class Fault { bad_alloc, other_exception };

// Makes the n-th allocation from now (1-based) on this thread throw, once.
// n == 0 disarms.
void fail_allocation_after(std::size_t n, Fault fault = Fault::bad_alloc);

// Allocations on this thread since the last arm (or since start).
std::size_t allocations_seen();

// The exception type thrown for Fault::other_exception.
struct InjectedFault {};

// Arms for the lifetime of the object, then disarms.
class ScopedAllocationFault {
 public:
  explicit ScopedAllocationFault(std::size_t n, Fault fault = Fault::bad_alloc) {
    fail_allocation_after(n, fault);
  }
  ~ScopedAllocationFault() { fail_allocation_after(0); }
  ScopedAllocationFault(const ScopedAllocationFault&) = delete;
  ScopedAllocationFault& operator=(const ScopedAllocationFault&) = delete;
};

}  // namespace oxa::test
