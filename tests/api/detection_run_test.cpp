// SPDX-License-Identifier: MIT
// Whole detection runs over scripted processor, system and registry.

#include "api/detection_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "api/run_fixture.h"
#include "core/version.h"
#include "support/json_check.h"

namespace oxa {
namespace {

using test::FakeRegistry;
using test::FakeSystem;
using test::ScriptedProcessor;

struct Outcome {
  int status = -1;
  char* slot = nullptr;
  std::string document;
};

Outcome run(ScriptedProcessor& p, FakeSystem& s, FakeRegistry& r, char* initial = nullptr) {
  Outcome out;
  out.slot = initial;
  out.status = detect_json(&out.slot, p, s, r);
  if (out.status == OXA_OK && out.slot != nullptr) {
    out.document = out.slot;
    std::free(out.slot);
  }
  return out;
}

TEST(DetectionRun, ProbesRunInOrderAndTheReportIsComplete) {
  ScriptedProcessor p;
  test::hypervisor_processor(p, "KVMKVMKVM");
  p.timestamps(test::samples(20, 1500));  // slow CPUID, but identity is present
  FakeSystem s;
  s.clock({5'000'000, 5'002'999});  // 2.999 microseconds: truncated to 2
  FakeRegistry r;
  r.set_string(RegistryKey::manufacturer, "QEMU");

  const Outcome result = run(p, s, r);
  ASSERT_EQ(result.status, OXA_OK);
  EXPECT_EQ(
      result.document,
      R"({"schema_version":1,"module_version":")" + std::string(kVersion) +
          R"(","vm_score":99,"vm_likelihood":"very_likely",)"
          R"("hypervisors":["kvm","qemu"],"containers":[],"compatibility_layers":[],"host_hypervisors":[],)"
          R"("cloud_providers":[],"evidence":[)"
          R"({"source":"cpu","category":"guest","vendor":"kvm","weight":95,"detail":"KVMKVMKVM"},)"
          R"({"source":"firmware","category":"guest","vendor":"qemu","weight":85,"detail":"qemu"},)"
          R"({"source":"timing","category":"diagnostic","vendor":"unknown","weight":0,)"
          R"x("detail":"cpuid 1480 cycles over baseline (threshold 1000)"}],"probes":[)x"
          R"({"source":"cpu","status":"ok"},{"source":"system","status":"unavailable"},)"
          R"({"source":"firmware","status":"ok"},{"source":"timing","status":"ok"},)"
          R"({"source":"devices","status":"unavailable"},)"
          R"({"source":"compatibility","status":"ok"}],"duration_us":2})");
  EXPECT_EQ(s.last_allocation(), result.document.size() + 1);
  EXPECT_EQ(r.balance(), "");
}

TEST(DetectionRun, FirmwareIdentitySilencesTheTimingFinding) {
  ScriptedProcessor p;
  p.set(0x0, {0xd, 0, 0, 0});
  p.set(0x1, {0, 0, 0, test::kTscAndSse2});  // no hypervisor bit
  p.timestamps(test::samples(20, 5000));
  FakeSystem s;
  FakeRegistry r;
  r.set_string(RegistryKey::model, "VMware7,1");
  r.set_string(RegistryKey::manufacturer, "VMware, Inc.");

  const test::Json report = test::parse_report(run(p, s, r).document);
  ASSERT_FALSE(report.is_null());
  EXPECT_EQ(report["evidence"].back()["category"], "diagnostic");
  EXPECT_EQ(report["hypervisors"], test::Json::array({"vmware"}));

  // Without the firmware finding the same figures weigh as a guest.
  ScriptedProcessor bare;
  bare.set(0x0, {0xd, 0, 0, 0});
  bare.set(0x1, {0, 0, 0, test::kTscAndSse2});
  bare.timestamps(test::samples(20, 5000));
  FakeRegistry empty;
  const test::Json alone = test::parse_report(run(bare, s, empty).document);
  EXPECT_EQ(alone["evidence"].back()["category"], "guest");
  EXPECT_EQ(alone["vm_likelihood"], "possible");
}

// An architecture without CPUID: the CPUID and timing probes have nothing to
// ask, and the run still reads the platform's flag and registry.
TEST(DetectionRun, ProcessorWithoutCpuidLeavesCpuAndTimingUnavailable) {
  struct NoCpuid : ProcessorWithoutCpuid {};
  static_assert(Processor<NoCpuid> && !CpuidProcessor<NoCpuid>);
  NoCpuid p;
  FakeSystem s;
  s.set_sysctl(kHypervisorFlagName, 1);
  s.set_sysctl(kTranslatedFlagName, 0);
  FakeRegistry r;
  r.set_string(RegistryKey::model, "VirtualMac2,1");

  char* slot = nullptr;
  ASSERT_EQ(detect_json(&slot, p, s, r), OXA_OK);
  const std::string document = slot;
  std::free(slot);
  const test::Json report = test::parse_report(document);
  ASSERT_FALSE(report.is_null()) << document;
  EXPECT_EQ(report["probes"], test::Json::parse(R"([{"source":"cpu","status":"unavailable"},)"
                                                R"({"source":"system","status":"ok"},)"
                                                R"({"source":"firmware","status":"ok"},)"
                                                R"({"source":"timing","status":"unavailable"},)"
                                                R"({"source":"devices","status":"unavailable"},)"
                                                R"({"source":"compatibility","status":"ok"}])"));
  EXPECT_EQ(report["hypervisors"], test::Json::array({"apple"}));
  // No timing measurement, so no question whether the process is translated.
  EXPECT_EQ(s.sysctl_reads(), std::vector<std::string>{kHypervisorFlagName});
}

