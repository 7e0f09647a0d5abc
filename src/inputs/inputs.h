// SPDX-License-Identifier: MIT
#pragma once

// The questions one detection run asks of its layers, each described once:
// where a dump holds its answers, how a replay hands them out, and what the
// error says when a dump lacks one. The dump's JSON text, the replay layers
// and the missing-input text take all of it from here, so a new question is
// a row below, its record in the dump and its answer in each layer.
//
// Plain constant data: nothing here allocates or runs at static init.

#include <cstddef>
#include <string_view>

#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::inputs {

// Every member name a dump has, once. The writer writes only these and the
// reader keeps only these, dropping any other member unread; "linux" is
// spelled out because the identifier is a macro in GNU modes.
#define OXA_DUMP_MEMBERS(X)                       \
  /* the document */                              \
  X(dump_version, "dump_version")                 \
  X(cpuid, "cpuid")                               \
  X(sysctl, "sysctl")                             \
  X(registry, "registry")                         \
  X(timing, "timing")                             \
  X(clock_ns, "clock_ns")                         \
  X(linux_signs, "linux")                         \
  X(report, "report")                             \
  /* a CPUID execution */                         \
  X(leaf, "leaf")                                 \
  X(subleaf, "subleaf")                           \
  X(eax, "eax")                                   \
  X(ebx, "ebx")                                   \
  X(ecx, "ecx")                                   \
  X(edx, "edx")                                   \
  /* a kernel flag read */                        \
  X(name, "name")                                 \
  X(read, "read")                                 \
  X(value, "value")                               \
  /* the registry */                              \
  X(service, "service")                           \
  X(properties, "properties")                     \
  X(key, "key")                                   \
  X(kind, "kind")                                 \
  X(converted, "converted")                       \
  X(length, "length")                             \
  X(hex, "hex")                                   \
  /* the timestamps and the record they gave */   \
  X(samples, "samples")                           \
  X(record, "record")                             \
  X(available, "available")                       \
  X(valid, "valid")                               \
  X(cycles_over_baseline, "cycles_over_baseline") \
  /* the Linux signs */                           \
  X(paths, "paths")                               \
  X(files, "files")                               \
  X(links, "links")                               \
  X(environments, "environments")                 \
  X(path, "path")                                 \
  X(kernel_release, "kernel_release")

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
  X(linux_path, linux_signs, member::paths, name, once, "linux path", "linux path")                \
  X(linux_file, linux_signs, member::files, name, once, "linux file", "linux file")                \
  X(linux_link, linux_signs, member::links, name, once, "linux link", "linux link")                \
  X(linux_environment, linux_signs, member::environments, name, once, "linux environment",         \
    "linux environment")                                                                           \
  X(kernel_release, linux_signs, member::kernel_release, none, once, "linux kernel release",       \
    "linux kernel release")

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

// The Linux signs of a container or compatibility layer, each asked of the
// system at one path, in the order the container probe may ask them:
//   X(id, question, path)
#define OXA_LINUX_SIGNS(X)                                                           \
  X(own_environment, linux_environment, kOwnEnvironmentPath)                         \
  X(systemd_container, linux_file, "/run/systemd/container")                         \
  X(host_container_manager, linux_file, "/run/host/container-manager")               \
  X(kubernetes_account, linux_path, "/var/run/secrets/kubernetes.io/serviceaccount") \
  X(init_environment, linux_environment, "/proc/1/environ")                          \
  X(dockerenv, linux_path, "/.dockerenv")                                            \
  X(containerenv, linux_path, "/run/.containerenv")                                  \
  X(flatpak_info, linux_path, "/.flatpak-info")                                      \
  X(pid_namespace, linux_link, "/proc/self/ns/pid")                                  \
  X(uts_namespace, linux_link, "/proc/self/ns/uts")                                  \
  X(ipc_namespace, linux_link, "/proc/self/ns/ipc")                                  \
  X(cgroup, linux_file, "/proc/self/cgroup")                                         \
  X(containerenv_content, linux_file, "/run/.containerenv")                          \
  X(openvz, linux_path, "/proc/vz")                                                  \
  X(openvz_host, linux_path, "/proc/bc")                                             \
  X(lxd_socket, linux_path, "/dev/lxd/sock")                                         \
  X(incus_socket, linux_path, "/dev/incus/sock")

enum class Sign : unsigned char {
#define OXA_LINUX_SIGN_ID(id, question, path) id,
  OXA_LINUX_SIGNS(OXA_LINUX_SIGN_ID)
#undef OXA_LINUX_SIGN_ID
};

struct SignInfo {
  const char* path;
  Input question;  // linux_path: what stands there; linux_file: what it holds;
                   // linux_link: where it points; linux_environment: its variables
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
