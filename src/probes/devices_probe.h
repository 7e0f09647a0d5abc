// SPDX-License-Identifier: MIT
#pragma once

// The probe "devices": the hardware a hypervisor gives its guest, which a
// guest that hides CPUID's bit and copies a real board's firmware strings
// still shows. On Linux the PCI functions, from the one table the kernel
// shows every user, /proc/bus/pci/devices: one read, however many
// functions.

#include <optional>
#include <string>

#include "core/evidence.h"
#include "platform/linux/signs.h"
#include "platform/system.h"

namespace oxa {

struct DeviceSigns {
  std::optional<std::string> pci_devices;  // the kernel's table, where read
};

template <LinuxSystem S>
DeviceSigns read_device_signs(S& system) {
  return {.pci_devices = system.read_sign(sign_path(Sign::pci_devices))};
}

// Records the probe "devices": "ok" when the table could be read, and a
// finding for each row of the PCI table below that one of its functions
// matches.
void detect_devices(Result& result, const DeviceSigns& signs);

}  // namespace oxa
