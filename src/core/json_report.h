#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/evidence.h"

namespace oxa {

// The report's shape, for whoever reads or checks one: its members in
// order, the vendor lists among them, and the members of an evidence and of
// a probe object in order.
inline constexpr std::array<const char*, 12> kReportMembers = {
    "schema_version", "module_version",       "vm_score",         "vm_likelihood",   "hypervisors",
    "containers",     "compatibility_layers", "host_hypervisors", "cloud_providers", "evidence",
    "probes",         "duration_us"};
inline constexpr std::array<const char*, 5> kVendorLists = {
    "hypervisors", "containers", "compatibility_layers", "host_hypervisors", "cloud_providers"};
inline constexpr std::array<const char*, 5> kEvidenceMembers = {"source", "category", "vendor", "weight",
                                                                "detail"};
inline constexpr std::array<const char*, 2> kProbeMembers = {"source", "status"};

// Writes the report of one run: twelve members in fixed order, no
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
