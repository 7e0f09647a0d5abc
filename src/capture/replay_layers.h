// SPDX-License-Identifier: MIT
#pragma once

// The processor, system and registry a dump replays through: each answers
// only from what the dump recorded, by the playback rule of its question
// (inputs.h). The first input the run asks for that the dump lacks is kept
// as a MissingInput and ends the run (an exception the run turns into a
// status), so a replay never guesses.

#ifdef OXA_BUILDING_LIBRARY
#error "liboxa's exported run takes the native layers only; replay is for oxa-detect --replay and tests"
#endif

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/dump.h"
#include "capture/inputs.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::capture {

// The first input a run asked for and the dump does not hold, with the
// address of its question (inputs.h).
struct MissingInput {
  std::optional<Input> input;  // unset: nothing is missing
  std::uint32_t leaf = 0;      // leaf_subleaf
  std::uint32_t subleaf = 0;   // leaf_subleaf
  std::size_t position = 0;    // position: 1-based
  std::size_t held = 0;        // position: how many the dump holds
  std::string name{};          // name

  explicit operator bool() const noexcept { return input.has_value(); }
};

// "no CPUID leaf 0x1 sub-leaf 0" and the like, to follow "dump has".
std::string describe(const MissingInput& missing);

// Thrown when a replay layer meets a missing input; the input is in the
// MissingInput the layers share.
struct ReplayEnded {};

// What a dump recorded for one question at one address, handed out by the
// question's playback rule. Holds pointers into the dump.
template <Input I, class Answer>
class Answers {
 public:
  void add(const Answer& answer) { answers_.push_back(&answer); }

  // The answer to the next ask; null when the dump holds none for it.
  const Answer* next() noexcept {
    const std::size_t count = answers_.size();
    switch (info(I).playback) {
      case Playback::in_order:
        return next_ < count ? answers_[next_++] : nullptr;
      case Playback::each_then_last:
        if (count == 0) return nullptr;
        return answers_[next_ < count ? next_++ : count - 1];
      case Playback::once:
        return count == 0 ? nullptr : answers_.front();
    }
    return nullptr;
  }
  // The 1-based place of the ask next() last refused, and how many answers there are.
  [[nodiscard]] std::size_t position() const noexcept { return next_ + 1; }
  [[nodiscard]] std::size_t held() const noexcept { return answers_.size(); }

 private:
  std::vector<const Answer*> answers_;
  std::size_t next_ = 0;
};

// The answers of a question asked at many addresses, one Answers each.
template <Input I, class Key, class Answer>
using AnswersByAddress = std::map<Key, Answers<I, Answer>, std::less<>>;

class ReplayProcessor {
 public:
  ReplayProcessor(const Dump& dump, MissingInput& missing);

  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf);
  std::uint64_t rdtsc();
  void lfence() noexcept {}

 private:
  AnswersByAddress<Input::cpuid, std::pair<std::uint32_t, std::uint32_t>, CpuidRegisters> cpuid_;
  std::bitset<16> ranges_recorded_;  // by a leaf's top four bits
  Answers<Input::timestamp, std::uint64_t> timestamps_;
  MissingInput& missing_;
};

class ReplaySystem {
 public:
  ReplaySystem(const Dump& dump, MissingInput& missing);

  // A dump without the Linux signs is a Mac's.
  static constexpr Platform kPlatform = Platform::macos;

#define OXA_REPLAY_FLAG_(method, flag_name) \
  std::optional<std::int32_t> method() { return flag(flag_name); }
  OXA_KERNEL_FLAGS(OXA_REPLAY_FLAG_)
#undef OXA_REPLAY_FLAG_
  std::int64_t steady_ns();
  void* allocate(std::size_t size) noexcept;

 protected:
  MissingInput& missing_;

 private:
  std::optional<std::int32_t> flag(const char* name);

  AnswersByAddress<Input::kernel_flag, std::string, SysctlRecord> flags_;
  Answers<Input::clock_reading, std::int64_t> clock_;
};

// The system of a dump that holds the Linux signs.
class ReplayLinuxSystem : public ReplaySystem {
 public:
  ReplayLinuxSystem(const Dump& dump, const LinuxRecord& signs, MissingInput& missing);

  // A dump with the Linux signs is a Linux system's, whatever its base says.
  // cppcheck-suppress duplInheritedMember
  static constexpr Platform kPlatform = Platform::linux_os;

#define OXA_REPLAYED_QUESTION_(method, Answer, answers, noun, most, ...) Answer method(const char* path);
  OXA_LINUX_PATH_QUESTIONS(OXA_REPLAYED_QUESTION_)
#undef OXA_REPLAYED_QUESTION_
  std::optional<std::string> kernel_release();

 private:
#define OXA_REPLAYED_ANSWERS_(method, Answer, answers, noun, most, ...) \
  AnswersByAddress<Input::method, std::string, PathAnswer<Answer>> answers##_;
  OXA_LINUX_PATH_QUESTIONS(OXA_REPLAYED_ANSWERS_)
#undef OXA_REPLAYED_ANSWERS_
  bool documented_;
  Answers<Input::kernel_release, std::optional<std::string>> release_;
};

class ReplayRegistry {
 public:
  class Value {
   public:
    explicit Value(const RegistryValue& value) noexcept : value_(value) {}
    [[nodiscard]] RegistryValue get() const noexcept { return value_; }

   private:
    RegistryValue value_;
  };

  using Properties = AnswersByAddress<Input::registry_value, RegistryKey, PropertyRecord>;

  class Device {
   public:
    Device(Properties* properties, MissingInput& missing) noexcept
        : properties_(properties), missing_(missing) {}
    explicit operator bool() const noexcept { return properties_ != nullptr; }
    [[nodiscard]] Value read(RegistryKey key) const;

   private:
    Properties* properties_;  // null: no device
    MissingInput& missing_;
  };

  ReplayRegistry(const Dump& dump, MissingInput& missing);

  [[nodiscard]] Device platform_device();
  [[nodiscard]] std::optional<PciFunctions> pci_functions() noexcept;

 private:
  Answers<Input::registry_device, bool> service_;
  Properties properties_;
  Answers<Input::pci_functions, std::optional<PciFunctions>> pci_functions_;
  MissingInput& missing_;
};

static_assert(CpuidProcessor<ReplayProcessor>);
static_assert(System<ReplaySystem> && !LinuxSystem<ReplaySystem>);
static_assert(LinuxSystem<ReplayLinuxSystem>);
static_assert(Registry<ReplayRegistry> && PciRegistry<ReplayRegistry>);

}  // namespace oxa::capture
