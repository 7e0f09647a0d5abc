// SPDX-License-Identifier: MIT
#pragma once

// Windows: for now what the processor says, CPUID, its timing and its
// brand string, which a Windows process sees as any other does. What
// Windows itself says of its hypervisor, its firmware tables and its
// containers come later.

#include "api/plans/run_plan.h"
#include "probes/cpuid_probe.h"
#include "probes/devices_probe.h"
#include "probes/timing_probe.h"

namespace oxa {

template <>
struct RunPlan<Platform::windows> {
  template <Processor P, System S, Registry R>
  static void run(Result& result, P& processor, S& system, R& /*registry*/) {
    const Cpu cpu = read_cpu(processor, system);
    detect_cpu(result, cpu);
    detect_timing(result, measure_timing(processor, system));
    detect_devices(result, read_device_signs(processor, cpu));
  }
};

}  // namespace oxa
