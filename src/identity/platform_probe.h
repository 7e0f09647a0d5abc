// SPDX-License-Identifier: MIT
#pragma once

// The platform probe: the kernel's hypervisor flag, then the identity strings
// of the platform device in the registry, each handed to firmware_marker.
// The system and registry layers are those of src/platform (system.h,
// registry.h); tests hand in fakes.

#include <cstdint>
#include <optional>

#include "core/evidence.h"
#include "core/vocabulary.h"
#include "identity/firmware_markers.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa {

template <System S, Registry R>
void detect_platform(Result& result, S& system, R& registry) {
  if (const std::optional<std::int32_t> present = system.hypervisor_flag(); !present) {
    result.probe(sources::system, statuses::unavailable);
  } else {
    result.probe(sources::system, statuses::ok);
    if (*present != 0) {
      result.add(sources::system, categories::guest, kNoVendor, weights::declared, kHypervisorFlagName);
    }
  }

  // Held to the end: the device is released after its probe is recorded.
  const auto device = registry.platform_device();
  if (!device) {
    result.probe(sources::firmware, statuses::unavailable);
    return;
  }
  // One readable property is enough for "ok", matched or not.
  bool readable = false;
  for (const RegistryKey key : kIdentityKeys) {
    const auto value = device.read(key);  // released at the end of its step
    const RegistryValue v = value.get();
    if (!v.readable) continue;
    readable = true;
    firmware_marker(result, sources::firmware, v.text);
  }
  result.probe(sources::firmware, readable ? statuses::ok : statuses::unavailable);
}

}  // namespace oxa
