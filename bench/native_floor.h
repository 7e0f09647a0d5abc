// SPDX-License-Identifier: MIT
#pragma once

// The floor of one detection run in this environment: every input the run
// read, asked again of the native layers, with no probe logic around the
// asks. What a run cannot avoid (its CPUID exits, its fenced timestamps, its
// system calls, as many as this environment makes it take) is all the floor
// does, so a run over it measures what the library adds. A question of a
// new kind is one more loop here; a new Linux path question needs none.

#include <benchmark/benchmark.h>

#include <cstring>

#include "capture/dump.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::bench {

template <CpuidProcessor P, System S, Registry R>
void ask_again(const capture::Dump& dump, P& processor, S& system, R& registry) {
  for (const capture::CpuidRecord& r : dump.cpuid)
    benchmark::DoNotOptimize(processor.cpuid(r.leaf, r.subleaf));
  // Each timestamp as the timing probe takes it: fenced on both sides.
  for (std::size_t i = 0; i < dump.timestamps.size(); ++i) {
    processor.lfence();
    benchmark::DoNotOptimize(processor.rdtsc());
    processor.lfence();
  }
  for (const capture::SysctlRecord& r : dump.sysctl) {
    // Each recorded read by the question of its flag; a dump's name of no
    // flag asks nothing.
#define OXA_ASK_FLAG_AGAIN_(method, flag_name) \
  if (r.name == (flag_name)) benchmark::DoNotOptimize(system.method());
    OXA_KERNEL_FLAGS(OXA_ASK_FLAG_AGAIN_)
#undef OXA_ASK_FLAG_AGAIN_
  }
  for (std::size_t i = 0; i < dump.clock.size(); ++i) benchmark::DoNotOptimize(system.steady_ns());
  if (dump.service) {
    const auto device = registry.platform_device();
    if (device) {
      for (const capture::PropertyRecord& p : dump.properties)
        benchmark::DoNotOptimize(device.read(p.key).get());
    }
  }
  if constexpr (PciRegistry<R>) {
    if (dump.pci_asked) benchmark::DoNotOptimize(registry.pci_functions());
  }
  if constexpr (LinuxSystem<S>) {
    if (!dump.linux_signs) return;
    const capture::LinuxRecord& signs = *dump.linux_signs;
#define OXA_ASK_AGAIN_(method, Answer, answers, noun, most, ...) \
  for (const auto& a : signs.answers) benchmark::DoNotOptimize(system.method(a.path.c_str()));
    OXA_LINUX_PATH_QUESTIONS(OXA_ASK_AGAIN_)
#undef OXA_ASK_AGAIN_
    if (signs.release_asked) benchmark::DoNotOptimize(system.kernel_release());
  }
}

}  // namespace oxa::bench
