// SPDX-License-Identifier: MIT
// The probes on this machine's own processor: only what holds on any
// machine of its architecture.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/native.h"
#include "probes/cpuid_probe.h"
#include "probes/timing_probe.h"

namespace oxa {
namespace {

// Whether the kernel lists the "hypervisor" CPU flag; false where there is
// no /proc/cpuinfo.
bool kernel_sees_hypervisor() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("flags", 0) != 0) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    for (std::string word; words >> word;) {
      if (word == "hypervisor") return true;
    }
    return false;
  }
  return false;
}

TEST(NativeProbes, ReadCpu) {
  NativeProcessor processor;
  NativeSystem system;
  const Cpu cpu = read_cpu(processor, system);
  if constexpr (Arm64<NativeProcessor>) {
    // Where the kernel shows MIDR_EL1 (not an emulator's host) it is a value.
    std::ifstream midr(sign_path(Sign::midr));
    EXPECT_EQ(cpu.available, midr.is_open());
    EXPECT_EQ(cpu.available, cpu.midr.has_value());
    EXPECT_FALSE(cpu.hypervisor);
    return;
  }
  EXPECT_TRUE(cpu.available);
  if (kernel_sees_hypervisor()) {
    EXPECT_TRUE(cpu.hypervisor);
    EXPECT_FALSE(cpu.signature.empty());
  }
  RecordProperty("signature", cpu.signature);
}

TEST(NativeProbes, MeasureTiming) {
  NativeProcessor processor;
  NativeSystem system;
  const Timing timing = measure_timing(processor, system);
  // arm64 has nothing to time.
  if constexpr (Arm64<NativeProcessor>) {
    EXPECT_FALSE(timing.available);
  }
  EXPECT_TRUE(timing.available || !timing.valid);
  EXPECT_TRUE(timing.valid || timing.cycles_over_baseline == 0) << timing.cycles_over_baseline;

  Result result;
  detect_timing(result, timing);
  ASSERT_EQ(result.probes.size(), 1u);
  EXPECT_EQ(result.probes[0].source, "timing");
}

}  // namespace
}  // namespace oxa
