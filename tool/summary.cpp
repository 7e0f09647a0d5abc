#include "summary.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/json_report.h"
#include "json_text.h"

namespace oxa::tool {
namespace {

// The vendor lists in the order the summary shows them, as indices into
// kVendorLists: those of the machine first, then those of what encloses the
// process, each in report order.
constexpr auto kShownLists = [] {
  std::array<std::size_t, kVendorLists.size()> shown{};
  std::size_t next = 0;
  for (const Subject subject : {Subject::machine, Subject::enclosure}) {
    for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
      if (kVendorLists[i].subject == subject) shown[next++] = i;
    }
  }
  return shown;
}();

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

// Report texts are raw bytes: keep the terminal safe from control bytes.
std::string printable(std::string_view text) {
  std::string out;
  append_escaped(out, text);
  return out;
}

using Row = std::vector<std::string>;

// Columns padded to their widest cell; the last column is not padded.
void table(std::string& out, const std::vector<Row>& rows) {
  std::vector<std::size_t> width;
  for (const Row& row : rows) {
    width.resize(std::max(width.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  for (const Row& row : rows) {
    out += "  ";
    for (std::size_t i = 0; i < row.size(); ++i) {
      out += row[i];
      if (i + 1 < row.size()) out.append(width[i] - row[i].size() + 2, ' ');
    }
    out += '\n';
  }
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
  for (const std::size_t list : kShownLists) {
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

std::string summarize(const Result& result, const Assessment& assessment) {
  std::string out = "likelihood: " + printable(assessment.likelihood) + " (score " +
                    std::to_string(assessment.score) + ")\n";
  for (const std::size_t list : kShownLists) {
    const std::vector<std::string>& vendors = assessment.*kListMembers[list];
    if (vendors.empty()) continue;
    out += kVendorLists[list].name;
    out += ':';
    for (std::size_t i = 0; i < vendors.size(); ++i) {
      out += i == 0 ? " " : ", ";
      out += printable(vendors[i]);
    }
    out += '\n';
  }

  std::vector<Row> rows;
  for (const Evidence& e : result.evidence) {
    rows.push_back({printable(e.source), printable(e.category), printable(e.vendor), std::to_string(e.weight),
                    printable(e.detail)});
  }
  if (!rows.empty()) {
    out += "evidence:\n";
    table(out, rows);
  }
  rows.clear();
  for (const Probe& p : result.probes) rows.push_back({printable(p.source), printable(p.status)});
  if (!rows.empty()) {
    out += "probes:\n";
    table(out, rows);
  }
  return out;
}

std::optional<std::string> summarize(std::string_view document) {
  const std::optional<Report> report = read_report(document);
  if (!report) return std::nullopt;
  return summarize(report->result, report->assessment);
}

}  // namespace oxa::tool
