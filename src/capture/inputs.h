// SPDX-License-Identifier: MIT
#pragma once

// The questions one detection run asks of its layers, each described once:
// where a dump holds its answers, how a replay hands them out, and what the
// error says when a dump lacks one. The dump's JSON text, the replay layers
// and the missing-input text take all of it from here. The Linux questions
// about a path come from their table in platform/system.h, which also
// makes their records, recording, replay and dump text: a new one is a row
// there and its native answer. A new sign asked by one of them is a row of
// the sign table, platform/linux/signs.h, and nothing here.
//
// Plain constant data: nothing here allocates or runs at static init.

#include <cstddef>
#include <string_view>

#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::capture {

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
  X(pci_functions, "pci_functions")                      \
  /* a PCI function */                                   \
  X(vendor, "vendor")                                    \
  X(device, "device")                                    \
  X(subsystem_vendor, "subsystem_vendor")                \
  X(subsystem, "subsystem")                              \
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
// missing: what "dump has no ..." names. A dump without the PCI functions
// was taken before runs asked for them: its registry could not be asked,
// so they are never missing.
#define OXA_RUN_INPUTS(X)                                                                          \
  X(cpuid, cpuid, nullptr, leaf_subleaf, each_then_last, "cpuid entry", "CPUID leaf")              \
  X(kernel_flag, sysctl, nullptr, name, each_then_last, "sysctl entry", "sysctl read of")          \
  X(registry_device, registry, member::service, none, once, "registry", "registry service record") \
  X(registry_value, registry, member::properties, name, once, "registry property",                 \
    "read of registry property")                                                                   \
  X(pci_functions, registry, member::pci_functions, none, once, "PCI function", "PCI functions")   \
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

// The question of the run that answers a Linux path question.
constexpr Input input_of(PathQuestion question) {
  switch (question) {
#define OXA_PATH_QUESTION_INPUT_(method, Answer, answers, noun, most, ...) \
  case PathQuestion::method:                                               \
    return Input::method;
    OXA_LINUX_PATH_QUESTIONS(OXA_PATH_QUESTION_INPUT_)
#undef OXA_PATH_QUESTION_INPUT_
  }
  return Input::kernel_release;
}

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

}  // namespace oxa::capture
