#pragma once

#include <cstdint>
#include <string>

#include "core/evidence.h"

namespace oxa {

// Writes the report of one run: twelve members in fixed order, no
// whitespace, and every byte outside printable ASCII escaped as \u00XX, so
// the document is printable ASCII without NUL whatever the record holds.
std::string to_json(const Result& result, std::int64_t duration_us);

}  // namespace oxa
