// SPDX-License-Identifier: MIT
#pragma once

// The processor layer: CPUID, RDTSC and LFENCE on x86-64; on arm64 only the
// processor's kind. Probes take the processor as a template argument, so the
// native one inlines to the bare instructions, tests hand in a scripted one
// (ScriptedProcessor) and replay its own. Each architecture folder holds its
// native processor (x86_64/ and arm64/native_processor.h).

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

// The processor of arm64 derives from this. Its identification register,
// MIDR_EL1, is not a process's to read: Linux traps and emulates the read,
// macOS refuses it. Linux also shows each core's MIDR_EL1 in sysfs, a plain
// file the cpu probe reads through the system like any other.
struct Arm64Processor : ProcessorWithoutCpuid {};

template <class P>
concept Arm64 = std::derived_from<P, Arm64Processor>;

// The architectures a run may be of; a dump names its own.
enum class Architecture : unsigned char { x86_64, arm64 };

template <Processor P>
inline constexpr Architecture kArchitectureOf = Arm64<P> ? Architecture::arm64 : Architecture::x86_64;

}  // namespace oxa
