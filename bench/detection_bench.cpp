// SPDX-License-Identifier: MIT
// What one detection costs, against the floor it cannot beat in this
// environment: the same CPUID exits, fenced timestamps and system calls, with
// nothing between them (native_floor.h). Goal: run_over_floor at most 1.05.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

#include "api/detection_run.h"
#include "capture/recording_layers.h"
#include "core/json_report.h"
#include "native_floor.h"
#include "oxa.h"
#include "platform/native.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace {

// The native registry where it lists the PCI functions (IOKit's) or the
// run asks it for none (Linux's plan); for the macOS plan over a registry
// that lists none (Linux's DMI), one that cannot be asked for them.
class RegistryWithoutPci : public oxa::NativeRegistry {
 public:
  static std::optional<oxa::PciFunctions> pci_functions() noexcept { return std::nullopt; }
};
template <typename System>
using RegistryOf = std::conditional_t<oxa::LinuxSystem<System> || oxa::PciRegistry<oxa::NativeRegistry>,
                                      oxa::NativeRegistry, RegistryWithoutPci>;

// What one run of the native layers read here.
template <typename System>
oxa::capture::Dump inputs_of_one_run() {
  oxa::NativeProcessor processor;
  System system;
  RegistryOf<System> registry;
  return oxa::capture::capture(processor, system, registry).dump;
}

void BM_DetectionRun(benchmark::State& state) {
  for (auto _ : state) {
    char* document = nullptr;
    if (oxa_detect_json(&document) != OXA_OK) state.SkipWithError("detection failed");
    benchmark::DoNotOptimize(document);
    oxa_free(document);
  }
}
BENCHMARK(BM_DetectionRun);

void BM_CpuidFloor(benchmark::State& state) {
  const auto cpuid = inputs_of_one_run<oxa::NativeSystem>().cpuid;
  oxa::NativeProcessor processor;
  for (auto _ : state) {
    for (const auto& r : cpuid) benchmark::DoNotOptimize(processor.cpuid(r.leaf, r.subleaf));
  }
  state.counters["cpuid_per_run"] = static_cast<double>(cpuid.size());
}
BENCHMARK(BM_CpuidFloor);

// The native system with the Linux signs turned off: what the other probes
// cost on their own.
class SystemWithoutLinuxSigns {
 public:
  static constexpr oxa::Platform kPlatform = oxa::Platform::macos;
  std::optional<std::int32_t> hypervisor_flag() noexcept { return native_.hypervisor_flag(); }
  std::optional<std::int32_t> translated_flag() noexcept { return native_.translated_flag(); }
  std::int64_t steady_ns() noexcept { return native_.steady_ns(); }
  void* allocate(std::size_t size) noexcept { return native_.allocate(size); }

 private:
  oxa::NativeSystem native_;
};
static_assert(!oxa::LinuxSystem<SystemWithoutLinuxSigns>);

// Runs and floors alternate, so drift in what the hypervisor charges for a
// CPUID exit hits both sides alike; the ratios are counters, and so is what
// a run spends beyond the floor. cpuid_over_floor is the CPUID exits alone
// against the whole floor: how much of it the system calls are not.
template <typename System>
void BM_RunOverFloor(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const oxa::capture::Dump inputs = inputs_of_one_run<System>();
  oxa::NativeProcessor processor;
  System system;
  RegistryOf<System> registry;
  Clock::duration run{};
  Clock::duration floor{};
  Clock::duration cpuid{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    char* document = nullptr;
    if (oxa::detect_json(&document, processor, system, registry) != OXA_OK) {
      state.SkipWithError("detection failed");
    }
    std::free(document);
    const auto t1 = Clock::now();
    oxa::bench::ask_again(inputs, processor, system, registry);
    const auto t2 = Clock::now();
    for (const auto& r : inputs.cpuid) benchmark::DoNotOptimize(processor.cpuid(r.leaf, r.subleaf));
    const auto t3 = Clock::now();
    run += t1 - t0;
    floor += t2 - t1;
    cpuid += t3 - t2;
  }
  const auto ratio = [](Clock::duration a, Clock::duration b) {
    return b.count() > 0 ? static_cast<double>(a.count()) / static_cast<double>(b.count()) : 0.0;
  };
  state.counters["run_over_floor"] = ratio(run, floor);
  state.counters["cpuid_over_floor"] = ratio(cpuid, floor);
  state.counters["us_over_floor"] = std::chrono::duration<double, std::micro>(run - floor).count() /
                                    static_cast<double>(state.iterations());
}
BENCHMARK_TEMPLATE(BM_RunOverFloor, oxa::NativeSystem);
BENCHMARK_TEMPLATE(BM_RunOverFloor, SystemWithoutLinuxSigns);

// The Linux container and compatibility signs alone: a handful of small
// reads, next to the CPUID exits of a run.
void BM_LinuxSigns(benchmark::State& state) {
  oxa::NativeSystem system;
  for (auto _ : state) benchmark::DoNotOptimize(oxa::read_linux_signs(system));
}
BENCHMARK(BM_LinuxSigns);

void BM_ToJson(benchmark::State& state) {
  oxa::Result result;
  result.probe("cpu", "ok");
  result.add("cpu", "guest", "kvm", 95, "KVMKVMKVM");
  result.probe("system", "unavailable");
  result.add("firmware", "guest", "qemu", 85, "qemu");
  result.add("firmware", "cloud", "aws", 0, "amazon ec2");
  result.probe("firmware", "ok");
  result.probe("timing", "ok");
  result.add("timing", "diagnostic", "unknown", 0, "cpuid 182 cycles over baseline (threshold 1000)");
  for (auto _ : state) benchmark::DoNotOptimize(oxa::to_json(result, 1234));
}
BENCHMARK(BM_ToJson);

}  // namespace

BENCHMARK_MAIN();
