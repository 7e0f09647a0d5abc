// SPDX-License-Identifier: MIT
#pragma once

// Recording layers for `oxa-detect --dump`: each wraps a processor, system or
// registry layer, passes every call through unchanged and notes what the run
// read into a Dump. They may allocate and throw, so only a capture uses
// them; the exported run never does (see the check below).

#ifdef OXA_BUILDING_LIBRARY
#error "liboxa's exported run takes the native layers only; recording is for oxa-detect --dump"
#endif

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/detection_run.h"
#include "capture/dump.h"
#include "capture/dump_replay.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa::capture {

template <CpuidProcessor Inner>
class RecordingProcessor {
 public:
  RecordingProcessor(Inner& inner, Dump& dump) : inner_(inner), dump_(dump) {}

  [[gnu::always_inline]] CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    const CpuidRegisters regs = inner_.cpuid(leaf, subleaf);
    dump_.cpuid.push_back({leaf, subleaf, regs});
    return regs;
  }
  [[gnu::always_inline]] std::uint64_t rdtsc() {
    const std::uint64_t ticks = inner_.rdtsc();
    dump_.timestamps.push_back(ticks);
    return ticks;
  }
  [[gnu::always_inline]] void lfence() { inner_.lfence(); }

 private:
  Inner& inner_;
  Dump& dump_;
};

template <System Inner>
class RecordingSystem {
 public:
  RecordingSystem(Inner& inner, Dump& dump) : inner_(inner), dump_(dump) {}

  static constexpr Platform kPlatform = Inner::kPlatform;

#define OXA_RECORD_FLAG_(method, flag_name) \
  std::optional<std::int32_t> method() { return note(flag_name, inner_.method()); }
  OXA_KERNEL_FLAGS(OXA_RECORD_FLAG_)
#undef OXA_RECORD_FLAG_
  std::int64_t steady_ns() {
    const std::int64_t now = inner_.steady_ns();
    dump_.clock.push_back(now);
    return now;
  }
  void* allocate(std::size_t size) { return inner_.allocate(size); }

  // The Linux signs, where the inner system shows them.
#define OXA_RECORDED_QUESTION_(method, Answer, answers, noun, most, ...) \
  Answer method(const char* path) requires LinuxSystem<Inner> {          \
    Answer answer = inner_.method(path);                                 \
    signs().answers.push_back({path, answer});                           \
    return answer;                                                       \
  }
  OXA_LINUX_PATH_QUESTIONS(OXA_RECORDED_QUESTION_)
#undef OXA_RECORDED_QUESTION_
  std::optional<std::string> kernel_release() requires LinuxSystem<Inner> {
    std::optional<std::string> release = inner_.kernel_release();
    signs().release_asked = true;
    signs().kernel_release = release;
    return release;
  }

 private:
  std::optional<std::int32_t> note(const char* name, std::optional<std::int32_t> flag) {
    dump_.sysctl.push_back({name, flag.has_value(), flag.value_or(0)});
    return flag;
  }
  LinuxRecord& signs() {
    if (!dump_.linux_signs) dump_.linux_signs.emplace();
    return *dump_.linux_signs;
  }

  Inner& inner_;
  Dump& dump_;
};

template <Registry Inner>
class RecordingRegistry {
  using InnerDevice = decltype(std::declval<Inner&>().platform_device());
  using InnerValue = decltype(std::declval<const InnerDevice&>().read(RegistryKey{}));

 public:
  // The inner value, noted once it is read. Noting may throw; the inner
  // value is a member by then and is released all the same.
  class Value {
   public:
    Value(const InnerDevice& device, RegistryKey key, Dump& dump) : inner_(device.read(key)) {
      const RegistryValue v = inner_.get();
      PropertyRecord p;
      p.key = key;
      p.kind = v.kind;
      p.converted = v.kind == ValueKind::string && v.readable;
      p.length = v.data_length;
      p.has_bytes = v.readable;
      if (v.readable) p.bytes.assign(v.text);
      dump.properties.push_back(std::move(p));
    }
    [[nodiscard]] RegistryValue get() const noexcept { return inner_.get(); }

   private:
    InnerValue inner_;
  };

  class Device {
   public:
    Device(Inner& inner, Dump& dump) noexcept : inner_(inner.platform_device()), dump_(dump) {
      dump.service = static_cast<bool>(inner_);
    }
    explicit operator bool() const noexcept { return static_cast<bool>(inner_); }
    [[nodiscard]] Value read(RegistryKey key) const { return {inner_, key, dump_}; }

   private:
    InnerDevice inner_;
    Dump& dump_;
  };

  RecordingRegistry(Inner& inner, Dump& dump) : inner_(inner), dump_(dump) {}

  [[nodiscard]] Device platform_device() { return {inner_, dump_}; }

  // The PCI functions, where the inner registry lists them.
  [[nodiscard]] std::optional<PciFunctions> pci_functions() requires PciRegistry<Inner> {
    std::optional<PciFunctions> functions = inner_.pci_functions();
    dump_.pci_asked = true;
    dump_.pci_functions = functions;
    return functions;
  }

 private:
  Inner& inner_;
  Dump& dump_;
};

struct Capture {
  Run run;
  Dump dump;  // with the run's report and timing record
};

// One detection run over the given layers, recording what it read. Throws
// what the run throws.
template <Processor P, System S, Registry R>
Capture capture(P& processor, S& system, R& registry) {
  Capture c;
  c.dump.architecture = kArchitectureOf<P>;
  // Room for everything one run reads, so the timing loop does not allocate.
  constexpr auto kSamples = static_cast<std::size_t>(kTimingSamples);
  c.dump.cpuid.reserve(kSamples + 16);
  c.dump.timestamps.reserve(4 * kSamples);
  c.dump.sysctl.reserve(4);
  c.dump.properties.reserve(4);
  c.dump.clock.reserve(4);
  RecordingSystem<S> s(system, c.dump);
  RecordingRegistry<R> r(registry, c.dump);
  if constexpr (CpuidProcessor<P>) {
    RecordingProcessor<P> p(processor, c.dump);
    c.run = run_detection(p, s, r);
  } else {
    c.run = run_detection(processor, s, r);
  }
  c.dump.report = to_json(c.run.result, c.run.duration_us);
  c.dump.timing = replay_timing(c.dump);
  return c;
}

}  // namespace oxa::capture
