// SPDX-License-Identifier: MIT
#pragma once

// The processor layer: CPUID, RDTSC and LFENCE. Probes take the processor as
// a template argument, so the native one inlines to the bare instructions,
// tests hand in a scripted one (ScriptedProcessor) and replay its own. Each
// architecture folder holds its native processor (x86_64/native_processor.h).

#include <concepts>
#include <cstdint>

namespace oxa {

struct CpuidRegisters {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;

  friend bool operator==(const CpuidRegisters&, const CpuidRegisters&) = default;
};

// A processor with CPUID, a time-stamp counter and LFENCE: x86-64.
template <class P>
concept CpuidProcessor = requires(P& processor, std::uint32_t leaf, std::uint32_t subleaf) {
  { processor.cpuid(leaf, subleaf) } -> std::same_as<CpuidRegisters>;
  { processor.rdtsc() } -> std::same_as<std::uint64_t>;  // the time-stamp counter
  processor.lfence();
};

// The processor of an architecture without CPUID derives from this: the
// CPUID and timing probes then find nothing to ask and say "unavailable",
// with no test of the architecture inside them.
struct ProcessorWithoutCpuid {};

template <class P>
concept Processor = CpuidProcessor<P> || std::derived_from<P, ProcessorWithoutCpuid>;

}  // namespace oxa
