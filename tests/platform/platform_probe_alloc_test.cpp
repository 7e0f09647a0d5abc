// SPDX-License-Identifier: MIT
// Allocation failures inside the platform probe: whichever allocation fails,
// the exception leaves with every registry object released exactly once.

#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>

#include "core/evidence.h"
#include "identity/platform_probe.h"
#include "support/alloc_fault.h"
#include "support/fake_iokit.h"
#include "support/fake_system.h"

namespace oxa {
namespace {

using test::FakeRegistry;

void fill(FakeRegistry& registry) {
  // Texts longer than any short-string buffer, so every lower-cased copy
  // and every finding allocates.
  registry.set_string(RegistryKey::manufacturer, "innotek GmbH of some length");
  registry.set_data(RegistryKey::model, "VMware Virtual Platform, long enough");
  registry.set_string(RegistryKey::product_name, "Amazon EC2 instance of some length");
}

TEST(PlatformProbeAlloc, EveryFailureReleasesValueAndService) {
  bool failed_in_second_key = false;
  for (std::size_t n = 1;; ++n) {
    ASSERT_LT(n, 1000u) << "the run never completed";
    Result result;
    test::FakeSystem system;
    system.set_sysctl("kern.hv_vmm_present", 1);
    FakeRegistry registry;
    fill(registry);

    bool threw = false;
    {
      test::ScopedAllocationFault fault(n);
      try {
        detect_platform(result, system, registry);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    }
    SCOPED_TRACE("allocation " + std::to_string(n));
    EXPECT_EQ(registry.balance(), "");
    if (!threw) {
      EXPECT_EQ(result.probes.size(), 2u);
      EXPECT_EQ(result.evidence.size(), 4u);  // system, virtualbox, vmware, aws
      break;
    }
    if (registry.last_key_read() == RegistryKey::model && registry.services_handed_out() == 1 &&
        registry.handed_out(RegistryKey::model) == 1 && result.probes.size() == 1) {
      // Failed while the second key's text was being matched.
      failed_in_second_key = true;
      EXPECT_EQ(registry.releases(RegistryKey::model), 1);
      EXPECT_EQ(registry.service_releases(), 1);
    }
  }
  EXPECT_TRUE(failed_in_second_key) << "no allocation landed in the second key's step";
}

}  // namespace
}  // namespace oxa
