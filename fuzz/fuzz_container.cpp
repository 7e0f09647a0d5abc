// SPDX-License-Identifier: MIT
// Input: two flag bytes, then eleven texts, each a u16 length and its bytes:
//   flags 0: bits 0-1 /.dockerenv kind, 2-3 /run/.containerenv kind, 4-5
//   /.flatpak-info kind, 6 /proc/vz, 7 /proc/bc; flags 1: bit 0 the service
//   account folder, 1-2 the LXD socket's kind, 3-4 the Incus socket's;
//   our environment, /run/systemd/container, /run/host/container-manager,
//   PID 1's environment, the PID, UTS and IPC namespaces, /proc/self/cgroup,
//   .containerenv's content, the kernel release, /proc/self/mountinfo (a
//   length of 0xFFFF: unreadable); then the kernel's view and the device tree: a flag byte
//   (bits 0-1 the VMBus folder's kind, 2-3 fw_cfg's) and seven texts,
//   /sys/hypervisor/type, /proc/xen/capabilities, the clock source, the
//   ptp0 and ptp1 clock names, the root's and the hypervisor node's
//   compatible lists; then the PCI table, the FADT, the input devices'
//   table, a byte (bits 0-1 the kind of the WAET) and Xen's feature bits.
// Whatever the signs hold, the probes record one probe each, only vendor
// words of their documented set, and a finding whenever a container is seen.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "byte_reader.h"
#include "core/evidence.h"
#include "core/vocabulary.h"
#include "identity/device_tree.h"
#include "probes/container_probe.h"
#include "probes/devices_probe.h"
#include "probes/kernel_probe.h"
#include "report_check.h"

namespace {

using oxa::PathKind;
using oxa::fuzz::ByteReader;
using oxa::fuzz::check;

std::optional<std::string> text(ByteReader& in) {
  const auto length = in.number<std::uint16_t>();
  if (length == 0xFFFF) return std::nullopt;
  return std::string(in.bytes(length));
}

PathKind kind(unsigned bits) { return static_cast<PathKind>(bits & 3u); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const unsigned flags = in.u8();
  const unsigned more = in.u8();
  oxa::LinuxSigns signs;
  signs.dockerenv = kind(flags);
  signs.containerenv = kind(flags >> 2);
  signs.flatpak_info = kind(flags >> 4);
  signs.openvz = (flags & 0x40u) != 0 ? PathKind::folder : PathKind::absent;
  signs.openvz_host = (flags & 0x80u) != 0 ? PathKind::folder : PathKind::absent;
  signs.kubernetes_account = (more & 0x01u) != 0 ? PathKind::folder : PathKind::absent;
  signs.lxd_socket = kind(more >> 1);
  signs.incus_socket = kind(more >> 3);
  signs.own_environment = text(in);
  signs.systemd_container = text(in);
  signs.host_container_manager = text(in);
  signs.init_environment = text(in);
  signs.pid_namespace = text(in);
  signs.uts_namespace = text(in);
  signs.ipc_namespace = text(in);
  signs.cgroup = text(in);
  signs.containerenv_content = text(in);
  signs.kernel_release = text(in);
  signs.mountinfo = text(in);

  oxa::Result result;
  oxa::detect_container(result, signs);
  check(result.probes.size() == 1 && result.probes[0].source == "container", "not one container probe");
  for (const oxa::Evidence& e : result.evidence) {
    check(e.source == "container" && e.category == "container", "a container finding of another kind");
    check(std::find(oxa::kContainerVendors.begin(), oxa::kContainerVendors.end(), e.vendor) !=
              oxa::kContainerVendors.end(),
          "a container vendor outside the documented set");
    check(e.weight >= 70 && e.weight <= 95, "a container weight outside 70 to 95");
  }
  check(!oxa::container_seen(signs) || !result.evidence.empty(), "a container seen, but no finding");
  oxa::fuzz::check_record(result);

  oxa::Result compatibility;
  oxa::detect_compatibility(compatibility, signs);
  check(compatibility.probes.size() == 1 && compatibility.probes[0].source == "compatibility",
        "not one compatibility probe");
  for (const oxa::Evidence& e : compatibility.evidence) {
    check(e.source == "compatibility" && e.category == "compatibility" && e.vendor == "wsl",
          "a compatibility finding other than wsl");
  }
  oxa::fuzz::check_record(compatibility);

  const unsigned kernel_flags = in.u8();
  oxa::KernelSigns kernel;
  kernel.vmbus_devices = kind(kernel_flags);
  kernel.qemu_fw_cfg_rev = kind(kernel_flags >> 2);
  kernel.hypervisor_type = text(in);
  kernel.xen_capabilities = text(in);
  kernel.clock_source = text(in);
  kernel.ptp0_clock = text(in);
  kernel.ptp1_clock = text(in);
  oxa::Result system;
  oxa::detect_kernel(system, kernel);
  check(system.probes.size() == 1 && system.probes[0].source == "system", "not one system probe");
  for (const oxa::Evidence& e : system.evidence) {
    const bool known = e.vendor == "xen" || e.vendor == "kvm" || e.vendor == "hyperv" || e.vendor == "qemu";
    check(e.source == "system" && known, "a kernel finding of another source or vendor");
  }
  oxa::fuzz::check_record(system);

  oxa::DeviceTree tree;
  tree.compatible = text(in);
  tree.hypervisor_compatible = text(in);
  oxa::Result firmware;
  oxa::device_tree_markers(firmware, tree);
  for (const oxa::Evidence& e : firmware.evidence) {
    check(e.source == "firmware" && e.category == "guest" && (e.vendor == "xen" || e.vendor == "unknown"),
          "a device tree finding of another kind or vendor");
  }

  oxa::DeviceSigns devices;
  devices.pci_functions = oxa::pci_table_functions(text(in));
  devices.acpi_fadt = text(in);
  devices.input_devices = text(in);
  devices.acpi_waet = kind(in.u8());
  oxa::Result found;
  oxa::detect_devices(found, devices);
  check(found.probes.size() == 1 && found.probes[0].source == "devices", "not one devices probe");
  for (const oxa::Evidence& e : found.evidence) {
    const bool guest = e.category == "guest" &&
                       (e.vendor == "vmware" || e.vendor == "virtualbox" || e.vendor == "parallels" ||
                        e.vendor == "xen" || e.vendor == "qemu" || e.vendor == "hyperv" ||
                        e.vendor == "firecracker" || e.vendor == "cloud-hypervisor" || e.vendor == "unknown");
    const bool cloud = e.category == "cloud" && (e.vendor == "aws" || e.vendor == "gcp");
    check(e.source == "devices" && (guest || cloud), "a device finding of another kind or vendor");
  }
  oxa::fuzz::check_record(found);

  oxa::KernelSigns xen;
  xen.hypervisor_type = "xen\n";
  xen.xen_features = text(in);
  oxa::Result domain;
  oxa::detect_kernel(domain, xen);
  check(domain.evidence.size() == 1 && domain.evidence[0].vendor == "xen", "Xen's type named no one finding");
  return 0;
}
