// SPDX-License-Identifier: MIT
#pragma once

// The platform probe: the kernel's hypervisor flag ("system"), then the
// identity strings of the platform device in the registry ("firmware"), each
// handed to firmware_marker. On Linux the run asks the kernel's own view for
// "system" instead (probes/kernel_probe.h), and "firmware" also reads the
// device tree (identity/device_tree.h).
// The system and registry layers are those of src/platform (system.h,
// registry.h); tests hand in fakes.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "core/evidence.h"
#include "core/vocabulary.h"
#include "identity/device_tree.h"
#include "identity/firmware_markers.h"
#include "identity/smbios_scan.h"
#include "platform/linux/signs.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa {

// What the "system" probe did with the kernel's hypervisor flag.
enum class FlagFinding : unsigned char { none, recorded, held };

// The "system" probe where the kernel has a hypervisor flag (macOS). The
// flag is the kernel's word, but a widely used patcher for Macs that Apple
// no longer supports sets it on real Macs, so that updates are offered.
// Every hypervisor shows itself in CPUID's hypervisor bit unless told to
// hide it; where the processor does not, a set flag is held back for
// weigh_held_hypervisor_flag, after the firmware and the timing spoke.
template <System S>
FlagFinding detect_hypervisor_flag(Result& result, S& system, bool processor_shows_hypervisor = true) {
  const std::optional<std::int32_t> present = system.hypervisor_flag();
  result.probe(sources::system, present ? statuses::ok : statuses::unavailable);
  if (!present || *present == 0) return FlagFinding::none;
  if (!processor_shows_hypervisor) return FlagFinding::held;
  result.add(sources::system, categories::guest, kNoVendor, weights::declared, kHypervisorFlagName);
  return FlagFinding::recorded;
}

// A held flag counts as the kernel's word where something else saw a
// hypervisor: the firmware named a virtual machine, or CPUID was trapped
// (a guest that hides its bit and copies the host's model, as VMware's
// SMBIOS.reflectHost does). Where CPUID ran at native speed and the
// firmware named no virtual machine, it is a real Mac's patched flag: a
// diagnostic. Where the timing could not tell (cpuid_trapped unset), the
// flag counts.
inline void weigh_held_hypervisor_flag(Result& result, std::optional<bool> cpuid_trapped) {
  const bool firmware_guest = std::any_of(
      result.evidence.begin(), result.evidence.end(),
      [](const Evidence& e) { return e.source == sources::firmware && e.category == categories::guest; });
  if (firmware_guest || cpuid_trapped.value_or(true)) {
    result.add(sources::system, categories::guest, kNoVendor, weights::declared, kHypervisorFlagName);
  } else {
    std::string detail = kHypervisorFlagName;
    detail += " set; no hypervisor in CPUID, its timing or the firmware";
    result.add(sources::system, categories::diagnostic, kNoVendor, weights::none, detail);
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
  bool instance_types = false;  // the manufacturer names its machines by type
  for (const RegistryKey key : kIdentityKeys) {
    const auto value = device.read(key);  // released at the end of its step
    const RegistryValue v = value.get();
    if (!v.readable) continue;
    readable = true;
    firmware_marker(result, sources::firmware, v.text);
    if (key == RegistryKey::manufacturer) instance_types = names_instance_types(v.text);
    if (key == RegistryKey::model && instance_types) instance_type_marker(result, sources::firmware, v.text);
  }
  return readable;
}

// The "firmware" probe: "ok" when the identity could be read.
template <Registry R>
void detect_firmware(Result& result, R& registry) {
  result.probe(sources::firmware, firmware_identity(result, registry) ? statuses::ok : statuses::unavailable);
}

// The SMBIOS structure table the kernel shows root, walked as the SMBIOS
// scanner walks a dump: beside the identity strings, which it repeats, it
// holds the BIOS's "virtual machine" characteristic, which a guest that
// copies a real board's strings keeps, and the strings the kernel does not
// show. Whether it was read, and walked to its end or to the read's limit
// (its first structures are the identity's); "error" for a table that is
// neither.
enum class TableRead : unsigned char { absent, walked, malformed };

inline TableRead smbios_table_markers(Result& result, const std::optional<std::string>& table) {
  if (!table) return TableRead::absent;
  const bool walked = smbios_markers(result, *table) || table->size() >= kSignReadLimit;
  return walked ? TableRead::walked : TableRead::malformed;
}

// The "firmware" probe on Linux. A system booted without ACPI has no DMI
// identity, and one booted with it no device tree: the tree is looked at
// only where the registry and the table are mute.
template <Registry R, LinuxSystem S>
void detect_firmware(Result& result, R& registry, S& system) {
  const bool identity = firmware_identity(result, registry);
  const TableRead table = smbios_table_markers(result, system.read_sign(sign_path(Sign::smbios_table)));
  const bool readable = identity || table == TableRead::walked ||
                        (table == TableRead::absent && device_tree_markers(result, read_device_tree(system)));
  result.probe(sources::firmware, readable                        ? statuses::ok
                                  : table == TableRead::malformed ? statuses::error
                                                                  : statuses::unavailable);
}

// The platform probe where the kernel has a hypervisor flag (macOS); with
// what the processor showed, a flag it does not back is held back.
template <System S, Registry R>
FlagFinding detect_platform(Result& result, S& system, R& registry, bool processor_shows_hypervisor = true) {
  const FlagFinding flag = detect_hypervisor_flag(result, system, processor_shows_hypervisor);
  detect_firmware(result, registry);
  return flag;
}

}  // namespace oxa
