// SPDX-License-Identifier: MIT
#pragma once

// The probe "devices": the hardware a hypervisor gives its guest, which a
// guest that hides CPUID's bit and copies a real board's firmware strings
// still shows. On Linux the PCI functions, from the one table the kernel
// shows every user, /proc/bus/pci/devices: one read, however many
// functions; and the OEM of the ACPI tables, from the header of the FADT
// (FACP), the small table every ACPI machine has, which only root may read;
// and the names of the input devices, from the one table the kernel shows
// every user, /proc/bus/input/devices: a hypervisor's virtual tablet or
// mouse is named by its maker.

#include <optional>
#include <string>

#include "core/evidence.h"
#include "platform/linux/signs.h"
#include "platform/system.h"

namespace oxa {

struct DeviceSigns {
  std::optional<std::string> pci_devices;    // the kernel's table, where read
  std::optional<std::string> acpi_fadt;      // the FADT, where read (root)
  std::optional<std::string> input_devices;  // the kernel's table, where read
};

template <LinuxSystem S>
DeviceSigns read_device_signs(S& system) {
  return {.pci_devices = system.read_sign(sign_path(Sign::pci_devices)),
          .acpi_fadt = system.read_sign(sign_path(Sign::acpi_fadt)),
          .input_devices = system.read_sign(sign_path(Sign::input_devices))};
}

// Records the probe "devices": "ok" when one of its tables could be read, a
// finding for each row of the PCI table that one of its functions matches,
// one for the FADT's OEM where it names a vendor, and one for each row of
// the input names that one of the input devices matches.
void detect_devices(Result& result, const DeviceSigns& signs);

}  // namespace oxa
