// SPDX-License-Identifier: MIT
#pragma once

// The platform probe: the kernel's hypervisor flag ("system"), then the
// identity strings of the platform device in the registry ("firmware"), each
// handed to firmware_marker. On Linux the run asks the kernel's own view for
// "system" instead (probes/kernel_probe.h), and "firmware" also reads the
// device tree (identity/device_tree.h).
// The system and registry layers are those of src/platform (system.h,
// registry.h); tests hand in fakes.

#include <cstdint>
#include <optional>

#include "core/evidence.h"
#include "core/vocabulary.h"
#include "identity/device_tree.h"
#include "identity/firmware_markers.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa {

// The "system" probe where the kernel has a hypervisor flag (macOS).
template <System S>
void detect_hypervisor_flag(Result& result, S& system) {
  if (const std::optional<std::int32_t> present = system.hypervisor_flag(); !present) {
    result.probe(sources::system, statuses::unavailable);
  } else {
    result.probe(sources::system, statuses::ok);
    if (*present != 0) {
      result.add(sources::system, categories::guest, kNoVendor, weights::declared, kHypervisorFlagName);
    }
  }
}

// The identity strings of the platform device, each handed to
// firmware_marker; whether one of them could be read, matched or not.
template <Registry R>
bool firmware_identity(Result& result, R& registry) {
  // Held to the end: the device is released after its last value.
  const auto device = registry.platform_device();
  if (!device) return false;
  bool readable = false;
  for (const RegistryKey key : kIdentityKeys) {
    const auto value = device.read(key);  // released at the end of its step
    const RegistryValue v = value.get();
    if (!v.readable) continue;
    readable = true;
    firmware_marker(result, sources::firmware, v.text);
  }
  return readable;
}

// The "firmware" probe: "ok" when the identity could be read.
template <Registry R>
void detect_firmware(Result& result, R& registry) {
  result.probe(sources::firmware, firmware_identity(result, registry) ? statuses::ok : statuses::unavailable);
}

// The "firmware" probe on Linux. A system booted without ACPI has no DMI
// identity, and one booted with it no device tree: the tree is looked at
// only where the registry is mute.
template <Registry R, LinuxSystem S>
void detect_firmware(Result& result, R& registry, S& system) {
  const bool readable =
      firmware_identity(result, registry) || device_tree_markers(result, read_device_tree(system));
  result.probe(sources::firmware, readable ? statuses::ok : statuses::unavailable);
}

// The platform probe where the kernel has a hypervisor flag (macOS).
template <System S, Registry R>
void detect_platform(Result& result, S& system, R& registry) {
  detect_hypervisor_flag(result, system);
  detect_firmware(result, registry);
}

}  // namespace oxa
