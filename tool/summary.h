#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace oxa::tool {

// A short human-readable verdict of a report document: likelihood and
// score, the non-empty vendor lists, then one aligned line per evidence
// entry and per probe. Nothing when the document is not a report.
std::optional<std::string> summarize(std::string_view document);

}  // namespace oxa::tool
