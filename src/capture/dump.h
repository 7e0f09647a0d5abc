// SPDX-License-Identifier: MIT
#pragma once

// A capture of every raw input one detection run read: CPUID executions,
// kernel flag reads, the platform registry and its PCI functions, the
// timestamps, the clock, on
// Linux the signs of a container or compatibility layer, and the report the
// run produced. The recording layers fill it, the replay layers answer from
// it; the tool writes and reads it as JSON (tool/dump_format.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "probes/timing_probe.h"

namespace oxa::capture {

inline constexpr std::int64_t kDumpVersion = 1;

struct CpuidRecord {
  std::uint32_t leaf = 0;
  std::uint32_t subleaf = 0;
  CpuidRegisters regs;
};

struct SysctlRecord {
  std::string name;
  bool read = false;  // the call succeeded
  std::int32_t value = 0;
};

struct PropertyRecord {
  RegistryKey key = RegistryKey::manufacturer;
  ValueKind kind = ValueKind::absent;
  bool converted = false;   // string: the UTF-8 conversion succeeded
  bool has_bytes = false;   // string: converted; data: its bytes were read
  std::string bytes;        // string: up to its NUL; data: all of them
  std::int64_t length = 0;  // data: the length the registry reported
};

// What the system answered for one path.
template <class Answer>
struct PathAnswer {
  std::string path;
  Answer answer{};  // a text's unset: it could not be read
};

// The Linux signs a run asked for: per question, each path once, in the
// order asked. A capture holds every answer the run got; a dump written by
// hand from a machine's documented layout lists only the signs that machine
// shows, so a sign added later needs no new line in it.
struct LinuxRecord {
  bool documented = false;  // a path not listed is absent: nothing stands there

#define OXA_LINUX_RECORD_FIELD_(method, Answer, answers, noun, most, ...) \
  std::vector<PathAnswer<Answer>> answers;
  OXA_LINUX_PATH_QUESTIONS(OXA_LINUX_RECORD_FIELD_)
#undef OXA_LINUX_RECORD_FIELD_
  bool release_asked = false;
  std::optional<std::string> kernel_release;  // when asked: unset if unknown
};

struct Dump {
  Architecture architecture = Architecture::x86_64;  // the processor the run asked
  std::vector<CpuidRecord> cpuid;                    // in execution order
  std::vector<SysctlRecord> sysctl;                  // in read order
  std::optional<bool> service;                // whether the platform device was found; unset: never asked
  std::vector<PropertyRecord> properties;     // in read order
  bool pci_asked = false;                     // whether the run asked for the PCI functions
  std::optional<PciFunctions> pci_functions;  // when asked: unset where the registry could not be
  std::vector<std::uint64_t> timestamps;      // every RDTSC, in order
  std::optional<Timing> timing;               // the record the timestamps gave
  std::vector<std::int64_t> clock;            // steady clock readings, in ns
  std::optional<LinuxRecord> linux_signs;     // unset: the system had none (macOS)
  std::optional<std::string> report;
};

}  // namespace oxa::capture
