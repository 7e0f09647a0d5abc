// SPDX-License-Identifier: MIT
#include "support/alloc_fault.h"

#include <cstdlib>
#include <new>

namespace oxa::test {
namespace {

thread_local std::size_t countdown = 0;
thread_local std::size_t seen = 0;
thread_local Fault armed_fault = Fault::bad_alloc;

void* allocate(std::size_t size) {
  ++seen;
  if (countdown != 0 && --countdown == 0) {
    if (armed_fault == Fault::bad_alloc) throw std::bad_alloc();
    throw InjectedFault{};
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void fail_allocation_after(std::size_t n, Fault fault) {
  countdown = n;
  seen = 0;
  armed_fault = fault;
}

std::size_t allocations_seen() { return seen; }

}  // namespace oxa::test

void* operator new(std::size_t size) { return oxa::test::allocate(size); }
void* operator new[](std::size_t size) { return oxa::test::allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
