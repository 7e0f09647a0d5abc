// SPDX-License-Identifier: MIT
#pragma once

// Expected evidence lists for the identity tests, and readable failure output.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/evidence.h"

namespace oxa {

inline void PrintTo(const Evidence& e, std::ostream* os) {
  *os << "{" << e.source << ", " << e.category << ", " << e.vendor << ", " << e.weight << ", \"" << e.detail
      << "\"}";
}

namespace test {

// One expected finding in the order (source, category, vendor, weight, detail).
inline Evidence ev(std::string source, std::string category, std::string vendor, std::int32_t weight,
                   std::string detail) {
  return Evidence{std::move(source), std::move(category), std::move(vendor), std::move(detail), weight};
}

// The findings the identity code records with source "firmware".
inline Evidence guest(std::string vendor, std::string detail) {
  return ev("firmware", "guest", std::move(vendor), 85, std::move(detail));
}
inline Evidence cloud(std::string vendor, std::string detail) {
  return ev("firmware", "cloud", std::move(vendor), 0, std::move(detail));
}
inline Evidence product() { return ev("firmware", "guest", "unknown", 80, "Virtual Machine product"); }
inline Evidence vm_bit() {
  return ev("firmware", "guest", "unknown", 90, "SMBIOS virtual-machine characteristic");
}

using Evidences = std::vector<Evidence>;

}  // namespace test
}  // namespace oxa
