// SPDX-License-Identifier: MIT
#pragma once

// What the marker matchers must record for one identity string, worked out
// byte by byte from a table of each vendor's spellings, independently of the
// library's own table and search. Used by the marker and SMBIOS fuzz targets.

#include <string_view>
#include <vector>

#include "core/evidence.h"

namespace oxa::fuzz {

// Whether two records hold the same findings, in any order: the oracle's
// table is by vendor, the library's in its own order.
bool same_findings(std::vector<Evidence> a, std::vector<Evidence> b);

// The evidence firmware_marker must append to an empty record.
Result expected_marker(std::string_view source, std::string_view text);

// The evidence firmware_cloud_marker must append to an empty record.
Result expected_cloud_marker(std::string_view source, std::string_view text);

// One entry the matchers may record: a vendor's spelling, found as a word
// (weight 85, detail = the spelling), the bare product name (weight 80), or a
// "cloud" row (weight 0); aborts on anything else.
void check_marker_entry(const Evidence& e);

}  // namespace oxa::fuzz
