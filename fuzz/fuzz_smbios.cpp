// SPDX-License-Identifier: MIT
// Input: a raw SMBIOS structure table. The scan must record exactly one
// "firmware" probe, "ok" or "error" as an independent walk of the table
// decides, and exactly the findings that walk makes from the identity
// strings; the report of the record must parse and round-trip.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/evidence.h"
#include "core/json_report.h"
#include "identity/firmware_markers.h"
#include "identity/smbios_scan.h"
#include "identity_oracle.h"
#include "report_check.h"

namespace {

using oxa::Result;
using oxa::fuzz::check;

constexpr std::string_view kSource = "firmware";
constexpr std::string_view kVmBit = "SMBIOS virtual-machine characteristic";

unsigned at(std::string_view t, std::size_t i) { return static_cast<std::uint8_t>(t[i]); }

// String number `field` of the structure at `start` with formatted length
// `length` and closing NUL pair at `pair`, by the counting rule: skip n - 1
// strings, stop at the pair.
std::string_view string_of(std::string_view t, std::size_t start, std::size_t length, std::size_t pair,
                           std::size_t field) {
  if (field >= length) return {};
  const unsigned n = at(t, start + field);
  if (n == 0) return {};
  std::size_t cursor = start + length;
  for (unsigned i = 1; i < n; ++i) {
    if (cursor >= pair) break;
    while (t[cursor] != '\0') ++cursor;
    ++cursor;
  }
  if (cursor >= pair) return {};
  std::size_t end = cursor;
  while (t[end] != '\0') ++end;
  return t.substr(cursor, end - cursor);
}

// The walk, step by step, with the findings it must make. Returns the status.
std::string_view walk(std::string_view t, Result& want) {
  const std::size_t n = t.size();
  if (n == 0) return "error";
  std::size_t offset = 0;
  for (;;) {
    if (offset == n) return "ok";
    if (n - offset < 4) return "error";
    const std::size_t length = at(t, offset + 1);
    if (length < 4) return "error";
    if (offset + length + 1 >= n) return "error";
    std::size_t pair = offset + length;
    while (pair + 1 < n && !(t[pair] == '\0' && t[pair + 1] == '\0')) ++pair;
    if (pair + 1 >= n) return "error";

    const unsigned type = at(t, offset);
    const auto str = [&](std::size_t field) { return string_of(t, offset, length, pair, field); };
    if (type == 0) {
      oxa::firmware_marker(want, kSource, str(0x04));
      if (length >= 0x14 && (at(t, offset + 0x13) & 0x10u) != 0)
        want.add(kSource, "guest", "unknown", 90, kVmBit);
    } else if (type == 1 || type == 2) {
      for (const std::size_t field : {0x04, 0x05, 0x06}) oxa::firmware_marker(want, kSource, str(field));
    } else if (type == 3) {
      oxa::firmware_cloud_marker(want, kSource, str(0x08));
    }
    offset = pair + 2;
    if (type == 127) return "ok";
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view table(reinterpret_cast<const char*>(data), size);

  Result result;
  oxa::smbios(result, table);

  check(result.probes.size() == 1, "the scan did not record exactly one probe");
  const oxa::Probe& probe = result.probes.front();
  check(probe.source == kSource, "the scan's probe source is not \"firmware\"");
  check(probe.status == "ok" || probe.status == "error",
        "the scan's probe status is neither \"ok\" nor \"error\"");
  for (const oxa::Evidence& e : result.evidence) {
    check(e.source == kSource, "a scan finding whose source is not \"firmware\"");
    if (e.detail == kVmBit) {
      check(e.category == "guest" && e.vendor == "unknown" && e.weight == 90,
            "the virtual-machine characteristic is not (\"guest\", \"unknown\", 90)");
    } else {
      oxa::fuzz::check_marker_entry(e);
    }
  }
  oxa::fuzz::check_record(result);

  Result want;
  const std::string_view status = walk(table, want);
  check(probe.status == status, "the scan's status differs from a walk of the table");
  check(result.evidence == want.evidence, "the scan's findings differ from a walk of the table");

  oxa::fuzz::check_report(oxa::to_json(result, 0), result, 0);
  return 0;
}
