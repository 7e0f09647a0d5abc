// SPDX-License-Identifier: MIT
#pragma once

// Invariant checks shared by the fuzz targets. A failed check prints what
// broke and aborts, so libFuzzer saves the input as a crash.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/assessment.h"
#include "core/evidence.h"

namespace oxa::fuzz {

using Json = nlohmann::ordered_json;

[[noreturn]] void fail(std::string_view what);
inline void check(bool ok, std::string_view what) {
  if (!ok) fail(what);
}

// The record's own invariants: every detail at most 160 bytes, no two
// evidence entries equal in source, category, vendor and detail.
void check_record(const Result& result);

// The scoring rule read straight from its description, to compare assess with.
Assessment reference_assessment(const Result& result);

// Parses a report and checks everything that holds for any report: printable
// ASCII without NUL; the twelve members in order with their types; evidence
// and probe objects with their members in order; every string decodes to
// bytes (no code point above U+00FF); writing the parsed document back with
// the report's own rules (no whitespace, plain decimals, \u00xx escapes)
// gives the same bytes; the verdict lists hold no duplicate and no "unknown";
// the likelihood fits the score; the verdict is that of the record the
// evidence and probe arrays stand for.
Json parse_report(std::string_view document);

// The record a report's evidence and probe arrays stand for, byte for byte.
Result entries_of(const Json& report);

// parse_report, then: the arrays hold exactly the record's entries, the
// verdict is assess(result), and duration_us is the one passed in.
Json check_report(std::string_view document, const Result& result, std::int64_t duration_us);

}  // namespace oxa::fuzz
