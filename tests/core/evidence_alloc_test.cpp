// SPDX-License-Identifier: MIT
// Allocation failures inside add and probe leave the record as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>

#include "core/evidence.h"
#include "support/alloc_fault.h"

namespace oxa {
namespace {

Result filled() {
  Result r;
  // Long texts so every copy allocates (no short-string buffer).
  for (int i = 0; i < 3; ++i) {
    r.add(std::string(40, char('a' + i)), "guest", "vendor-with-a-long-name-" + std::to_string(i), i,
          std::string(100, 'd'));
    r.probe(std::string(40, char('p' + i)), "ok");
  }
  return r;
}

TEST(ResultAlloc, FailedAddOrProbeChangesNothing) {
  const std::string long_text(64, 'z');
  for (std::size_t n = 1;; ++n) {
    Result r = filled();
    const Result before = r;
    bool threw = false;
    {
      test::ScopedAllocationFault fault(n);
      try {
        r.add(long_text, long_text, long_text, 1, long_text);
        r.probe(long_text, long_text);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    }
    if (!threw) {
      EXPECT_EQ(r.evidence.size(), before.evidence.size() + 1);
      EXPECT_EQ(r.probes.size(), before.probes.size() + 1);
      ASSERT_GT(n, 2u) << "the fault never fired";
      break;
    }
    // Whichever call failed, every entry present is whole and the failing
    // call added nothing.
    ASSERT_LE(r.evidence.size(), before.evidence.size() + 1);
    EXPECT_TRUE(std::equal(before.evidence.begin(), before.evidence.end(), r.evidence.begin()));
    EXPECT_EQ(r.probes, before.probes) << "allocation " << n;
    if (r.evidence.size() > before.evidence.size()) {
      EXPECT_EQ(r.evidence.back(), (Evidence{long_text, long_text, long_text, long_text, 1}));
    }
  }
}

}  // namespace
}  // namespace oxa
