// SPDX-License-Identifier: MIT
#pragma once

// The questions one detection run asks of its layers, each described once:
// where a dump holds its answers, how a replay hands them out, and what the
// error says when a dump lacks one. The dump's JSON text, the replay layers
// and the missing-input text take all of it from here. The Linux questions
// about a path come from their table in platform/system.h, which also
// makes their records, recording, replay and dump text: a new one is a row
// there and its native answer. A new sign asked by one of them is a row of
// OXA_LINUX_SIGNS below.
//
// Plain constant data: nothing here allocates or runs at static init.

#include <cstddef>
#include <string_view>

#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::inputs {

// Every member name a dump has, once. The writer writes only these and the
// reader keeps only these, dropping any other member unread; "linux" is
// spelled out because the identifier is a macro in GNU modes.
#define OXA_DUMP_MEMBERS(X)                              \
  /* the document */                                     \
  X(dump_version, "dump_version")                        \
  X(architecture, "architecture")                        \
  X(cpuid, "cpuid")                                      \
  X(sysctl, "sysctl")                                    \
  X(registry, "registry")                                \
  X(timing, "timing")                                    \
  X(clock_ns, "clock_ns")                                \
  X(linux_signs, "linux")                                \
  X(report, "report")                                    \
  /* a CPUID execution */                                \
  X(leaf, "leaf")                                        \
  X(subleaf, "subleaf")                                  \
  X(eax, "eax")                                          \
  X(ebx, "ebx")                                          \
  X(ecx, "ecx")                                          \
  X(edx, "edx")                                          \
  /* a kernel flag read */                               \
  X(name, "name")                                        \
  X(read, "read")                                        \
  X(value, "value")                                      \
  /* the registry */                                     \
  X(service, "service")                                  \
  X(properties, "properties")                            \
  X(key, "key")                                          \
  X(kind, "kind")                                        \
  X(converted, "converted")                              \
  X(length, "length")                                    \
  X(hex, "hex")                                          \
  /* the timestamps and the record they gave */          \
  X(samples, "samples")                                  \
  X(record, "record")                                    \
  X(available, "available")                              \
  X(valid, "valid")                                      \
  X(cycles_over_baseline, "cycles_over_baseline")        \
  /* the Linux signs */                                  \
  OXA_LINUX_PATH_QUESTIONS(OXA_LINUX_ANSWERS_MEMBER_, X) \
  X(path, "path")                                        \
  X(kernel_release, "kernel_release")                    \
  X(documented, "documented")
#define OXA_LINUX_ANSWERS_MEMBER_(method, Answer, answers, noun, most, X) X(answers, #answers)

namespace member {
#define OXA_DUMP_MEMBER_NAME(id, text) inline constexpr char id[] = text;
OXA_DUMP_MEMBERS(OXA_DUMP_MEMBER_NAME)
#undef OXA_DUMP_MEMBER_NAME
}  // namespace member

inline constexpr const char* kDumpMembers[] = {
#define OXA_DUMP_MEMBER_TEXT(id, text) member::id,
    OXA_DUMP_MEMBERS(OXA_DUMP_MEMBER_TEXT)
#undef OXA_DUMP_MEMBER_TEXT
};

// How a replay hands out the answers a dump recorded for one question.
enum class Playback : unsigned char {
  in_order,        // one after another, each once
  each_then_last,  // per address, the n-th ask gets the n-th answer and the last repeats
  once,            // per address one answer, given to every ask; a dump holds it once
};

// What tells one ask of a question from another, as the error names it.
enum class Address : unsigned char {
  none,          // one answer for the whole run
  leaf_subleaf,  // "0x1 sub-leaf 0"
  position,      // "3 (it holds 2)": the ask's place in the run, 1-based
  name,          // "'/proc/vz'": a flag's, a registry key's or a path's name
};

