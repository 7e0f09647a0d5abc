// SPDX-License-Identifier: MIT
#include "report_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "core/json_report.h"
#include "core/version.h"
#include "support/json_bytes.h"

namespace oxa::fuzz {

void fail(std::string_view what) {
  std::fprintf(stderr, "\ninvariant failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

namespace {

// The bytes a JSON string stands for: the report escapes every byte outside
// printable ASCII as \u00XX, which the parser turns into the code point
// U+00XX (two bytes of UTF-8 from 0x80 up).
std::string raw_bytes(const Json& value) {
  check(value.is_string(), "a string member is not a string");
  std::optional<std::string> bytes = test::latin1_bytes(value.get_ref<const std::string&>());
  check(bytes.has_value(), "a string holds a code point above U+00FF");
  return std::move(*bytes);
}

// The report's quoting rule, written out again for the round trip.
void quote(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b > 0x7E) {
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

void write(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out += ',';
        first = false;
        quote(out, key);
        out += ':';
        write(out, member);
      }
      out += '}';
      break;
    }
    case Json::value_t::array: {
      out += '[';
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (i != 0) out += ',';
        write(out, value[i]);
      }
      out += ']';
      break;
    }
    case Json::value_t::string:
      quote(out, raw_bytes(value));
      break;
    case Json::value_t::number_integer:
      out += std::to_string(value.get<std::int64_t>());
      break;
    case Json::value_t::number_unsigned:
      out += std::to_string(value.get<std::uint64_t>());
      break;
    default:
      fail("a value that is neither object, array, string nor integer");
  }
}

template <std::size_t N>
void check_members(const Json& object, const std::array<const char*, N>& names, std::string_view what) {
  check(object.is_object(), what);
  std::size_t i = 0;
  for (const auto& [key, value] : object.items()) {
    check(i < N && key == names[i], what);
    ++i;
  }
  check(i == N, what);
}

std::vector<std::string> strings_of(const Json& list) {
  std::vector<std::string> out;
  for (const Json& value : list) out.push_back(raw_bytes(value));
  return out;
}

void check_verdict(const Json& report, const Assessment& want) {
  check(report["vm_score"].get<std::int64_t>() == want.score, "vm_score differs from assess");
  check(raw_bytes(report["vm_likelihood"]) == want.likelihood, "vm_likelihood differs from assess");
  for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
    check(strings_of(report[kVendorLists[i].name]) == want.*kListMembers[i],
          "a vendor list differs from assess");
  }
}

}  // namespace

void check_record(const Result& result) {
  for (std::size_t i = 0; i < result.evidence.size(); ++i) {
    const Evidence& e = result.evidence[i];
    check(e.detail.size() <= Result::kMaxDetail, "an evidence detail is longer than 160 bytes");
    for (std::size_t j = 0; j < i; ++j) {
      const Evidence& f = result.evidence[j];
      check(
          !(e.source == f.source && e.category == f.category && e.vendor == f.vendor && e.detail == f.detail),
          "two evidence entries are equal in their four texts");
    }
  }
}

Assessment reference_assessment(const Result& result) {
  Assessment a;
  const auto append = [](std::vector<std::string>& list, const std::string& vendor) {
    if (vendor != "unknown" && std::find(list.begin(), list.end(), vendor) == list.end())
      list.push_back(vendor);
  };
  std::map<std::string, std::int32_t> best;  // per source, over the counted guest evidence
  for (const Evidence& e : result.evidence) {
    if (e.category == "guest") {
      const bool under_host =
          e.source != "firmware" &&
          std::any_of(result.evidence.begin(), result.evidence.end(),
                      [&](const Evidence& h) { return h.category == "host" && h.vendor == e.vendor; });
      if (under_host) continue;
      std::int32_t& b = best[e.source];
      b = std::max(b, e.weight);
    }
    // Each list collects the vendors of its own category.
    for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
      if (e.category == kVendorLists[i].category) append(a.*kListMembers[i], e.vendor);
    }
  }
  int strong = 0;
  for (const auto& [source, weight] : best) {
    a.score = std::max(a.score, weight);
    if (weight >= 50 && source != "timing") ++strong;
  }
  if (strong >= 2) a.score = std::min(a.score, 94) + 5;
  const bool ran = std::any_of(result.probes.begin(), result.probes.end(), [](const Probe& p) {
    return p.status == "ok" && p.source != "container" && p.source != "compatibility";
  });
  if (a.score >= 90) {
    a.likelihood = "very_likely";
  } else if (a.score >= 70) {
    a.likelihood = "likely";
  } else if (a.score >= 1) {
    a.likelihood = "possible";
  } else if (ran) {
    a.likelihood = "not_detected";
  }
  return a;
}

