// SPDX-License-Identifier: MIT
// Input: one identity string, any bytes. It goes through firmware_marker and
// firmware_cloud_marker; both must record exactly what the vendor tables
// say, and a second call with the same text must add nothing.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/evidence.h"
#include "identity/firmware_markers.h"
#include "identity_oracle.h"
#include "report_check.h"

namespace {

using oxa::Result;
using oxa::fuzz::check;

constexpr std::string_view kSource = "firmware";

void check_entries(const Result& result) {
  check(result.probes.empty(), "a marker matcher recorded a probe");
  for (const oxa::Evidence& e : result.evidence) {
    check(e.source == kSource, "a marker finding does not carry the caller's source");
    oxa::fuzz::check_marker_entry(e);
  }
  oxa::fuzz::check_record(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  Result marker;
  oxa::firmware_marker(marker, kSource, text);
  check_entries(marker);
  check(oxa::fuzz::same_findings(marker.evidence, oxa::fuzz::expected_marker(kSource, text).evidence),
        "firmware_marker differs from the tables");
  const auto first = marker.evidence;
  oxa::firmware_marker(marker, kSource, text);
  check(marker.evidence == first && marker.probes.empty(),
        "a second firmware_marker call changed the record");

  Result cloud;
  oxa::firmware_cloud_marker(cloud, kSource, text);
  check_entries(cloud);
  check(oxa::fuzz::same_findings(cloud.evidence, oxa::fuzz::expected_cloud_marker(kSource, text).evidence),
        "firmware_cloud_marker differs from the cloud table");
  for (const oxa::Evidence& e : cloud.evidence) {
    check(e.category == "cloud", "firmware_cloud_marker recorded a finding other than \"cloud\"");
  }
  const auto first_cloud = cloud.evidence;
  oxa::firmware_cloud_marker(cloud, kSource, text);
  check(cloud.evidence == first_cloud, "a second firmware_cloud_marker call changed the record");
  return 0;
}
