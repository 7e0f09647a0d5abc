#pragma once

// The processor, system and registry a dump replays through: each answers
// only from what the dump recorded. The first input the run asks for that
// the dump lacks is kept as a MissingInput and ends the run (an exception
// the run turns into a status), so a replay never guesses.
//
// Playback: the n-th CPUID execution of a (leaf, sub-leaf) gets its n-th
// record and the n-th read of a sysctl name its n-th outcome, the last one
// repeating; timestamps and clock readings are handed out in order.

#ifdef OXA_BUILDING_LIBRARY
#error "liboxa's exported run takes the native layers only; replay is for oxa-detect --replay and tests"
#endif

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "inputs/dump.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::inputs {

// The first input a run asked for and the dump does not hold.
struct MissingInput {
  enum class Kind {
    none,
    cpuid,
    timestamp,
    sysctl,
    clock_reading,
    registry_device,
    registry_property,
    linux_path,
    linux_file,
    kernel_release
  };
  Kind kind = Kind::none;
  std::uint32_t leaf = 0;                       // cpuid
  std::uint32_t subleaf = 0;                    // cpuid
  std::size_t position = 0;                     // timestamp, clock_reading: 1-based
  std::size_t held = 0;                         // timestamp, clock_reading: how many the dump holds
  std::string name{};                           // sysctl, linux_path, linux_file
  RegistryKey key = RegistryKey::manufacturer;  // registry_property

  explicit operator bool() const noexcept { return kind != Kind::none; }
};

// "no CPUID leaf 0x1 sub-leaf 0" and the like, to follow "dump has".
std::string describe(const MissingInput& missing);

// Thrown when a replay layer meets a missing input; the input is in the
// MissingInput the layers share.
struct ReplayEnded {};

class ReplayProcessor {
 public:
  ReplayProcessor(const Dump& dump, MissingInput& missing);

  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf);
  std::uint64_t rdtsc();
  void lfence() noexcept {}

 private:
  struct Answers {
    std::vector<CpuidRegisters> answers;
    std::size_t next = 0;
  };
  std::map<std::pair<std::uint32_t, std::uint32_t>, Answers> cpuid_;
  const std::vector<std::uint64_t>& timestamps_;
  std::size_t next_timestamp_ = 0;
  MissingInput& missing_;
};

class ReplaySystem {
 public:
  ReplaySystem(const Dump& dump, MissingInput& missing);

  std::optional<std::int32_t> hypervisor_flag() { return flag(kHypervisorFlagName); }
  std::optional<std::int32_t> translated_flag() { return flag(kTranslatedFlagName); }
  std::int64_t steady_ns();
  void* allocate(std::size_t size) noexcept;

 protected:
  MissingInput& missing_;

 private:
  std::optional<std::int32_t> flag(const char* name);

  struct Outcomes {
    std::vector<const SysctlRecord*> outcomes;
    std::size_t next = 0;
  };
  std::map<std::string, Outcomes, std::less<>> sysctl_;
  const std::vector<std::int64_t>& clock_;
  std::size_t next_reading_ = 0;
};

// The system of a dump that holds the Linux signs.
class ReplayLinuxSystem : public ReplaySystem {
 public:
  ReplayLinuxSystem(const Dump& dump, const LinuxRecord& signs, MissingInput& missing)
      : ReplaySystem(dump, missing), signs_(signs) {}

  PathKind path_kind(const char* path);
  std::optional<std::string> read_sign(const char* path);
  std::optional<std::string> kernel_release();

 private:
  const LinuxRecord& signs_;
};

class ReplayRegistry {
 public:
  class Value {
   public:
    explicit Value(RegistryValue value) noexcept : value_(value) {}
    [[nodiscard]] RegistryValue get() const noexcept { return value_; }

   private:
    RegistryValue value_;
  };

  class Device {
   public:
    Device(const Dump* dump, MissingInput& missing) noexcept : dump_(dump), missing_(missing) {}
    explicit operator bool() const noexcept { return dump_ != nullptr; }
    [[nodiscard]] Value read(RegistryKey key) const;

   private:
    const Dump* dump_;  // null: no device
    MissingInput& missing_;
  };

  ReplayRegistry(const Dump& dump, MissingInput& missing) noexcept : dump_(dump), missing_(missing) {}

  [[nodiscard]] Device platform_device();

 private:
  const Dump& dump_;
  MissingInput& missing_;
};

static_assert(CpuidProcessor<ReplayProcessor>);
static_assert(System<ReplaySystem> && !LinuxSystem<ReplaySystem>);
static_assert(LinuxSystem<ReplayLinuxSystem>);
static_assert(Registry<ReplayRegistry>);

}  // namespace oxa::inputs
