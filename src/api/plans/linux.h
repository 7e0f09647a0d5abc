// SPDX-License-Identifier: MIT
#pragma once

// Linux: CPUID or MIDR_EL1, the kernel's own view of its hypervisor, the
// firmware's identity (the device tree where DMI is mute), the devices a
// hypervisor gives its guest, the timing (a slow CPUID counts only where
// none of those named a hypervisor), then
// what the process runs in besides a machine: a container, a compatibility
// layer.

#include "api/plans/run_plan.h"
#include "identity/platform_probe.h"
#include "probes/container_probe.h"
#include "probes/cpuid_probe.h"
#include "probes/devices_probe.h"
#include "probes/kernel_probe.h"
#include "probes/timing_probe.h"

namespace oxa {

template <>
struct RunPlan<Platform::linux_os> {
  template <Processor P, System S, Registry R>
  static void run(Result& result, P& processor, S& system, R& registry) {
    static_assert(LinuxSystem<S>, "a Linux plan needs the Linux signs");
    const Cpu cpu = read_cpu(processor, system);
    detect_cpu(result, cpu);
    detect_kernel(result, read_kernel_signs(system));
    detect_firmware(result, registry, system);
    detect_devices(result, read_device_signs(processor, cpu, system));
    detect_timing(result, measure_timing(processor, system));
    const LinuxSigns signs = read_linux_signs(system);
    detect_container(result, signs);
    detect_compatibility(result, signs);
  }
};

}  // namespace oxa
