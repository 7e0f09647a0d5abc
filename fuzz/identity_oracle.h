// SPDX-License-Identifier: MIT
#pragma once

// What the marker matchers must record for one identity string, worked out
// byte by byte from the vendor tables, independently of the library's own
// search. Used by the marker and SMBIOS fuzz targets.

#include <string_view>

#include "core/evidence.h"

namespace oxa::fuzz {

// The evidence firmware_marker must append to an empty record.
Result expected_marker(std::string_view source, std::string_view text);

// The evidence firmware_cloud_marker must append to an empty record.
Result expected_cloud_marker(std::string_view source, std::string_view text);

// One entry the matchers may record: a "guest" row of the product table
// (weight 85, detail = its needle), the bare product name (weight 80), or a
// "cloud" row (weight 0); aborts on anything else.
void check_marker_entry(const Evidence& e);

}  // namespace oxa::fuzz
