// SPDX-License-Identifier: MIT
// Input: a record and a duration. Layout, front to back (ByteReader: past the
// end everything reads as zero):
//   i64 duration_us
//   then entries until the input ends, each led by one byte:
//     even: an evidence entry: text source, text category, text vendor,
//           weight, text detail
//     odd:  a probe entry: text source, text status
//   text:   one byte m; m < 0x80 picks a word of kWords (m % size); otherwise
//           ((m & 0x7F) << 8 | next byte) raw bytes follow (any byte value,
//           lengths past 160 included)
//   weight: one byte w; w < 0xC0 picks one of kWeights; otherwise an i32
// Every add is checked against the record's rule (cut to 160 bytes, no
// entry equal in its four texts), then the report of the record must hold
// the record byte for byte and the verdict of assess.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "byte_reader.h"
#include "core/evidence.h"
#include "core/json_report.h"
#include "report_check.h"

namespace {

using oxa::Result;
using oxa::fuzz::ByteReader;
using oxa::fuzz::check;
using namespace std::string_view_literals;

// The words the verdict reacts to, near misses, and bytes that need escaping.
constexpr std::string_view kWords[] = {
    ""sv,        "cpu"sv,         "system"sv,        "firmware"sv,
    "timing"sv,  "container"sv,   "compatibility"sv, "guest"sv,
    "host"sv,    "cloud"sv,       "diagnostic"sv,    "Guest"sv,
    "ok"sv,      "unavailable"sv, "error"sv,         "unknown"sv,
    "kvm"sv,     "hyperv"sv,      "vmware"sv,        "docker"sv,
    "rosetta"sv, "\"\\/"sv,       "\0x\x7f"sv,       "\xc3\xa9\xff\x80"sv,
};

constexpr std::int32_t kWeights[] = {0,
                                     1,
                                     49,
                                     50,
                                     69,
                                     70,
                                     80,
                                     85,
                                     89,
                                     90,
                                     94,
                                     95,
                                     99,
                                     100,
                                     -1,
                                     -50,
                                     std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()};

std::string_view text(ByteReader& in) {
  const std::uint8_t m = in.u8();
  if (m < 0x80) return kWords[m % std::size(kWords)];
  return in.bytes(static_cast<std::size_t>((m & 0x7Fu) << 8 | in.u8()));
}

std::int32_t weight(ByteReader& in) {
  const std::uint8_t w = in.u8();
  if (w < 0xC0) return kWeights[w % std::size(kWeights)];
  return in.number<std::int32_t>();
}

// Result::add by its rule: the detail cut to 160 bytes; nothing recorded
// when an entry with the same four texts is stored.
void add_checked(Result& result, std::string_view source, std::string_view category, std::string_view vendor,
                 std::int32_t w, std::string_view detail) {
  const std::string_view cut = detail.substr(0, Result::kMaxDetail);
  bool duplicate = false;
  for (const oxa::Evidence& e : result.evidence) {
    duplicate =
        duplicate || (e.source == source && e.category == category && e.vendor == vendor && e.detail == cut);
  }
  const std::size_t before = result.evidence.size();
  result.add(source, category, vendor, w, detail);
  if (duplicate) {
    check(result.evidence.size() == before, "add recorded a duplicate");
  } else {
    check(result.evidence.size() == before + 1, "add dropped an entry that has no duplicate");
    const oxa::Evidence want{std::string(source), std::string(category), std::string(vendor),
                             std::string(cut), w};
    check(result.evidence.back() == want, "add stored something other than its arguments");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const auto duration_us = in.number<std::int64_t>();

  Result result;
  while (!in.empty()) {
    if (in.u8() % 2 == 0) {
      const std::string_view source = text(in);
      const std::string_view category = text(in);
      const std::string_view vendor = text(in);
      const std::int32_t w = weight(in);
      add_checked(result, source, category, vendor, w, text(in));
    } else {
      const std::string_view source = text(in);
      const std::string_view status = text(in);
      const std::size_t before = result.probes.size();
      result.probe(source, status);
      check(result.probes.size() == before + 1 && result.probes.back().source == source &&
                result.probes.back().status == status,
            "probe did not append its entry");
    }
  }
  oxa::fuzz::check_record(result);

  const std::string document = oxa::to_json(result, duration_us);
  oxa::fuzz::check_report(document, result, duration_us);
  check(document == oxa::to_json(result, duration_us), "two reports of the same record differ");
  return 0;
}
