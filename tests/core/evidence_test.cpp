// SPDX-License-Identifier: MIT
#include "core/evidence.h"

#include <gtest/gtest.h>

#include <string>

namespace oxa {
namespace {

TEST(ResultAdd, CutsDetailAt160BytesBeforeComparing) {
  Result r;
  const std::string exact(160, 'a');
  r.add("s", "c", "v", 1, exact);
  ASSERT_EQ(r.evidence.size(), 1u);
  EXPECT_EQ(r.evidence[0].detail, exact);

  // 161 bytes agreeing in the first 160 is the same finding.
  r.add("s", "c", "v", 2, exact + "b");
  EXPECT_EQ(r.evidence.size(), 1u);

  // The cut counts bytes: a two-byte sequence straddling byte 160 is split.
  const std::string straddle = std::string(159, 'x') + "\xC3\xA9" + "tail";
  r.add("s", "c", "v", 3, straddle);
  ASSERT_EQ(r.evidence.size(), 2u);
  EXPECT_EQ(r.evidence[1].detail, std::string(159, 'x') + "\xC3");
}

TEST(ResultAdd, DropsDuplicatesOfAnyStoredEntryIgnoringWeight) {
  Result r;
  r.add("cpu", "guest", "kvm", 95, "KVMKVMKVM");
  r.add("firmware", "guest", "qemu", 85, "qemu");
  r.add("cpu", "guest", "kvm", 50, "KVMKVMKVM");  // repeats the first, not the last
  ASSERT_EQ(r.evidence.size(), 2u);
  EXPECT_EQ(r.evidence[0].weight, 95);
}

TEST(ResultAdd, EntriesDifferingInOneTextAreKept) {
  struct Case {
    const char* source;
    const char* category;
    const char* vendor;
    const char* detail;
  };
  const Case cases[] = {
      {"CPU", "guest", "kvm", "d"}, {"cpu", "Guest", "kvm", "d"}, {"cpu", "guest", "KVM", "d"},
      {"cpu", "guest", "kvm", "D"}, {"cpu", "guest", "kvm", ""},  {"", "", "", ""},
  };
  Result r;
  r.add("cpu", "guest", "kvm", 1, "d");
  for (const Case& c : cases) r.add(c.source, c.category, c.vendor, 1, c.detail);
  EXPECT_EQ(r.evidence.size(), 1u + std::size(cases));
}

TEST(ResultAdd, KeepsArbitraryBytesAndFieldOrder) {
  Result r;
  const std::string bytes("\0\x01\xff\"\\", 5);
  r.add(bytes, "c", "v", -7, bytes);
  ASSERT_EQ(r.evidence.size(), 1u);
  EXPECT_EQ(r.evidence[0], (Evidence{bytes, "c", "v", bytes, -7}));
}

TEST(ResultProbe, NeverDeduplicates) {
  Result r;
  r.probe("cpu", "ok");
  r.probe("cpu", "ok");
  EXPECT_EQ(r.probes, (std::vector<Probe>{{"cpu", "ok"}, {"cpu", "ok"}}));
}

TEST(Lower, TouchesOnlyAsciiCapitals) {
  EXPECT_EQ(lower("Microsoft Hv"), "microsoft hv");
  EXPECT_EQ(lower("\xC3\x84@[`{Z"), "\xC3\x84@[`{z");
  EXPECT_EQ(lower(std::string("A\0B", 3)), std::string("a\0b", 3));
  EXPECT_EQ(lower(""), "");
}

}  // namespace
}  // namespace oxa
