// SPDX-License-Identifier: MIT
#pragma once

// The answers of --quiet and --brief, for shell scripts: a verdict as an
// exit status, and a vendor as one word. Either speaks of one side, as
// systemd-detect-virt's --vm and --container do: the machine (the default)
// or what encloses this process on it (a container, a compatibility layer).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/assessment.h"
#include "core/vocabulary.h"

namespace oxa::tool {

// The word of no answer: no hypervisor, no container named.
inline constexpr std::string_view kNone = "none";

// The enclosure's lists in report order: containers, then compatibility
// layers.
inline bool encloses(const Assessment& assessment) noexcept {
  for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
    if (kVendorLists[i].subject == Subject::enclosure && !(assessment.*kListMembers[i]).empty()) return true;
  }
  return false;
}

// Exit status 0 when the side is there (a virtual-machine verdict; a
// container or compatibility layer named), 1 when it is not.
inline int verdict_status(const Assessment& assessment, Subject side = Subject::machine) {
  const bool yes = side == Subject::machine ? says_virtual_machine(assessment) : encloses(assessment);
  return yes ? 0 : 1;
}

// The machine: the first hypervisor named by guest findings; a virtual
// machine whose findings name no vendor is "vm-other"; on a root partition,
// which names no guest, the first host hypervisor; else "none".
// The enclosure: the first container, else the first compatibility layer,
// else "none".
inline std::string_view brief_name(const Assessment& assessment, Subject side = Subject::machine) {
  if (side == Subject::enclosure) {
    for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
      const std::vector<std::string>& list = assessment.*kListMembers[i];
      if (kVendorLists[i].subject == Subject::enclosure && !list.empty()) return list.front();
    }
    return kNone;
  }
  if (!assessment.hypervisors.empty()) return assessment.hypervisors.front();
  if (says_virtual_machine(assessment)) return kOtherHypervisor;
  if (!assessment.host_hypervisors.empty()) return assessment.host_hypervisors.front();
  return kNone;
}

// The vendor words the tool may print, by group, with the side whose
// --brief may print them; clouds only the report names.
struct WordGroup {
  std::string_view title;
  std::optional<Subject> answers;
  std::vector<std::string_view> words;
};

inline std::vector<WordGroup> word_groups() {
  std::vector<std::string_view> hypervisors(kHypervisorVendors.begin(), kHypervisorVendors.end());
  hypervisors.push_back(kOtherHypervisor);
  return {
      {"hypervisors", Subject::machine, std::move(hypervisors)},
      {"containers", Subject::enclosure, {kContainerVendors.begin(), kContainerVendors.end()}},
      {"compatibility layers",
       Subject::enclosure,
       {kCompatibilityVendors.begin(), kCompatibilityVendors.end()}},
      {"clouds", std::nullopt, {kCloudVendors.begin(), kCloudVendors.end()}},
  };
}

// --list: one word a line, a blank line between groups. With a side, the
// words --brief may print for it: the hypervisors, or the containers and
// compatibility layers.
inline std::string list_words(std::optional<Subject> side) {
  std::string out;
  for (const WordGroup& group : word_groups()) {
    if (side && group.answers != side) continue;
    if (!out.empty()) out += '\n';
    for (const std::string_view word : group.words) {
      out += word;
      out += '\n';
    }
  }
  return out;
}

}  // namespace oxa::tool
