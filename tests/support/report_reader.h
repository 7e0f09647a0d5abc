// SPDX-License-Identifier: MIT
#pragma once

// Reading a report document back into the record and verdict it stands
// for, to hold what the tool prints against what the library wrote.

#include <optional>
#include <string>
#include <string_view>

#include "core/assessment.h"
#include "core/evidence.h"

namespace oxa::test {

struct Report {
  Result result;
  Assessment assessment;
};

// The score, likelihood, vendor lists, evidence and probes of a report
// document; nothing when the document is not a report.
std::optional<Report> read_report(std::string_view document);

// The tool's summary of a report document; nothing when it is not one.
std::optional<std::string> summarize_report(std::string_view document);

}  // namespace oxa::test
