// SPDX-License-Identifier: MIT
// Every allocation of a finding-rich run fails in turn: the run reports the
// failure, leaves the slot null and releases every registry object.

#include <gtest/gtest.h>

#include <cstdlib>

#include "api/detection_run.h"
#include "api/run_fixture.h"
#include "support/alloc_fault.h"
#include "support/json_check.h"

namespace oxa {
namespace {

struct Layers {
  test::ScriptedProcessor processor;
  test::FakeSystem system;
  test::FakeRegistry registry;

  Layers() {
    // Hyper-V guest with a KVM interface, firmware naming a cloud, a
    // Parallels function among the PCI ones: findings from every probe.
    test::hypervisor_processor(processor, "Microsoft Hv", 0x40000005);
    processor.set(0x40000001, {0x31237648, 0, 0, 0});
    processor.set(0x40000100, test::signature_registers(0x40000101, "KVMKVMKVM"));
    processor.timestamps(test::samples(30, 2500));
    system.set_sysctl("kern.hv_vmm_present", 1);
    registry.set_string(RegistryKey::manufacturer, "Amazon EC2");
    registry.set_data(RegistryKey::model, std::string("Xen HVM domU\0", 13));
    registry.set_string(RegistryKey::product_name, "Virtual Machine");
    registry.add_pci_function({0x8086, 0x2918, PciFunction::kNone, PciFunction::kNone});
    registry.add_pci_function({0x1ab8, 0x4000, PciFunction::kNone, PciFunction::kNone});
  }
};

void sweep(test::Fault fault, int expected_status) {
  for (std::size_t n = 1;; ++n) {
    Layers layers;
    char stale = 'x';
    char* slot = &stale;
    int status;
    {
      test::ScopedAllocationFault armed(n, fault);
      status = detect_json(&slot, layers.processor, layers.system, layers.registry);
    }
    EXPECT_EQ(layers.registry.balance(), "") << "allocation " << n;
    if (status == OXA_OK) {
      ASSERT_GT(n, 10u) << "the run allocates more than this";
      const test::Json report = test::parse_report(slot);
      EXPECT_EQ(report["evidence"].size(), 9u) << report.dump();
      std::free(slot);
      return;
    }
    ASSERT_EQ(status, expected_status) << "allocation " << n;
    ASSERT_EQ(slot, nullptr) << "allocation " << n;
  }
}

TEST(DetectionRunAlloc, EveryAllocationFailureIsStatus2) {
  sweep(test::Fault::bad_alloc, OXA_ERROR_NO_MEMORY);
}

TEST(DetectionRunAlloc, EveryOtherExceptionIsStatus3) {
  sweep(test::Fault::other_exception, OXA_ERROR_INTERNAL);
}

}  // namespace
}  // namespace oxa
