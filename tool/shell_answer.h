// SPDX-License-Identifier: MIT
#pragma once

// The answers of --quiet and --brief, for shell scripts: a verdict as an
// exit status, and a vendor as one word.

#include <string_view>

#include "core/assessment.h"

namespace oxa::tool {

// Exit status 0 when the verdict says virtual machine, 1 when it does not.
inline int verdict_status(const Assessment& assessment) { return says_virtual_machine(assessment) ? 0 : 1; }

// The first hypervisor named by guest findings; on a root partition, which
// names none, the first host hypervisor; else "none".
inline std::string_view brief_name(const Assessment& assessment) {
  if (!assessment.hypervisors.empty()) return assessment.hypervisors.front();
  if (!assessment.host_hypervisors.empty()) return assessment.host_hypervisors.front();
  return "none";
}

}  // namespace oxa::tool
