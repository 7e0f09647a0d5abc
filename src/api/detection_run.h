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
#include "probes/timing_probe.h"

namespace oxa {

// One detection run over the given processor, operating system and platform
// registry, ending in the status code and slot contract of oxa_detect_json.
// The exported function hands in the native layers; tests hand in fakes.
template <Processor P, System S, Registry R>
int detect_json(char** out, P& processor, S& system, R& registry) noexcept {
  if (out == nullptr) return OXA_ERROR_NULL_ARGUMENT;
  *out = nullptr;
  try {
    const std::int64_t start_ns = system.steady_ns();
    Result result;
    // The order is fixed: the timing probe weighs a slow CPUID only when the
    // probes before it found no hypervisor identity.
    detect_cpu(result, read_cpu(processor));
    detect_platform(result, system, registry);
    detect_timing(result, measure_timing(processor, system));
    // Linux only: what the process runs in besides a machine.
    if constexpr (LinuxSystem<S>) {
      if (system.linux_signs()) {
        const LinuxSigns signs = read_linux_signs(system);
        detect_container(result, signs);
        detect_compatibility(result, signs);
      }
    }
    const std::int64_t duration_us = (system.steady_ns() - start_ns) / 1000;

    const std::string document = to_json(result, duration_us);
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
