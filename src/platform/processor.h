#pragma once

// The processor layer: CPUID, RDTSC and LFENCE. Probes take the processor as
// a template argument, so the native one inlines to the bare instructions,
// tests hand in a scripted one (ScriptedProcessor) and replay its own.

#include <concepts>
#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#include <x86intrin.h>
#endif

namespace oxa {

struct CpuidRegisters {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;

  friend bool operator==(const CpuidRegisters&, const CpuidRegisters&) = default;
};

template <class P>
concept Processor = requires(P& processor, std::uint32_t leaf, std::uint32_t subleaf) {
  { processor.cpuid(leaf, subleaf) } -> std::same_as<CpuidRegisters>;
  { processor.rdtsc() } -> std::same_as<std::uint64_t>;  // the time-stamp counter
  processor.lfence();
};

#if defined(__x86_64__) || defined(_M_X64)

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

#else
#error "liboxa targets x86-64 only"
#endif

}  // namespace oxa
