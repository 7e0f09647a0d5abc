// SPDX-License-Identifier: MIT
// The platform probe against a scripted system and registry: what it records
// for each kind of property value, and that every registry object it obtains
// is released exactly once.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/evidence.h"
#include "identity/platform_probe.h"
#include "support/fake_iokit.h"
#include "support/fake_system.h"

namespace oxa {
namespace {

using test::FakeRegistry;
using Op = FakeRegistry::Op;
using Call = FakeRegistry::Call;

constexpr auto kManufacturer = RegistryKey::manufacturer;
constexpr auto kModel = RegistryKey::model;
constexpr auto kProductName = RegistryKey::product_name;

Evidence guest(const char* vendor, const char* detail, std::int32_t weight = 85) {
  return {"firmware", "guest", vendor, detail, weight};
}
const Evidence kSystemGuest{"system", "guest", "unknown", "kern.hv_vmm_present", 95};

class PlatformProbe : public ::testing::Test {
 protected:
  void run() { detect_platform(result, system, registry); }

  Result result;
  test::FakeSystem system;
  FakeRegistry registry;
};

struct KernelFlagCase {
  const char* name;
  std::optional<std::int32_t> value;  // nullopt: the read fails
  const char* status;
  bool evidence;
};

class PlatformProbeKernelFlag : public PlatformProbe, public ::testing::WithParamInterface<KernelFlagCase> {};

TEST_P(PlatformProbeKernelFlag, IsRecordedAndTheRegistryPartRunsRegardless) {
  const KernelFlagCase& c = GetParam();
  if (c.value) system.set_sysctl("kern.hv_vmm_present", *c.value);
  registry.set_string(kManufacturer, "QEMU");
  run();

  EXPECT_EQ(system.sysctl_reads(), std::vector<std::string>{"kern.hv_vmm_present"});
  EXPECT_EQ(result.probes, (std::vector<Probe>{{"system", c.status}, {"firmware", "ok"}}));
  std::vector<Evidence> expected;
  if (c.evidence) expected.push_back(kSystemGuest);
  expected.push_back(guest("qemu", "qemu"));
  EXPECT_EQ(result.evidence, expected);
  EXPECT_EQ(registry.balance(), "");
}

INSTANTIATE_TEST_SUITE_P(Reads, PlatformProbeKernelFlag,
                         ::testing::Values(KernelFlagCase{"fails", std::nullopt, "unavailable", false},
                                           KernelFlagCase{"zero", 0, "ok", false},
                                           KernelFlagCase{"one", 1, "ok", true},
                                           KernelFlagCase{"minus_one", -1, "ok", true}),
                         [](const ::testing::TestParamInfo<KernelFlagCase>& info) {
                           return info.param.name;
                         });

// A set flag that CPUID's bit does not back waits for the firmware and the
// timing: a patched real Mac has it, and so has a guest that hides its bit.
TEST_F(PlatformProbe, AFlagTheProcessorDoesNotBackIsWeighedAfterTheTiming) {
  const Evidence diagnostic{"system", "diagnostic", "unknown",
                            "kern.hv_vmm_present set; no hypervisor in CPUID, its timing or the firmware", 0};
  const struct {
    const char* name;
    const char* manufacturer;
    const char* model;
    std::optional<bool> cpuid_trapped;  // unset: the timing could not tell
    std::vector<Evidence> evidence;
  } cases[] = {
      {"a real Mac, CPUID at native speed", "Apple Inc.", "MacBookPro11,5", false, {diagnostic}},
      {"the host's model, CPUID trapped", "Apple Inc.", "MacPro7,1", true, {kSystemGuest}},
      {"a real Mac, no usable timing", "Apple Inc.", "MacBookPro11,5", std::nullopt, {kSystemGuest}},
      {"VMware's firmware, CPUID at native speed",
       "VMware, Inc.",
       "VMware7,1",
       false,
       {guest("vmware", "vmware"), kSystemGuest}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result r;
    test::FakeSystem s;
    FakeRegistry reg;
    s.set_sysctl("kern.hv_vmm_present", 1);
    reg.set_string(kManufacturer, c.manufacturer);
    reg.set_string(kModel, c.model);
    EXPECT_EQ(detect_platform(r, s, reg, /*processor_shows_hypervisor=*/false), FlagFinding::held);
    weigh_held_hypervisor_flag(r, c.cpuid_trapped);
    EXPECT_EQ(r.probes, (std::vector<Probe>{{"system", "ok"}, {"firmware", "ok"}}));
    EXPECT_EQ(r.evidence, c.evidence);
  }
  // With the bit, or without the flag, nothing waits.
  test::FakeSystem set;
  set.set_sysctl("kern.hv_vmm_present", 1);
  EXPECT_EQ(detect_platform(result, set, registry, true), FlagFinding::recorded);
  test::FakeSystem clear;
  clear.set_sysctl("kern.hv_vmm_present", 0);
  EXPECT_EQ(detect_platform(result, clear, registry, false), FlagFinding::none);
}

TEST_F(PlatformProbe, NoServiceGivesOneUnavailableProbeAndReleasesNothing) {
  registry.remove_service();
  registry.set_string(kManufacturer, "VMware, Inc.");
  run();

  EXPECT_EQ(result.probes, (std::vector<Probe>{{"system", "unavailable"}, {"firmware", "unavailable"}}));
  EXPECT_TRUE(result.evidence.empty());
  EXPECT_EQ(registry.matched_class(), "IOPlatformExpertDevice");
  EXPECT_EQ(registry.calls(),
            (std::vector<Call>{{Op::matching, std::nullopt}, {Op::get_service, std::nullopt}}));
  EXPECT_EQ(registry.service_releases(), 0);
  EXPECT_EQ(registry.balance(), "");
}

TEST_F(PlatformProbe, PropertyValues) {
  const std::string fits(kIdentityBufferSize - 1, 'x');  // with its NUL exactly the buffer
  struct Case {
    const char* name;
    std::function<void(FakeRegistry&)> setup;
    const char* status;
    std::vector<Evidence> evidence;
    bool bytes_read = false;  // whether the data bytes may be looked at
  };
  const Case cases[] = {
      {"no properties", [](FakeRegistry&) {}, "unavailable", {}},
      {"only other types",
       [](FakeRegistry& r) {
         r.set_other(kManufacturer);
         r.set_other(kModel);
         r.set_other(kProductName);
       },
       "unavailable",
       {}},
      {"string",
       [](FakeRegistry& r) { r.set_string(kManufacturer, "VMware, Inc."); },
       "ok",
       {guest("vmware", "vmware")}},
      {"string that matches nothing",
       [](FakeRegistry& r) { r.set_string(kModel, "PowerEdge R640"); },
       "ok",
       {}},
      {"empty string", [](FakeRegistry& r) { r.set_string(kModel, ""); }, "ok", {}},
      {"string not convertible",
       [](FakeRegistry& r) { r.set_unconvertible_string(kManufacturer); },
       "unavailable",
       {}},
      {"string of 4095 bytes",
       [&](FakeRegistry& r) { r.set_string(kModel, fits.substr(4) + " kvm"); },
       "ok",
       {guest("kvm", "kvm")}},
      {"string of 4096 bytes",
       [&](FakeRegistry& r) { r.set_string(kModel, fits.substr(3) + " kvm"); },
       "unavailable",
       {}},
      {"string cut at its first NUL",
       [](FakeRegistry& r) { r.set_string(kModel, std::string("Virtual Machine\0 xen", 20)); },
       "ok",
       {guest("unknown", "Virtual Machine product", 80)}},
      {"data of 0 bytes", [](FakeRegistry& r) { r.set_data(kManufacturer, ""); }, "unavailable", {}},
      {"data of 1 byte", [](FakeRegistry& r) { r.set_data(kManufacturer, "x"); }, "ok", {}, true},
      {"data of 10 bytes with a NUL",
       [](FakeRegistry& r) { r.set_data(kManufacturer, std::string("Parallels\0", 10)); },
       "ok",
       {guest("parallels", "parallels")},
       true},
      // The whole-text test sees 16 bytes, so the NUL was handed on.
      {"data name with a NUL",
       [](FakeRegistry& r) { r.set_data(kModel, std::string("Virtual Machine\0", 16)); },
       "ok",
       {},
       true},
      {"data name without a NUL",
       [](FakeRegistry& r) { r.set_data(kModel, "Virtual Machine"); },
       "ok",
       {guest("unknown", "Virtual Machine product", 80)},
       true},
      {"data of 4096 bytes",
       [](FakeRegistry& r) { r.set_data(kModel, std::string(4093, ' ') + "kvm"); },
       "ok",
       {guest("kvm", "kvm")},
       true},
      {"data of 4097 bytes",
       [](FakeRegistry& r) { r.set_data(kModel, std::string(4094, ' ') + "kvm"); },
       "unavailable",
       {}},
      {"data of negative length", [](FakeRegistry& r) { r.set_data_length(kModel, -1); }, "unavailable", {}},
      {"skipped values around a readable one",
       [](FakeRegistry& r) {
         r.set_unconvertible_string(kManufacturer);
         r.set_string(kModel, "bhyve");
         r.set_data(kProductName, "");
       },
       "ok",
       {guest("bhyve", "bhyve")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result r;
    test::FakeSystem s;
    FakeRegistry reg;
    c.setup(reg);
    detect_platform(r, s, reg);

    EXPECT_EQ(r.probes, (std::vector<Probe>{{"system", "unavailable"}, {"firmware", c.status}}));
    EXPECT_EQ(r.evidence, c.evidence);
    EXPECT_EQ(reg.balance(), "");
    EXPECT_EQ(reg.service_releases(), 1);
    for (const RegistryKey key : {kManufacturer, kModel, kProductName}) {
      SCOPED_TRACE(std::string(key_name(key)));
      // Every present value is read exactly once and released exactly once.
      EXPECT_EQ(reg.releases(key), reg.handed_out(key));
    }
    bool bytes_read = false;
    for (const Call& call : reg.calls()) bytes_read |= call.op == Op::data_bytes;
    EXPECT_EQ(bytes_read, c.bytes_read);
  }
}

TEST_F(PlatformProbe, SameMarkerInTwoPropertiesGivesOneEvidence) {
  registry.set_string(kModel, "VMware Virtual Platform");
  registry.set_data(kProductName, "VMware20,1 vmware");
  run();
  EXPECT_EQ(result.evidence, std::vector<Evidence>{guest("vmware", "vmware")});
  EXPECT_EQ(result.probes.back(), (Probe{"firmware", "ok"}));
  EXPECT_EQ(registry.balance(), "");
}

TEST_F(PlatformProbe, OrderOfEntriesAndOfRegistryCalls) {
  system.set_sysctl("kern.hv_vmm_present", 1);
  registry.set_string(kManufacturer, "innotek GmbH");
  registry.set_data(kModel, "QEMU");
  registry.set_string(kProductName, "Amazon EC2");
  run();

  EXPECT_EQ(result.probes, (std::vector<Probe>{{"system", "ok"}, {"firmware", "ok"}}));
  EXPECT_EQ(result.evidence, (std::vector<Evidence>{kSystemGuest,
                                                    guest("virtualbox", "innotek gmbh"),
                                                    guest("qemu", "qemu"),
                                                    {"firmware", "cloud", "aws", "amazon ec2", 0}}));
  // Keys in fixed order, each value released at the end of its own step, the
  // service last.
  EXPECT_EQ(registry.calls(), (std::vector<Call>{
                                  {Op::matching, std::nullopt},
                                  {Op::get_service, std::nullopt},
                                  {Op::create_property, kManufacturer},
                                  {Op::get_type, kManufacturer},
                                  {Op::get_cstring, kManufacturer},
                                  {Op::release_value, kManufacturer},
                                  {Op::create_property, kModel},
                                  {Op::get_type, kModel},
                                  {Op::data_length, kModel},
                                  {Op::data_bytes, kModel},
                                  {Op::release_value, kModel},
                                  {Op::create_property, kProductName},
                                  {Op::get_type, kProductName},
                                  {Op::get_cstring, kProductName},
                                  {Op::release_value, kProductName},
                                  {Op::release_service, std::nullopt},
                              }));
  EXPECT_EQ(registry.last_buffer_size(), static_cast<FakeRegistry::Index>(kIdentityBufferSize));
  EXPECT_EQ(registry.balance(), "");
}

}  // namespace
}  // namespace oxa