// Without Linux signs (macOS) the devices and compatibility probes follow
// the four others: a process Rosetta translates is named "rosetta", and its timing
// probe stays unavailable; a native one, or an Intel Mac without the flag,
// gets the probe and no finding.
// Behind a hidden hypervisor bit leaf 0x40000000 names a guest's
// hypervisor, but not in a process Rosetta translates: its CPUID is
// Rosetta's.
TEST(DetectionRun, AHiddenSignatureCountsOnlyUntranslated) {
  for (const std::int32_t translated : {0, 1}) {
    SCOPED_TRACE(translated);
    ScriptedProcessor p;
    p.set(0x0, {0xd, 0, 0, 0});
    p.set(0x1, {0, 0, 0, test::kTscAndSse2});  // no hypervisor bit
    p.set(0x40000000, test::signature_registers(0x40000001, "KVMKVMKVM"));
    p.timestamps(test::samples(20, 1500));
    FakeSystem s;
    s.set_sysctl(kHypervisorFlagName, 0);
    s.set_sysctl(kTranslatedFlagName, translated);
    FakeRegistry r;
    char* slot = nullptr;
    ASSERT_EQ(detect_json(&slot, p, s, r), OXA_OK);
    const test::Json report = test::parse_report(slot);
    std::free(slot);
    ASSERT_FALSE(report.is_null());
    EXPECT_EQ(report["hypervisors"], translated != 0 ? test::Json::array() : test::Json::array({"kvm"}));
  }
}

TEST(DetectionRun, RosettaIsACompatibilityLayer) {
  const struct {
    const char* name;
    std::optional<std::int32_t> translated;
    std::vector<std::string> layers;
    const char* timing;
  } cases[] = {
      {"translated", 1, {"rosetta"}, "unavailable"},
      {"native on Apple silicon", 0, {}, "ok"},
      {"an Intel Mac", std::nullopt, {}, "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedProcessor p;
    test::hypervisor_processor(p, "VMwareVMware");
    p.timestamps(test::samples(20, 200));
    FakeSystem s;
    s.set_sysctl(kHypervisorFlagName, 0);
    if (c.translated) s.set_sysctl(kTranslatedFlagName, *c.translated);
    FakeRegistry r;
    char* slot = nullptr;
    ASSERT_EQ(detect_json(&slot, p, s, r), OXA_OK);
    const test::Json report = test::parse_report(slot);
    std::free(slot);
    ASSERT_FALSE(report.is_null());
    EXPECT_EQ(report["compatibility_layers"], test::Json(c.layers));
    std::vector<std::string> sources;
    for (const auto& probe : report["probes"]) sources.push_back(probe["source"]);
    EXPECT_EQ(sources,
              (std::vector<std::string>{"cpu", "system", "firmware", "timing", "devices", "compatibility"}));
    EXPECT_EQ(report["probes"][3]["status"], c.timing);
    if (!c.layers.empty()) {
      EXPECT_EQ(report["evidence"].back(),
                test::Json::parse(R"({"source":"compatibility","category":"compatibility",)"
                                  R"("vendor":"rosetta","weight":95,)"
                                  R"("detail":"sysctl.proc_translated"})"));
    }
  }
}

TEST(DetectionRun, NullSlotRunsNothing) {
  ScriptedProcessor p;
  FakeSystem s;
  FakeRegistry r;
  EXPECT_EQ(detect_json(nullptr, p, s, r), OXA_ERROR_NULL_ARGUMENT);
  EXPECT_TRUE(p.executed().empty());
  EXPECT_TRUE(s.sysctl_reads().empty());
  EXPECT_TRUE(r.calls().empty());
}

TEST(DetectionRun, FailuresLeaveTheSlotNull) {
  char stale = 'x';
  {
    SCOPED_TRACE("malloc returns null");
    ScriptedProcessor p;
    p.set(0x0, {0, 0, 0, 0});  // nothing measurable: no timestamps needed
    FakeSystem s;
    s.fail_allocation(true);
    FakeRegistry r;
    const Outcome result = run(p, s, r, &stale);
    EXPECT_EQ(result.status, OXA_ERROR_NO_MEMORY);
    EXPECT_EQ(result.slot, nullptr);
    EXPECT_EQ(r.balance(), "");
  }
  {
    SCOPED_TRACE("a probe throws something other than bad_alloc");
    ScriptedProcessor p;
    test::hypervisor_processor(p, "KVMKVMKVM");  // timing runs out of timestamps: logic_error
    FakeSystem s;
    FakeRegistry r;
    r.set_string(RegistryKey::manufacturer, "QEMU");
    const Outcome result = run(p, s, r, &stale);
    EXPECT_EQ(result.status, OXA_ERROR_INTERNAL);
    EXPECT_EQ(result.slot, nullptr);
    EXPECT_EQ(r.balance(), "");
  }
}

TEST(DetectionRun, DurationIsWholeMicrosecondsOfTheProbes) {
  const struct {
    std::int64_t start, end;
    const char* written;
  } cases[] = {
      {0, 999, R"("duration_us":0})"},
      {0, 1000, R"("duration_us":1})"},
      {7'000, 5'007'999, R"("duration_us":5000})"},
      {0, 9'000'000'000'000'000'000, R"("duration_us":9000000000000000})"},
  };
  for (const auto& c : cases) {
    ScriptedProcessor p;
    p.set(0x0, {0, 0, 0, 0});
    FakeSystem s;
    s.clock({c.start, c.end});
    FakeRegistry r;
    const Outcome result = run(p, s, r);
    ASSERT_EQ(result.status, OXA_OK);
    EXPECT_NE(result.document.find(c.written), std::string::npos) << result.document;
  }
}

}  // namespace
}  // namespace oxa
