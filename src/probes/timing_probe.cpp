// SPDX-License-Identifier: MIT
#include "probes/timing_probe.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "core/vocabulary.h"

namespace oxa {
namespace {

void append(std::string& text, std::uint64_t value) {
  char digits[20];  // 2^64 - 1 has 20 digits
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  static_cast<void>(error);  // cannot overflow 20 characters
  text.append(digits, end);
}

}  // namespace

void detect_timing(Result& result, const Timing& timing) {
  result.probe(sources::timing, !timing.available ? statuses::unavailable
                                : !timing.valid   ? statuses::error
                                                  : statuses::ok);
  if (!timing.valid) return;

  const bool identity = std::any_of(result.evidence.begin(), result.evidence.end(), [](const Evidence& e) {
    return e.category == categories::guest || e.category == categories::host;
  });
  const bool quiet = identity || timing.cycles_over_baseline <= kSlowCpuidTicks;

  std::string detail = "cpuid ";
  append(detail, timing.cycles_over_baseline);
  detail += " cycles over baseline (";
  detail += quiet ? "threshold " : "over ";
  append(detail, kSlowCpuidTicks);
  detail += ")";
  if (!quiet) detail += "; no hypervisor identity";

  if (quiet) {
    result.add(sources::timing, categories::diagnostic, kNoVendor, weights::none, detail);
  } else {
    result.add(sources::timing, categories::guest, kNoVendor, weights::suggestive, detail);
  }
}

}  // namespace oxa
