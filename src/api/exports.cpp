// SPDX-License-Identifier: MIT
// The library's only exported symbols: thin wrappers that hand the native
// platform layers to the detection run.

#include <cstdlib>
#include <type_traits>

#include "api/detection_run.h"
#include "core/version.h"
#include "oxa.h"
#include "platform/native.h"

// The layers are built before the run's guard: they must neither allocate
// nor throw.
static_assert(std::is_nothrow_default_constructible_v<oxa::NativeProcessor>);
static_assert(std::is_nothrow_default_constructible_v<oxa::NativeSystem>);
static_assert(std::is_nothrow_default_constructible_v<oxa::NativeRegistry>);

extern "C" {

OXA_API int oxa_detect_json(char** out) {
  oxa::NativeProcessor processor;
  oxa::NativeSystem system;
  oxa::NativeRegistry registry;
  return oxa::detect_json(out, processor, system, registry);
}

OXA_API void oxa_free(char* ptr) { std::free(ptr); }

OXA_API const char* oxa_version(void) { return oxa::kVersion; }

}  // extern "C"
