// SPDX-License-Identifier: MIT
#pragma once

// A capture of every raw input one detection run read: CPUID executions,
// kernel flag reads, the platform registry, the timestamps, the clock, on
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

namespace oxa::inputs {

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

struct PathRecord {
  std::string path;
  PathKind kind = PathKind::absent;
};

// A text the system answered for a path: a file's bytes, a link's target,
// an environment's variables.
struct SignFileRecord {
  std::string path;
  std::optional<std::string> bytes;  // unset: it could not be read
};

// The Linux signs a run asked for, each path once per question.
struct LinuxRecord {
  std::vector<PathRecord> paths;             // what stands there
  std::vector<SignFileRecord> files;         // what they hold
  std::vector<SignFileRecord> links;         // where they point
  std::vector<SignFileRecord> environments;  // the variables they set
  bool release_asked = false;
  std::optional<std::string> kernel_release;  // when asked: unset if unknown
};

struct Dump {
  std::vector<CpuidRecord> cpuid;          // in execution order
  std::vector<SysctlRecord> sysctl;        // in read order
  std::optional<bool> service;             // whether the platform device was found; unset: never asked
  std::vector<PropertyRecord> properties;  // in read order
  std::vector<std::uint64_t> timestamps;   // every RDTSC, in order
  std::optional<Timing> timing;            // the record the timestamps gave
  std::vector<std::int64_t> clock;         // steady clock readings, in ns
  std::optional<LinuxRecord> linux_signs;  // unset: the system had none (macOS)
  std::optional<std::string> report;
};

}  // namespace oxa::inputs
