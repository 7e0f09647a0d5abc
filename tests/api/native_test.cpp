// SPDX-License-Identifier: MIT
// The real, unfaked detection through the shared library, as a host calls it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/version.h"
#include "oxa.h"
#include "platform/linux/signs.h"
#include "platform/native_processor.h"
#include "support/json_check.h"

namespace {

using oxa::test::Json;

// The build's own architecture: under an emulator the kernel, and so
// /proc/cpuinfo and sysfs, may be another architecture's.
constexpr bool kArm64 = oxa::Arm64<oxa::NativeProcessor>;

// x86-64's "hypervisor" CPU flag; arm64 has no such flag.
bool cpuinfo_has_hypervisor_flag() {
  if (kArm64) return false;
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("flags", 0) == 0) return (line + " ").find(" hypervisor ") != std::string::npos;
  }
  return false;
}

bool has_probe(const Json& report, const char* source) {
  for (const Json& p : report["probes"]) {
    if (p["source"] == source) return true;
  }
  return false;
}

// On x86-64 CPUID always answers and the timing probe measures; on arm64
// MIDR_EL1 answers where the kernel shows it, and nothing is timed.
TEST(NativeDetection, ReportHoldsWhatAnyMachineOfItsArchitectureShows) {
  char* document = nullptr;
  ASSERT_EQ(oxa_detect_json(&document), OXA_OK);
  ASSERT_NE(document, nullptr);
  const Json report = oxa::test::parse_report(document);
  oxa_free(document);
  ASSERT_FALSE(report.is_null());

  ASSERT_GE(report["probes"].size(), 4u);
  EXPECT_GE(report["duration_us"].get<std::int64_t>(), 0);
  if (kArm64) {
    const bool midr = std::ifstream(oxa::sign_path(oxa::Sign::midr)).is_open();
    EXPECT_EQ(report["probes"][0], (Json{{"source", "cpu"}, {"status", midr ? "ok" : "unavailable"}}));
    for (const Json& p : report["probes"]) {
      if (p["source"] == "timing") {
        EXPECT_EQ(p["status"], "unavailable");
      }
    }
    EXPECT_TRUE(has_probe(report, "timing"));
    return;
  }
  EXPECT_EQ(report["probes"][0], (Json{{"source", "cpu"}, {"status", "ok"}}));
  EXPECT_TRUE(has_probe(report, "timing"));
  EXPECT_NE(report["vm_likelihood"], "unknown");  // the cpu probe ran

  if (cpuinfo_has_hypervisor_flag()) {
    bool cpu_guest = false;
    for (const Json& e : report["evidence"]) {
      cpu_guest |= e["source"] == "cpu" && e["category"] == "guest";
    }
    EXPECT_TRUE(cpu_guest) << report.dump();
    EXPECT_GT(report["vm_score"].get<int>(), 0);
  }
}

// Our own machines are Docker containers in KVM guests: a real run names
// both, the container without taking the machine's place.
// Docker's marker file names Docker only in namespaces a runtime made. Our
// own machines are microVMs whose root came from an image export: the
// marker is there, in the kernel's initial namespaces, and no runtime is.
TEST(NativeDetection, DockerMarkerNamesDockerOnlyInItsNamespaces) {
  std::error_code ignored;
  if (!std::filesystem::exists("/.dockerenv", ignored)) GTEST_SKIP() << "no /.dockerenv here";
  const auto identity = [](const char* kind) {
    std::error_code error;
    return std::filesystem::read_symlink(std::string("/proc/self/ns/") + kind, error).string();
  };
  const bool initial = identity("pid") == "pid:[4026531836]" && identity("uts") == "uts:[4026531838]" &&
                       identity("ipc") == "ipc:[4026531839]";
  char* document = nullptr;
  ASSERT_EQ(oxa_detect_json(&document), OXA_OK);
  const Json report = oxa::test::parse_report(document);
  oxa_free(document);
  ASSERT_FALSE(report.is_null());
  const bool docker = std::find(report["containers"].begin(), report["containers"].end(), "docker") !=
                      report["containers"].end();
  EXPECT_EQ(docker, !initial) << report.dump();
  EXPECT_TRUE(has_probe(report, "container"));
  EXPECT_TRUE(has_probe(report, "compatibility"));
  if (cpuinfo_has_hypervisor_flag()) {
    EXPECT_FALSE(report["hypervisors"].empty()) << report.dump();
  }
}

TEST(NativeDetection, StatusAndSlotContract) {
  EXPECT_EQ(oxa_detect_json(nullptr), OXA_ERROR_NULL_ARGUMENT);

  char stale = 'x';
  char* slot = &stale;  // overwritten, never freed
  ASSERT_EQ(oxa_detect_json(&slot), OXA_OK);
  ASSERT_NE(slot, &stale);
  oxa_free(slot);
  oxa_free(nullptr);

  EXPECT_STREQ(oxa_version(), oxa::kVersion);
  EXPECT_EQ(oxa_version(), oxa_version());
}

TEST(NativeDetection, ManyThreadsAtOnce) {
  // 1600 runs on eight threads take too long under qemu-user.
  if (std::getenv("OXA_TEST_EMULATED") != nullptr) GTEST_SKIP() << "too slow under qemu-user";
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::string> last(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &failures, &last] {
        for (int i = 0; i < kCalls; ++i) {
          char* document = nullptr;
          if (oxa_detect_json(&document) != OXA_OK || document == nullptr) {
            ++failures[t];
            continue;
          }
          last[t] = document;
          oxa_free(document);
        }
      });
    }
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_FALSE(oxa::test::parse_report(last[t]).is_null()) << "thread " << t;
  }
}

}  // namespace
