#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/assessment.h"
#include "core/evidence.h"

namespace oxa::tool {

// What a report stands for: the record of a run and its verdict.
struct Report {
  Result result;
  Assessment assessment;
};

// Reads a report document: its score, likelihood, vendor lists, evidence
// and probes. Nothing when the document is not a report.
std::optional<Report> read_report(std::string_view document);

// A short human-readable verdict: likelihood and score, the non-empty
// vendor lists, then one aligned line per evidence entry and per probe.
std::string summarize(const Result& result, const Assessment& assessment);

// The same, of a report document; nothing when it is not a report.
std::optional<std::string> summarize(std::string_view document);

}  // namespace oxa::tool
