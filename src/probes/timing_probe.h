// SPDX-License-Identifier: MIT
#pragma once

// The timing probe: how many time-stamp-counter ticks one CPUID costs beyond
// an empty measurement. Hypervisors usually trap CPUID, which makes it slow.

#include <cstdint>
#include <limits>
#include <optional>

#include "core/evidence.h"
#include "platform/processor.h"
#include "platform/system.h"

namespace oxa {

// The measurement: kTimingSamples samples of four timestamps each, of which
// the first kTimingWarmUp are thrown away. A fastest CPUID above
// kMaxCpuidTicks is no usable figure; one more than kSlowCpuidTicks over
// the baseline suggests a trap.
inline constexpr int kTimingSamples = 40;
inline constexpr int kTimingWarmUp = 8;
inline constexpr std::uint64_t kMaxCpuidTicks = 10'000'000;
inline constexpr std::uint64_t kSlowCpuidTicks = 1000;

// The outcome of one measurement. All zero means nothing was measured.
// valid implies available; cycles_over_baseline is 0 unless valid.
struct Timing {
  bool available = false;
  bool valid = false;
  std::uint64_t cycles_over_baseline = 0;
  // The kernel's translation flag was set, so nothing was measured. The
  // compatibility probe takes it from here rather than ask again.
  bool translated = false;
};

namespace detail {

// Fenced on both sides so that neither earlier nor later work overlaps it.
template <CpuidProcessor P>
[[gnu::always_inline]] inline std::uint64_t fenced_timestamp(P& processor) {
  processor.lfence();
  const std::uint64_t ticks = processor.rdtsc();
  processor.lfence();
  return ticks;
}

template <CpuidProcessor P, System S>
Timing measure_cpuid(P& processor, S& system) {
  constexpr std::uint32_t kTscAndSse2 = 0x04000010u;  // EDX bits 4 and 26 of leaf 0x1

  if (processor.cpuid(0x0u, 0u).eax == 0) return {};
  if ((processor.cpuid(0x1u, 0u).edx & kTscAndSse2) != kTscAndSse2) return {};
  // A translated process sees an emulated processor; its figures mean nothing.
  // No such flag is a native process.
  if (const std::optional<std::int32_t> translated = system.translated_flag();
      translated && *translated != 0) {
    Timing t;
    t.translated = true;
    return t;
  }

  std::uint64_t fastest_baseline = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t fastest_cpuid = std::numeric_limits<std::uint64_t>::max();
  bool positive = false;
  std::uint32_t fold = 0;
  for (int sample = 0; sample < kTimingSamples; ++sample) {
    const std::uint64_t t0 = fenced_timestamp(processor);
    const std::uint64_t t1 = fenced_timestamp(processor);
    const std::uint64_t t2 = fenced_timestamp(processor);
    const CpuidRegisters regs = processor.cpuid(0x0u, 0u);
    const std::uint64_t t3 = fenced_timestamp(processor);
    fold ^= regs.eax ^ regs.ebx ^ regs.ecx ^ regs.edx;

    // A counter that went backwards (say, after a move to another core)
    // spoils the sample.
    if (sample < kTimingWarmUp || t1 < t0 || t3 < t2) continue;
    if (t3 - t2 > 0) positive = true;
    if (t1 - t0 < fastest_baseline) fastest_baseline = t1 - t0;
    if (t3 - t2 < fastest_cpuid) fastest_cpuid = t3 - t2;
  }
  // Keeps the measured CPUID from being optimised away.
  volatile std::uint32_t sink = fold;
  static_cast<void>(sink);

  Timing timing;
  timing.available = true;
  timing.valid = positive && fastest_cpuid <= kMaxCpuidTicks;
  if (timing.valid && fastest_cpuid >= fastest_baseline) {
    timing.cycles_over_baseline = fastest_cpuid - fastest_baseline;
  }
  return timing;
}

}  // namespace detail

// Touches only the processor and one kernel flag; allocates nothing and
// throws nothing with the native layers. A processor without CPUID has
// nothing to measure. On arm64 no instruction a process may run traps to a
// hypervisor: reads of the ID registers trap to the guest's own kernel,
// which answers them, and HVC and SMC are undefined at EL0. What a timing
// there would show is that kernel's speed, never a hypervisor's, so the
// probe says "unavailable".
template <Processor P, System S>
Timing measure_timing(P& processor, S& system) {
  if constexpr (CpuidProcessor<P>) {
    return detail::measure_cpuid(processor, system);
  } else {
    return {};
  }
}

// Records the probe "timing" and at most one finding. Must run after the
// other probes: a slow CPUID counts as a guest sign only when nothing else
// named a guest or host.
void detect_timing(Result& result, const Timing& timing);

}  // namespace oxa
