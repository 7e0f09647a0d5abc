// SPDX-License-Identifier: MIT
#include "core/assessment.h"

#include <gtest/gtest.h>

namespace oxa {
namespace {

struct Finding {
  const char* source;
  const char* category;
  const char* vendor;
  int weight;
};

struct Case {
  const char* name;
  std::vector<Finding> evidence;
  std::vector<Probe> probes;
  int score;
  const char* likelihood;
  std::vector<std::string> hypervisors;
  std::vector<std::string> hosts = {};
};

Result record(const Case& c) {
  Result r;
  int n = 0;
  // Distinct details, so add never merges two findings of one case.
  for (const Finding& f : c.evidence) r.add(f.source, f.category, f.vendor, f.weight, std::to_string(n++));
  for (const Probe& p : c.probes) r.probe(p.source, p.status);
  return r;
}

const Probe kCpuOk{"cpu", "ok"};

TEST(Assess, ScoresAndLikelihood) {
  const Case cases[] = {
      {"empty", {}, {}, 0, "unknown", {}},
      {"one ok probe", {}, {kCpuOk}, 0, "not_detected", {}},
      {"failed probes only", {}, {{"cpu", "unavailable"}, {"timing", "error"}}, 0, "unknown", {}},
      {"container probe ok", {}, {{"container", "ok"}, {"compatibility", "ok"}}, 0, "unknown", {}},
      {"ok after failures", {}, {{"container", "ok"}, {"cpu", "error"}, {"x", "ok"}}, 0, "not_detected", {}},
      {"status case matters", {}, {{"cpu", "OK"}}, 0, "unknown", {}},
      {"cpu kvm", {{"cpu", "guest", "kvm", 95}}, {}, 95, "very_likely", {"kvm"}},
      {"two strong sources",
       {{"cpu", "guest", "kvm", 50}, {"firmware", "guest", "qemu", 80}},
       {},
       85,
       "likely",
       {"kvm", "qemu"}},
      {"bonus clamps at 99",
       {{"cpu", "guest", "kvm", 95}, {"system", "guest", "unknown", 95}},
       {},
       99,
       "very_likely",
       {"kvm"}},
      {"bonus from 50 and 50",
       {{"cpu", "guest", "a", 50}, {"system", "guest", "b", 50}},
       {},
       55,
       "possible",
       {"a", "b"}},
      {"49 does not corroborate",
       {{"cpu", "guest", "a", 49}, {"system", "guest", "b", 80}},
       {},
       80,
       "likely",
       {"a", "b"}},
      {"timing never corroborates",
       {{"cpu", "guest", "kvm", 50}, {"timing", "guest", "unknown", 50}},
       {},
       50,
       "possible",
       {"kvm"}},
      {"one source counts once",
       {{"cpu", "guest", "kvm", 95}, {"cpu", "guest", "xen", 80}},
       {},
       95,
       "very_likely",
       {"kvm", "xen"}},
      {"unknown vendor still weighs", {{"timing", "guest", "unknown", 50}}, {}, 50, "possible", {}},
      {"negative weight floors at 0", {{"cpu", "guest", "kvm", -5}}, {kCpuOk}, 0, "not_detected", {"kvm"}},
      {"no clamp without bonus", {{"x", "guest", "v", 120}}, {}, 120, "very_likely", {"v"}},
      {"container not scored", {{"cpu", "container", "docker", 95}}, {kCpuOk}, 0, "not_detected", {}},
      {"category case matters", {{"cpu", "Guest", "kvm", 95}}, {}, 0, "unknown", {}},
      {"89", {{"a", "guest", "v", 89}}, {}, 89, "likely", {"v"}},
      {"90", {{"a", "guest", "v", 90}}, {}, 90, "very_likely", {"v"}},
      {"69", {{"a", "guest", "v", 69}}, {}, 69, "possible", {"v"}},
      {"70", {{"a", "guest", "v", 70}}, {}, 70, "likely", {"v"}},
      {"1", {{"a", "guest", "v", 1}}, {}, 1, "possible", {"v"}},
      {"cpu guest hosted by same vendor, guest first",
       {{"cpu", "guest", "hyperv", 50}, {"cpu", "host", "hyperv", 0}},
       {},
       0,
       "unknown",
       {},
       {"hyperv"}},
      {"cpu guest hosted by same vendor, host first",
       {{"cpu", "host", "hyperv", 0}, {"cpu", "guest", "hyperv", 50}},
       {},
       0,
       "unknown",
       {},
       {"hyperv"}},
      {"host from any source excludes",
       {{"firmware", "host", "hyperv", 0}, {"cpu", "guest", "hyperv", 50}},
       {},
       0,
       "unknown",
       {},
       {"hyperv"}},
      // A Linux Hyper-V root partition's clock is Hyper-V's, and so is dom0's view.
      {"system guest hosted by same vendor",
       {{"cpu", "host", "hyperv", 0}, {"system", "guest", "hyperv", 80}, {"system", "guest", "kvm", 80}},
       {},
       80,
       "likely",
       {"kvm"},
       {"hyperv"}},
      {"firmware guest not excluded",
       {{"firmware", "guest", "hyperv", 50}, {"cpu", "host", "hyperv", 0}},
       {},
       50,
       "possible",
       {"hyperv"},
       {"hyperv"}},
      {"other vendor hosted",
       {{"cpu", "host", "hyperv", 0}, {"cpu", "guest", "kvm", 95}},
       {},
       95,
       "very_likely",
       {"kvm"},
       {"hyperv"}},
      {"empty vendors match each other",
       {{"cpu", "host", "", 0}, {"cpu", "guest", "", 95}},
       {},
       0,
       "unknown",
       {},
       {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Assessment a = assess(record(c));
    EXPECT_EQ(a.score, c.score);
    EXPECT_EQ(a.likelihood, c.likelihood);
    EXPECT_EQ(a.hypervisors, c.hypervisors);
    EXPECT_EQ(a.host_hypervisors, c.hosts);
  }
}

TEST(Assess, ListsKeepFirstSeenOrderWithoutDuplicatesOrUnknown) {
  Result r;
  r.add("cpu", "guest", "kvm", 95, "1");
  r.add("firmware", "guest", "qemu", 85, "2");
  r.add("system", "guest", "kvm", 95, "3");
  r.add("firmware", "cloud", "aws", 0, "4");
  r.add("firmware", "cloud", "unknown", 0, "5");
  r.add("firmware", "cloud", "aws", 0, "6");
  r.add("firmware", "cloud", "AWS", 0, "7");
  r.add("a", "container", "docker", 95, "8");
  r.add("a", "container", "docker", 95, "9");
  r.add("a", "compatibility", "rosetta", 95, "10");
  r.add("a", "compatibility", "", 95, "11");
  r.add("a", "compatibility", "", 95, "12");
  r.add("a", "diagnostic", "xen", 95, "13");
  const Assessment a = assess(r);
  EXPECT_EQ(a.hypervisors, (std::vector<std::string>{"kvm", "qemu"}));
  EXPECT_EQ(a.cloud_providers, (std::vector<std::string>{"aws", "AWS"}));
  EXPECT_EQ(a.containers, (std::vector<std::string>{"docker"}));
  EXPECT_EQ(a.compatibility_layers, (std::vector<std::string>{"rosetta", ""}));
  EXPECT_TRUE(a.host_hypervisors.empty());
  EXPECT_EQ(a.score, 99);
}

}  // namespace
}  // namespace oxa
