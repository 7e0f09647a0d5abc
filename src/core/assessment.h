// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/evidence.h"
#include "core/vocabulary.h"

namespace oxa {

// The verdict over one Result. Every list is free of duplicates and of
// "unknown", in the order its vendors were first met.
struct Assessment {
  std::int32_t score = 0;
  std::string likelihood{likelihoods::unknown};
  // One list per row of kVendorLists, in its order and under the name the
  // report gives it (hypervisors, containers, ...).
#define OXA_LIST_FIELD_(name, category, subject) std::vector<std::string> name;
  OXA_VENDOR_LISTS(OXA_LIST_FIELD_)
#undef OXA_LIST_FIELD_

  friend bool operator==(const Assessment&, const Assessment&) = default;
};

// The Assessment's list of each row of kVendorLists, in the same order.
inline constexpr std::array<std::vector<std::string> Assessment::*, kVendorLists.size()> kListMembers = {
#define OXA_LIST_MEMBER_(name, category, subject) &Assessment::name,
    OXA_VENDOR_LISTS(OXA_LIST_MEMBER_)
#undef OXA_LIST_MEMBER_
};

Assessment assess(const Result& result);

// Whether the verdict says virtual machine: "likely" or "very_likely". The
// one place that draws that line, for whoever answers yes or no.
inline bool says_virtual_machine(const Assessment& assessment) noexcept {
  return lowest_score(assessment.likelihood) >= lowest_score(likelihoods::likely);
}

}  // namespace oxa
