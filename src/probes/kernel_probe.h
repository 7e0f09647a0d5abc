// SPDX-License-Identifier: MIT
#pragma once

// The "system" probe on Linux: what the kernel itself knows of the
// hypervisor it runs on, from the files it shows every user. Each sign is
// the kernel's choice of a driver or interface that only a hypervisor of
// that vendor offers (Documentation/ABI of the Linux kernel):
//   /sys/hypervisor/type          "xen" (the Xen hypervisor interface, also
//                                 in a PV guest, which has no CPUID leaf, and
//                                 in dom0, the host, which Xen's feature bit
//                                 XENFEAT_dom0 in properties/features tells;
//                                 /proc/xen/capabilities "control_d" where
//                                 xenfs is mounted and the bits are unread)
//   clocksource0 current_clocksource  "kvm-clock", "hyperv_clocksource_*",
//                                 "xen": the guest's paravirtual clock
//   /sys/bus/vmbus/devices        Hyper-V's VMBus, bound only on Hyper-V
//   /sys/class/ptp/ptp{0,1}/clock_name  "KVM virtual PTP", "hyperv": a
//                                 paravirtual PTP clock; a guest has at most
//                                 a NIC's clock before it, so two suffice
//   /sys/firmware/qemu_fw_cfg/rev QEMU's firmware configuration device, made
//                                 when the driver finds one. The folder alone
//                                 is no sign: a kernel with the driver built
//                                 in (RHEL and its rebuilds) makes it on bare
//                                 metal too

#include <cstdint>
#include <optional>
#include <string>

#include "core/evidence.h"
#include "platform/linux/signs.h"
#include "platform/system.h"

namespace oxa {

// What the kernel showed, each field the answer at the path of the sign of
// that name (platform/linux/signs.h); unset or absent where it was not asked.
struct KernelSigns {
  std::optional<std::string> hypervisor_type;
  std::optional<std::string> xen_features;      // where the type is Xen
  std::optional<std::string> xen_capabilities;  // where the features say nothing
  std::optional<std::string> clock_source;
  PathKind vmbus_devices = PathKind::absent;
  std::optional<std::string> ptp0_clock;
  std::optional<std::string> ptp1_clock;
  PathKind qemu_fw_cfg_rev = PathKind::absent;
};

// The vendor a sign names, or an empty view.
std::string_view kernel_vendor(Sign sign, const KernelSigns& signs);
// Whether a sign of the hypervisor read so far names it.
bool kernel_named(const KernelSigns& signs);
// Xen's feature bits (XENFEAT_*) as the kernel shows them, or nothing.
std::optional<std::uint32_t> xen_feature_bits(const std::optional<std::string>& text);

// The hypervisor's signs in the order above, each only while none has
// named it: the first that does is the kernel's word, and on bare metal the
// list is a handful of failed lookups. QEMU's device is asked whatever named
// the hypervisor: it names the machine's device model, which runs on KVM,
// on another hypervisor or on QEMU's own emulation.
template <LinuxSystem S>
KernelSigns read_kernel_signs(S& system) {
  KernelSigns signs;
  signs.hypervisor_type = system.read_sign(sign_path(Sign::hypervisor_type));
  if (kernel_named(signs)) {
    // Host or guest: the domain's feature bits say; xenfs only where they cannot.
    signs.xen_features = system.read_sign(sign_path(Sign::xen_features));
    if (!xen_feature_bits(signs.xen_features))
      signs.xen_capabilities = system.read_sign(sign_path(Sign::xen_capabilities));
  } else {
    signs.clock_source = system.read_sign(sign_path(Sign::clock_source));
    if (!kernel_named(signs)) signs.vmbus_devices = system.path_kind(sign_path(Sign::vmbus_devices));
    if (!kernel_named(signs)) signs.ptp0_clock = system.read_sign(sign_path(Sign::ptp0_clock));
    if (!kernel_named(signs)) signs.ptp1_clock = system.read_sign(sign_path(Sign::ptp1_clock));
  }
  signs.qemu_fw_cfg_rev = system.path_kind(sign_path(Sign::qemu_fw_cfg_rev));
  return signs;
}

// Records the probe "system": "ok" when some sign could be read, and a
// finding for each that names a hypervisor.
void detect_kernel(Result& result, const KernelSigns& signs);

}  // namespace oxa
