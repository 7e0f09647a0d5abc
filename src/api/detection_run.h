// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "api/plans/linux.h"
#include "api/plans/macos.h"
#include "api/plans/windows.h"
#include "core/evidence.h"
#include "core/json_report.h"
#include "oxa.h"

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
  RunPlan<S::kPlatform>::run(run.result, processor, system, registry);
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
