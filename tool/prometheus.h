// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "core/assessment.h"
#include "core/evidence.h"

namespace oxa::tool {

// The verdict as metrics in Prometheus's text format, for node_exporter's
// textfile collector: the score (gauge), the verdict's words as labels of an
// info metric, each probe's outcome as one series per status (1 for the one
// it had), and the time the probes took.
std::string to_prometheus(const Result& result, const Assessment& assessment, std::int64_t duration_us);

}  // namespace oxa::tool
