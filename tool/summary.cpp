#include "summary.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/json_report.h"
#include "report_reader.h"

namespace oxa::tool {
namespace {

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

const std::string* text_of(const JsonValue& object, std::string_view key) {
  const JsonValue* v = object.find(key);
  return v != nullptr && v->kind == JsonValue::Kind::string ? &v->text : nullptr;
}

}  // namespace

std::optional<std::string> summarize(std::string_view document) {
  const std::optional<JsonValue> report = parse_json(document);
  if (!report || report->kind != JsonValue::Kind::object) return std::nullopt;
  const JsonValue* score = report->find("vm_score");
  const std::string* likelihood = text_of(*report, "vm_likelihood");
  const JsonValue* evidence = report->find("evidence");
  const JsonValue* probes = report->find("probes");
  if (score == nullptr || score->kind != JsonValue::Kind::number || likelihood == nullptr ||
      evidence == nullptr || evidence->kind != JsonValue::Kind::array || probes == nullptr ||
      probes->kind != JsonValue::Kind::array) {
    return std::nullopt;
  }

  std::string out =
      "likelihood: " + printable(*likelihood) + " (score " + std::to_string(score->number) + ")\n";
  static constexpr std::array<const char*, 5> kLists = {"hypervisors", "host_hypervisors", "cloud_providers",
                                                        "containers", "compatibility_layers"};
  for (const char* key : kLists) {
    const JsonValue* list = report->find(key);
    if (list == nullptr || list->kind != JsonValue::Kind::array || list->items.empty()) continue;
    out += key;
    out += ':';
    for (std::size_t i = 0; i < list->items.size(); ++i) {
      out += i == 0 ? " " : ", ";
      out += printable(list->items[i].text);
    }
    out += '\n';
  }

  std::vector<Row> rows;
  for (const JsonValue& e : evidence->items) {
    Row row;
    for (const char* key : {"source", "category", "vendor"}) {
      const std::string* t = text_of(e, key);
      row.push_back(t != nullptr ? printable(*t) : "?");
    }
    const JsonValue* weight = e.find("weight");
    row.push_back(weight != nullptr ? std::to_string(weight->number) : "?");
    const std::string* detail = text_of(e, "detail");
    row.push_back(detail != nullptr ? printable(*detail) : "?");
    rows.push_back(std::move(row));
  }
  if (!rows.empty()) {
    out += "evidence:\n";
    table(out, rows);
  }
  rows.clear();
  for (const JsonValue& p : probes->items) {
    const std::string* source = text_of(p, "source");
    const std::string* status = text_of(p, "status");
    rows.push_back(
        {source != nullptr ? printable(*source) : "?", status != nullptr ? printable(*status) : "?"});
  }
  if (!rows.empty()) {
    out += "probes:\n";
    table(out, rows);
  }
  return out;
}

}  // namespace oxa::tool
