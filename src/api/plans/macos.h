// SPDX-License-Identifier: MIT
#pragma once

// macOS: the four probes in their fixed order (the timing probe weighs a slow
// CPUID only when the probes before it found no hypervisor identity), then
// the devices a hypervisor gives its guest (the brand string and the PCI
// functions the registry lists), then Rosetta. The kernel's hypervisor flag
// that CPUID's bit does not back is weighed after the timing.

#include <optional>

#include "api/plans/run_plan.h"
#include "identity/platform_probe.h"
#include "probes/cpuid_probe.h"
#include "probes/devices_probe.h"
#include "probes/timing_probe.h"
#include "probes/translation_probe.h"

namespace oxa {

template <>
struct RunPlan<Platform::macos> {
  template <Processor P, System S, Registry R>
  static void run(Result& result, P& processor, S& system, R& registry) {
    static_assert(PciRegistry<R>, "a macOS plan asks the registry for its PCI functions");
    const Cpu cpu = read_cpu(processor, system);
    detect_cpu(result, cpu);
    // Whether CPUID could have shown a hypervisor and did not.
    const bool cpuid_shows_none = cpu.available && !cpu.midr && !cpu.hypervisor;
    const FlagFinding flag = detect_platform(result, system, registry, !cpuid_shows_none);
    const Timing timing = measure_timing(processor, system);
    detect_timing(result, timing);
    if (flag == FlagFinding::held) {
      weigh_held_hypervisor_flag(
          result,
          timing.valid ? std::optional<bool>(timing.cycles_over_baseline > kSlowCpuidTicks) : std::nullopt);
    }
    DeviceSigns devices = read_device_signs(processor, cpu, registry);
    // Rosetta emulates CPUID: what it says behind a hidden bit is its own.
    if (timing.translated) devices.hidden_signature.reset();
    detect_devices(result, devices);
    detect_translation(result, timing.translated);
  }
};

}  // namespace oxa
