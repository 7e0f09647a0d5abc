// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "core/evidence.h"
#include "core/json_report.h"
#include "identity/platform_probe.h"
#include "oxa.h"
#include "probes/container_probe.h"
#include "probes/cpuid_probe.h"
#include "probes/kernel_probe.h"
#include "probes/timing_probe.h"
#include "probes/translation_probe.h"

namespace oxa {

// The record of one detection run and the time its probes took.
struct Run {
  Result result;
  std::int64_t duration_us = 0;
};

// One detection run over the given processor, operating system and platform
// registry. Allocation failure and whatever a layer throws leave it; the
// exported function and the tool each guard it their own way.
template <Processor P, System S, Registry R>
Run run_detection(P& processor, S& system, R& registry) {
  const std::int64_t start_ns = system.steady_ns();
  Run run;
  // The order is fixed: the timing probe weighs a slow CPUID only when the
  // probes before it found no hypervisor identity.
  // Whether CPUID could have shown a hypervisor and did not.
  const bool cpuid_shows_none = [&] {
    const Cpu cpu = read_cpu(processor, system);
    detect_cpu(run.result, cpu);
    return cpu.available && !cpu.midr && !cpu.hypervisor;
  }();
  // The kernel's word on a hypervisor and the firmware's identity: on Linux
  // the kernel's own view, and the device tree where DMI is mute.
  [[maybe_unused]] FlagFinding flag = FlagFinding::none;
  if constexpr (LinuxSystem<S>) {
    detect_kernel(run.result, read_kernel_signs(system));
    detect_firmware(run.result, registry, system);
  } else {
    flag = detect_platform(run.result, system, registry, !cpuid_shows_none);
  }
  const Timing timing = measure_timing(processor, system);
  detect_timing(run.result, timing);
  // What the process runs in besides a machine, where the system shows it.
  if constexpr (LinuxSystem<S>) {
    const LinuxSigns signs = read_linux_signs(system);
    detect_container(run.result, signs);
    detect_compatibility(run.result, signs);
  } else {
    if (flag == FlagFinding::held) {
      weigh_held_hypervisor_flag(
          run.result,
          timing.valid ? std::optional<bool>(timing.cycles_over_baseline > kSlowCpuidTicks) : std::nullopt);
    }
    detect_translation(run.result, timing.translated);
  }
  run.duration_us = (system.steady_ns() - start_ns) / 1000;
  return run;
}

// One detection run ending in the status code and slot contract of
// oxa_detect_json. The exported function hands in the native layers; tests
// hand in fakes.
template <Processor P, System S, Registry R>
int detect_json(char** out, P& processor, S& system, R& registry) noexcept {
  if (out == nullptr) return OXA_ERROR_NULL_ARGUMENT;
  *out = nullptr;
  try {
    const Run run = run_detection(processor, system, registry);
    const std::string document = to_json(run.result, run.duration_us);
    void* block = system.allocate(document.size() + 1);
    if (block == nullptr) return OXA_ERROR_NO_MEMORY;
    std::memcpy(block, document.c_str(), document.size() + 1);
    *out = static_cast<char*>(block);
    return OXA_OK;
  } catch (const std::bad_alloc&) {
    return OXA_ERROR_NO_MEMORY;
  } catch (...) {
    return OXA_ERROR_INTERNAL;
  }
}

}  // namespace oxa
