// SPDX-License-Identifier: MIT
#pragma once

// Scripted layers for whole detection runs.

#include <cstdint>
#include <string_view>
#include <vector>

#include "probes/timing_probe.h"
#include "support/fake_iokit.h"
#include "support/fake_system.h"
#include "support/scripted_processor.h"

namespace oxa::test {

constexpr std::uint32_t kHypervisorBit = 1u << 31;
constexpr std::uint32_t kTscAndSse2 = 0x04000010;

// A processor whose leaves 0 and 1 report a hypervisor with time-stamp
// counter and SSE2, and the given signature at 0x40000000.
inline void hypervisor_processor(ScriptedProcessor& p, std::string_view signature,
                                 std::uint32_t max_leaf = 0x40000001) {
  p.set(0x0, {0xd, 0, 0, 0});
  p.set(0x1, {0, 0, kHypervisorBit, kTscAndSse2});
  p.set(0x40000000, signature_registers(max_leaf, signature));
}

// kTimingSamples samples of four timestamps, each sample with the given baseline and
// CPUID interval.
inline std::vector<std::uint64_t> samples(std::uint64_t baseline, std::uint64_t cpuid) {
  std::vector<std::uint64_t> ticks;
  std::uint64_t t = 1000;
  for (int i = 0; i < kTimingSamples; ++i) {
    ticks.insert(ticks.end(), {t, t + baseline, t + baseline + 10, t + baseline + 10 + cpuid});
    t += 100000;
  }
  return ticks;
}

}  // namespace oxa::test
