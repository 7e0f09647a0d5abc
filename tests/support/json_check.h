// SPDX-License-Identifier: MIT
#pragma once

// Checks of report documents with an independent JSON parser.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/evidence.h"

namespace oxa::test {

using Json = nlohmann::ordered_json;

// The bytes a JSON string stood for: the parser decodes \u00XX into the code
// point U+00XX, which is turned back into the single byte XX. Fails the
// current test on a code point above U+00FF.
std::string raw_bytes(const Json& string_value);

// Parses a report and checks its shape: printable ASCII without NUL, the
// twelve members in order with their types, evidence and probe objects with
// their members in order, and a likelihood that fits the score. Fails the
// current test and returns null on any fault.
Json parse_report(std::string_view document);

// The report's evidence and probe arrays hold exactly the record's entries.
void expect_entries(const Json& report, const Result& result);

}  // namespace oxa::test
