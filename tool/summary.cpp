// SPDX-License-Identifier: MIT
#include "summary.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/json_report.h"

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

}  // namespace oxa::tool
