// SPDX-License-Identifier: MIT
// What one detection costs, against the floor it cannot beat: the CPUID
// instructions it executes, back to back. Goal: run_over_floor at most 1.05.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "api/detection_run.h"
#include "core/json_report.h"
#include "oxa.h"
#include "platform/native.h"
#include "platform/processor.h"
#include "platform/system.h"

namespace {

// The native processor, with every CPUID execution logged.
class CountingProcessor {
 public:
  oxa::CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    leaves.emplace_back(leaf, subleaf);
    return native.cpuid(leaf, subleaf);
  }
  std::uint64_t rdtsc() { return native.rdtsc(); }
  void lfence() { native.lfence(); }

  oxa::NativeProcessor native;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> leaves;
};

std::vector<std::pair<std::uint32_t, std::uint32_t>> leaves_of_one_run() {
  CountingProcessor processor;
  oxa::NativeSystem system;
  oxa::NativeRegistry registry;
  char* document = nullptr;
  if (oxa::detect_json(&document, processor, system, registry) == OXA_OK) std::free(document);
  return processor.leaves;
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
  const auto leaves = leaves_of_one_run();
  oxa::NativeProcessor processor;
  for (auto _ : state) {
    for (const auto& [leaf, subleaf] : leaves) benchmark::DoNotOptimize(processor.cpuid(leaf, subleaf));
  }
  state.counters["cpuid_per_run"] = static_cast<double>(leaves.size());
}
BENCHMARK(BM_CpuidFloor);

// The native system with the Linux signs turned off: what the other probes
// cost on their own.
class SystemWithoutLinuxSigns {
 public:
  std::optional<std::int32_t> hypervisor_flag() noexcept { return native_.hypervisor_flag(); }
  std::optional<std::int32_t> translated_flag() noexcept { return native_.translated_flag(); }
  std::int64_t steady_ns() noexcept { return native_.steady_ns(); }
  void* allocate(std::size_t size) noexcept { return native_.allocate(size); }

 private:
  oxa::NativeSystem native_;
};
static_assert(!oxa::LinuxSystem<SystemWithoutLinuxSigns>);

// Runs and floors alternate, so drift in what the hypervisor charges for a
// CPUID exit hits both sides alike; the ratio is a counter, and so is what a
// run spends beyond the floor.
template <typename System>
void BM_RunOverFloor(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto leaves = leaves_of_one_run();
  oxa::NativeProcessor processor;
  System system;
  oxa::NativeRegistry registry;
  Clock::duration run{};
  Clock::duration floor{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    char* document = nullptr;
    if (oxa::detect_json(&document, processor, system, registry) != OXA_OK) {
      state.SkipWithError("detection failed");
    }
    std::free(document);
    const auto t1 = Clock::now();
    for (const auto& [leaf, subleaf] : leaves) benchmark::DoNotOptimize(processor.cpuid(leaf, subleaf));
    const auto t2 = Clock::now();
    run += t1 - t0;
    floor += t2 - t1;
  }
  state.counters["run_over_floor"] =
      floor.count() > 0 ? static_cast<double>(run.count()) / static_cast<double>(floor.count()) : 0.0;
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
