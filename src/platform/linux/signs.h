// SPDX-License-Identifier: MIT
#pragma once

// The signs the probes read of a Linux system, each once: its path and the
// system's question that reads it (platform/system.h). A probe names a sign
// by its id and reads it at sign_path(); capture records each answer under
// the path, and a dump written by hand lists only the signs its machine
// shows. Why each sign is true or lies stands beside its rule, in the probe
// that weighs it, and in the README's tables of where each sign is true and
// where it is wrongly true.
//
// Plain constant data: nothing here allocates or runs at static init.

#include <cstddef>

#include "platform/system.h"

namespace oxa {

// The Linux signs, each asked of the system at one path, in the order the
// probes may ask them: the processor's MIDR (the "cpu" probe, on arm64),
// the kernel's own view of its hypervisor (the "system" probe), the SMBIOS
// table and the device tree (the "firmware" probe; the tree where DMI is
// mute), the devices a hypervisor gives its guest, then the signs of a
// container or compatibility layer:
//   X(id, question, path)
#define OXA_LINUX_SIGNS(X)                                                                       \
  X(midr, read_sign, "/sys/devices/system/cpu/cpu0/regs/identification/midr_el1")                \
  X(hypervisor_type, read_sign, "/sys/hypervisor/type")                                          \
  X(xen_features, read_sign, "/sys/hypervisor/properties/features")                              \
  X(xen_capabilities, read_sign, "/proc/xen/capabilities")                                       \
  X(clock_source, read_sign, "/sys/devices/system/clocksource/clocksource0/current_clocksource") \
  X(vmbus_devices, path_kind, "/sys/bus/vmbus/devices")                                          \
  X(ptp0_clock, read_sign, "/sys/class/ptp/ptp0/clock_name")                                     \
  X(ptp1_clock, read_sign, "/sys/class/ptp/ptp1/clock_name")                                     \
  X(qemu_fw_cfg_rev, path_kind, "/sys/firmware/qemu_fw_cfg/rev")                                 \
  X(smbios_table, read_sign, "/sys/firmware/dmi/tables/DMI")                                     \
  X(device_tree_compatible, read_sign, "/sys/firmware/devicetree/base/compatible")               \
  X(device_tree_hypervisor, read_sign, "/sys/firmware/devicetree/base/hypervisor/compatible")    \
  X(pci_devices, read_sign, "/proc/bus/pci/devices")                                             \
  X(acpi_fadt, read_sign, "/sys/firmware/acpi/tables/FACP")                                      \
  X(acpi_waet, path_kind, "/sys/firmware/acpi/tables/WAET")                                      \
  X(input_devices, read_sign, "/proc/bus/input/devices")                                         \
  X(own_environment, environment, kOwnEnvironmentPath)                                           \
  X(systemd_container, read_sign, "/run/systemd/container")                                      \
  X(host_container_manager, read_sign, "/run/host/container-manager")                            \
  X(kubernetes_account, path_kind, "/var/run/secrets/kubernetes.io/serviceaccount")              \
  X(init_environment, environment, "/proc/1/environ")                                            \
  X(dockerenv, path_kind, "/.dockerenv")                                                         \
  X(containerenv, path_kind, "/run/.containerenv")                                               \
  X(flatpak_info, path_kind, "/.flatpak-info")                                                   \
  X(pid_namespace, read_link, "/proc/self/ns/pid")                                               \
  X(uts_namespace, read_link, "/proc/self/ns/uts")                                               \
  X(ipc_namespace, read_link, "/proc/self/ns/ipc")                                               \
  /* Asked only with a marker in a namespace of its own. A runtime's */                          \
  /* root (overlay, a bound directory, a layer id) in the runtimes' */                           \
  /* containers and LXC's dir backend; wrongly on ostree hosts without */                        \
  /* composefs and sandboxes that bind a copied tree as their root. Not */                       \
  /* on hosts, VMs, WSL 2, systemd's sandboxed services, unshare (root "/" */                    \
  /* on a device), bubblewrap (a tmpfs; Flatpak binds its marker in). */                         \
  X(marker_mounts, read_sign, "/proc/self/mountinfo")                                            \
  X(cgroup, read_sign, "/proc/self/cgroup")                                                      \
  X(containerenv_content, read_sign, "/run/.containerenv")                                       \
  X(openvz, path_kind, "/proc/vz")                                                               \
  X(openvz_host, path_kind, "/proc/bc")                                                          \
  X(lxd_socket, path_kind, "/dev/lxd/sock")                                                      \
  X(incus_socket, path_kind, "/dev/incus/sock")                                                  \
  /* Asked only with a socket: LXD and Incus bind their folder at */                             \
  /* /dev/lxd, /dev/incus into each container; their VMs' agent makes */                         \
  /* the socket on the VM's own /dev, with no mount there. */                                    \
  X(socket_pid_namespace, read_link, "/proc/self/ns/pid")                                        \
  X(socket_mounts, read_sign, "/proc/self/mountinfo")

enum class Sign : unsigned char {
#define OXA_LINUX_SIGN_ID(id, question, path) id,
  OXA_LINUX_SIGNS(OXA_LINUX_SIGN_ID)
#undef OXA_LINUX_SIGN_ID
};

struct SignInfo {
  const char* path;
  PathQuestion question;  // the system's method that asks it (platform/system.h)
};

inline constexpr SignInfo kSigns[] = {
#define OXA_LINUX_SIGN_INFO(id, question, path) {path, PathQuestion::question},
    OXA_LINUX_SIGNS(OXA_LINUX_SIGN_INFO)
#undef OXA_LINUX_SIGN_INFO
};

constexpr const char* sign_path(Sign sign) { return kSigns[static_cast<std::size_t>(sign)].path; }

}  // namespace oxa
