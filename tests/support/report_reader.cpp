// SPDX-License-Identifier: MIT
#include "support/report_reader.h"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/vocabulary.h"
#include "json_text.h"
#include "summary.h"

namespace oxa::test {
namespace {

using tool::find_member;
using tool::Json;
using tool::JsonRead;
using tool::read_json;

// Every member name of a report, its evidence and probe objects included.
constexpr auto kReportNames = [] {
  std::array<const char*, kReportMembers.size() + kEvidenceMembers.size() + kProbeMembers.size()> names{};
  auto* out = std::copy(kReportMembers.begin(), kReportMembers.end(), names.data());
  out = std::copy(kEvidenceMembers.begin(), kEvidenceMembers.end(), out);
  std::copy(kProbeMembers.begin(), kProbeMembers.end(), out);
  return names;
}();

bool read_text(const Json& object, std::string_view key, std::string& out) {
  const Json* v = find_member(object, key);
  if (v == nullptr || !v->is_string()) return false;
  out = v->get_ref<const std::string&>();
  return true;
}

bool read_int32(const Json& object, std::string_view key, std::int32_t& out) {
  const Json* v = find_member(object, key);
  if (v == nullptr || !v->is_number_integer()) return false;
  const auto value = v->get<std::int64_t>();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  out = static_cast<std::int32_t>(value);
  return true;
}

bool read_list(const Json& object, std::string_view key, std::vector<std::string>& out) {
  const Json* v = find_member(object, key);
  if (v == nullptr || !v->is_array()) return false;
  for (const Json& item : *v) {
    if (!item.is_string()) return false;
    out.push_back(item.get_ref<const std::string&>());
  }
  return true;
}

bool read_evidence(const Json& e, Evidence& out) {
  return e.is_object() && read_text(e, "source", out.source) && read_text(e, "category", out.category) &&
         read_text(e, "vendor", out.vendor) && read_int32(e, "weight", out.weight) &&
         read_text(e, "detail", out.detail);
}

bool read_probe(const Json& p, Probe& out) {
  return p.is_object() && read_text(p, "source", out.source) && read_text(p, "status", out.status);
}

}  // namespace

std::optional<Report> read_report(std::string_view document) {
  const JsonRead read = read_json(document, kReportNames);
  if (read.fault != JsonRead::Fault::none || !read.value.is_object()) return std::nullopt;
  const Json& doc = read.value;
  Report report;
  Assessment& a = report.assessment;
  if (!read_int32(doc, "vm_score", a.score) || !read_text(doc, "vm_likelihood", a.likelihood)) {
    return std::nullopt;
  }
  for (std::size_t list = 0; list < kVendorLists.size(); ++list) {
    if (!read_list(doc, kVendorLists[list].name, a.*kListMembers[list])) return std::nullopt;
  }
  const Json* evidence = find_member(doc, "evidence");
  const Json* probes = find_member(doc, "probes");
  if (evidence == nullptr || !evidence->is_array() || probes == nullptr || !probes->is_array()) {
    return std::nullopt;
  }
  for (const Json& e : *evidence) {
    if (!read_evidence(e, report.result.evidence.emplace_back())) return std::nullopt;
  }
  for (const Json& p : *probes) {
    if (!read_probe(p, report.result.probes.emplace_back())) return std::nullopt;
  }
  return report;
}

std::optional<std::string> summarize_report(std::string_view document) {
  const std::optional<Report> report = read_report(document);
  if (!report) return std::nullopt;
  return tool::summarize(report->result, report->assessment);
}

}  // namespace oxa::test