Json parse_report(std::string_view document) {
  for (const char c : document) {
    const auto b = static_cast<unsigned char>(c);
    check(b >= 0x20 && b <= 0x7E, "the document holds a byte outside printable ASCII");
  }
  Json report = Json::parse(document, nullptr, false);
  check(!report.is_discarded(), "the document does not parse as JSON");
  check_members(report, kReportMembers, "the report does not have the twelve members in order");

  std::string again;
  write(again, report);
  check(again == document, "the parsed document written back differs from the original bytes");

  check(report["schema_version"] == kSchemaVersion, "schema_version is not kSchemaVersion");
  check(report["module_version"] == kVersion, "module_version is not the library's version");
  check(report["vm_score"].is_number_integer(), "vm_score is not an integer");
  check(report["duration_us"].is_number_integer(), "duration_us is not an integer");
  check(report["vm_likelihood"].is_string(), "vm_likelihood is not a string");
  for (const VendorList& list : kVendorLists) {
    check(report[list.name].is_array(), "a vendor list is not an array");
    std::set<std::string> seen;
    for (const Json& vendor : report[list.name]) {
      const std::string bytes = raw_bytes(vendor);
      check(bytes != "unknown", "a vendor list holds \"unknown\"");
      check(seen.insert(bytes).second, "a vendor list holds a duplicate");
    }
  }

  const std::int64_t score = report["vm_score"].get<std::int64_t>();
  const std::string likelihood = raw_bytes(report["vm_likelihood"]);
  check(score >= 0, "vm_score is negative");
  if (score >= 90) {
    check(likelihood == "very_likely", "score 90 or more without \"very_likely\"");
  } else if (score >= 70) {
    check(likelihood == "likely", "score 70 to 89 without \"likely\"");
  } else if (score >= 1) {
    check(likelihood == "possible", "score 1 to 69 without \"possible\"");
  } else {
    check(likelihood == "not_detected" || likelihood == "unknown",
          "score 0 with a likelihood other than "
          "\"not_detected\" or \"unknown\"");
  }

  check(report["evidence"].is_array(), "evidence is not an array");
  for (const Json& e : report["evidence"]) {
    check_members(e, kEvidenceMembers, "an evidence object does not have its five members in order");
    check(e["weight"].is_number_integer(), "an evidence weight is not an integer");
    const auto weight = e["weight"].get<std::int64_t>();
    check(weight >= INT32_MIN && weight <= INT32_MAX, "an evidence weight is outside 32 bits");
  }
  check(report["probes"].is_array(), "probes is not an array");
  for (const Json& p : report["probes"]) {
    check_members(p, kProbeMembers, "a probe object does not have its two members in order");
  }

  const Result entries = entries_of(report);
  const Assessment verdict = assess(entries);
  check(verdict == reference_assessment(entries), "assess differs from the scoring rule");
  check_verdict(report, verdict);
  return report;
}

Result entries_of(const Json& report) {
  Result result;
  for (const Json& e : report["evidence"]) {
    result.evidence.push_back({raw_bytes(e["source"]), raw_bytes(e["category"]), raw_bytes(e["vendor"]),
                               raw_bytes(e["detail"]),
                               static_cast<std::int32_t>(e["weight"].get<std::int64_t>())});
  }
  for (const Json& p : report["probes"]) {
    result.probes.push_back({raw_bytes(p["source"]), raw_bytes(p["status"])});
  }
  return result;
}

Json check_report(std::string_view document, const Result& result, std::int64_t duration_us) {
  Json report = parse_report(document);
  const Result entries = entries_of(report);
  check(entries.evidence == result.evidence, "the evidence array differs from the record");
  check(entries.probes == result.probes, "the probes array differs from the record");
  check(report["duration_us"].get<std::int64_t>() == duration_us,
        "duration_us differs from the one passed in");
  return report;
}

}  // namespace oxa::fuzz