// The questions, in the order their answers stand in a dump:
//   X(id, section, member, address, playback, entry, missing)
// section and member: where the answers are (member null: the section is
// the list of them); entry: what the reader calls one record in its errors;
// missing: what "dump has no ..." names.
#define OXA_RUN_INPUTS(X)                                                                          \
  X(cpuid, cpuid, nullptr, leaf_subleaf, each_then_last, "cpuid entry", "CPUID leaf")              \
  X(kernel_flag, sysctl, nullptr, name, each_then_last, "sysctl entry", "sysctl read of")          \
  X(registry_device, registry, member::service, none, once, "registry", "registry service record") \
  X(registry_value, registry, member::properties, name, once, "registry property",                 \
    "read of registry property")                                                                   \
  X(timestamp, timing, member::samples, position, in_order, "timing sample", "timestamp")          \
  X(clock_reading, clock_ns, nullptr, position, in_order, "clock reading", "clock reading")        \
  OXA_LINUX_PATH_QUESTIONS(OXA_LINUX_RUN_INPUT_, X)                                                \
  X(kernel_release, linux_signs, member::kernel_release, none, once, "linux kernel release",       \
    "linux kernel release")

// Each Linux path question, asked by name, its answers given once.
#define OXA_LINUX_RUN_INPUT_(method, Answer, answers, noun, most, X) \
  X(method, linux_signs, member::answers, name, once, noun, noun)

enum class Input : unsigned char {
#define OXA_RUN_INPUT_ID(id, section, inner, address, playback, entry, missing) id,
  OXA_RUN_INPUTS(OXA_RUN_INPUT_ID)
#undef OXA_RUN_INPUT_ID
};

struct InputInfo {
  const char* section;  // a member of the document
  const char* member;   // a member of the section, or null
  std::string_view entry;
  std::string_view missing;
  Address address;
  Playback playback;
};

inline constexpr InputInfo kInputs[] = {
#define OXA_RUN_INPUT_INFO(id, section, inner, address, playback, entry, missing) \
  {member::section, inner, entry, missing, Address::address, Playback::playback},
    OXA_RUN_INPUTS(OXA_RUN_INPUT_INFO)
#undef OXA_RUN_INPUT_INFO
};

constexpr const InputInfo& info(Input input) { return kInputs[static_cast<std::size_t>(input)]; }

// The Linux signs, each asked of the system at one path, in the order the
// probes may ask them: the processor's MIDR (the "cpu" probe, on arm64),
// the kernel's own view of its hypervisor (the "system" probe), the device
// tree (the "firmware" probe, where DMI is mute), then the signs of a
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
  X(device_tree_compatible, read_sign, "/sys/firmware/devicetree/base/compatible")               \
  X(device_tree_hypervisor, read_sign, "/sys/firmware/devicetree/base/hypervisor/compatible")    \
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
  Input question;  // the system's method that asks it (platform/system.h)
};

inline constexpr SignInfo kSigns[] = {
#define OXA_LINUX_SIGN_INFO(id, question, path) {path, Input::question},
    OXA_LINUX_SIGNS(OXA_LINUX_SIGN_INFO)
#undef OXA_LINUX_SIGN_INFO
};

constexpr const char* sign_path(Sign sign) { return kSigns[static_cast<std::size_t>(sign)].path; }

// The words a dump writes for the kinds of answer.
constexpr std::string_view value_kind_name(ValueKind kind) {
  switch (kind) {
    case ValueKind::absent:
      return "absent";
    case ValueKind::string:
      return "string";
    case ValueKind::data:
      return "data";
    case ValueKind::other:
      break;
  }
  return "other";
}

inline constexpr Architecture kArchitectures[] = {Architecture::x86_64, Architecture::arm64};

// A dump without the member is of x86-64, the one architecture before arm64.
constexpr std::string_view architecture_name(Architecture architecture) {
  return architecture == Architecture::arm64 ? "arm64" : "x86_64";
}

inline constexpr PathKind kPathKinds[] = {PathKind::absent, PathKind::file, PathKind::folder,
                                          PathKind::other};

constexpr std::string_view path_kind_name(PathKind kind) {
  switch (kind) {
    case PathKind::absent:
      return "absent";
    case PathKind::file:
      return "file";
    case PathKind::folder:
      return "folder";
    case PathKind::other:
      break;
  }
  return "other";
}

}  // namespace oxa::inputs
