// SPDX-License-Identifier: MIT
#pragma once

// The processor on x86-64: the instructions themselves.

#include <x86intrin.h>

#include <cstdint>

#include "platform/processor.h"

namespace oxa {

class NativeProcessor {
 public:
  // Unguarded on purpose: __get_cpuid_count refuses leaves above the highest
  // basic leaf, which hides every hypervisor leaf (0x40000000 and up).
  // Volatile, because the compiler may otherwise treat CPUID as a pure
  // function: clang's own __cpuid_count lets it hoist or drop repeated
  // executions, which would leave the timing probe measuring nothing.
  [[gnu::always_inline]] CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    std::uint32_t eax;
    std::uint32_t ebx;
    std::uint32_t ecx;
    std::uint32_t edx;
    __asm__ __volatile__("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(leaf), "c"(subleaf));
    return {eax, ebx, ecx, edx};
  }
  [[gnu::always_inline]] std::uint64_t rdtsc() { return __rdtsc(); }
  [[gnu::always_inline]] void lfence() { _mm_lfence(); }
};

static_assert(CpuidProcessor<NativeProcessor>);

}  // namespace oxa
