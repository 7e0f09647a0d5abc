// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/evidence.h"
#include "core/vocabulary.h"

namespace oxa {

// The layout of the report: the value of its member "schema_version". The
// members themselves are those of core/vocabulary.h (kReportMembers and the
// lists around it).
inline constexpr std::int64_t kSchemaVersion = 1;

// Writes the report of one run: the members of kReportMembers in order, no
// whitespace, and every byte outside printable ASCII escaped as \u00XX, so
// the document is printable ASCII without NUL whatever the record holds.
std::string to_json(const Result& result, std::int64_t duration_us);

// Appends `text` as the inside of a JSON string: '"' and '\\' get a
// backslash and every byte outside printable ASCII becomes \u00XX, one
// escape per byte. The output is printable ASCII, and the bytes come back
// exactly when it is read as JSON.
void append_escaped(std::string& out, std::string_view text);

// The number of characters append_escaped adds for `text`.
std::size_t escaped_size(std::string_view text) noexcept;

}  // namespace oxa
