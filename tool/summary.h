// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "core/assessment.h"
#include "core/evidence.h"

namespace oxa::tool {

// A short human-readable verdict: likelihood and score, the non-empty
// vendor lists, then one aligned line per evidence entry and per probe.
std::string summarize(const Result& result, const Assessment& assessment);

}  // namespace oxa::tool
