// SPDX-License-Identifier: MIT
// to_json reserves its whole document at once: the estimate, built from the
// member names and each value's widest form, is never short.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "core/assessment.h"
#include "core/json_report.h"
#include "support/alloc_fault.h"

namespace oxa {
namespace {

std::size_t allocations_of(const auto& work) {
  test::fail_allocation_after(0);
  work();
  return test::allocations_seen();
}

TEST(ToJsonAlloc, OneAllocationBeyondTheVerdict) {
  // Every byte of a text as wide as it gets: six characters per escape.
  const std::string escaped(Result::kMaxDetail, '\x01');
  const std::string long_vendor(300, '"');
  constexpr auto kMinWeight = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMinDuration = std::numeric_limits<std::int64_t>::min();

  Result empty;
  Result widest;
  for (const VendorList& list : kVendorLists) {
    widest.add(escaped, list.category, long_vendor + list.name, kMinWeight, escaped);
    widest.add(escaped, list.category, escaped + list.name, kMinWeight, escaped);
  }
  widest.probe(escaped, escaped);
  widest.probe("", "");
  Result plain;
  plain.add("cpu", "guest", "kvm", 95, "KVMKVMKVM");
  plain.probe("cpu", "ok");

  for (const Result* r : {&empty, &widest, &plain}) {
    for (const std::int64_t duration : {std::int64_t{0}, kMinDuration}) {
      const std::size_t verdict = allocations_of([&] { static_cast<void>(assess(*r)); });
      const std::size_t report = allocations_of([&] { static_cast<void>(to_json(*r, duration)); });
      EXPECT_EQ(report, verdict + 1) << to_json(*r, duration);
    }
  }
}

}  // namespace
}  // namespace oxa
