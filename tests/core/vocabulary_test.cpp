// SPDX-License-Identifier: MIT
// The report's prose against its vocabulary: the JSON Schema and the
// README's report table must name exactly the members, lists and words of
// core/vocabulary.h, so that a row added on either side alone fails here.

#include "core/vocabulary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/assessment.h"
#include "core/json_report.h"

namespace oxa {
namespace {

using Json = nlohmann::ordered_json;
using Words = std::vector<std::string>;

std::string text_of(const std::string& relative_path) {
  std::ifstream in(std::string(OXA_PROJECT_DIR) + "/" + relative_path, std::ios::binary);
  EXPECT_TRUE(in) << relative_path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const Json& schema() {
  static const Json parsed = Json::parse(text_of("doc/report.schema.json"));
  return parsed;
}

template <class Table>
Words words_of(const Table& table) {
  Words out;
  for (const auto& entry : table) {
    if constexpr (requires { entry.word; }) {
      out.emplace_back(entry.word);
    } else {
      out.emplace_back(entry);
    }
  }
  return out;
}

Words names_of(const std::array<VendorList, kVendorLists.size()>& lists) {
  Words out;
  for (const VendorList& list : lists) out.emplace_back(list.name);
  return out;
}

std::set<std::string> set_of(const Words& words) { return {words.begin(), words.end()}; }

// The vendor words a schema description lists after its colon, comma
// separated: "on Linux only: docker, podman, wsl (WSL 2), lxc." gives
// docker, podman, wsl and lxc.
std::set<std::string> listed_in(const std::string& description) {
  std::set<std::string> out;
  std::istringstream items(description.substr(description.find(": ") + 2));
  for (std::string item; std::getline(items, item, ',');) {
    item.erase(0, item.find_first_not_of(' '));
    item = item.substr(0, item.find_first_of(" ."));
    out.insert(item);
  }
  return out;
}

// The texts between backticks in one line, quotes around them dropped:
// "`\"ok\"` and `source`" gives ok and source.
Words backticked(const std::string& line) {
  Words out;
  for (std::size_t open = line.find('`'); open != std::string::npos; open = line.find('`', open + 1)) {
    const std::size_t close = line.find('`', open + 1);
    if (close == std::string::npos) break;
    std::string word = line.substr(open + 1, close - open - 1);
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') word = word.substr(1, word.size() - 2);
    out.push_back(word);
    open = close;
  }
  return out;
}

// The rows of the README's report table: member name, then the meaning.
std::vector<std::pair<std::string, std::string>> readme_report_rows() {
  std::istringstream readme(text_of("README.md"));
  std::vector<std::pair<std::string, std::string>> rows;
  bool in_section = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.starts_with("## ")) in_section = line == "## The report";
    if (!in_section || !line.starts_with("| `")) continue;
    const std::size_t name_end = line.find('`', 3);
    rows.emplace_back(line.substr(3, name_end - 3), line.substr(line.find('|', name_end) + 1));
  }
  return rows;
}

TEST(Vocabulary, SchemaHasTheReportMembersInOrder) {
  const Json& s = schema();
  EXPECT_EQ(s["required"].get<Words>(), Words(kReportMembers.begin(), kReportMembers.end()));
  Words properties;
  for (const auto& [name, value] : s["properties"].items()) properties.push_back(name);
  EXPECT_EQ(properties, Words(kReportMembers.begin(), kReportMembers.end()));
  EXPECT_EQ(s["properties"]["schema_version"]["const"], kSchemaVersion);

  const Json& defs = s["$defs"];
  EXPECT_EQ(defs["evidence"]["required"].get<Words>(),
            Words(kEvidenceMembers.begin(), kEvidenceMembers.end()));
  EXPECT_EQ(defs["probe"]["required"].get<Words>(), Words(kProbeMembers.begin(), kProbeMembers.end()));
}

TEST(Vocabulary, SchemaVendorListsAreTheVocabularys) {
  Words lists;
  for (const auto& [name, value] : schema()["properties"].items()) {
    if (value.value("$ref", "") == "#/$defs/vendor_list") lists.push_back(name);
  }
  EXPECT_EQ(lists, names_of(kVendorLists));

  const Json& properties = schema()["properties"];
  EXPECT_EQ(listed_in(properties["containers"]["description"]), set_of(words_of(kContainerVendors)));
  EXPECT_EQ(listed_in(properties["compatibility_layers"]["description"]),
            set_of(words_of(kCompatibilityVendors)));
}

TEST(Vocabulary, SchemaEnumsAreTheVocabularysWords) {
  const Json& evidence = schema()["$defs"]["evidence"]["properties"];
  const Json& probe = schema()["$defs"]["probe"]["properties"];
  EXPECT_EQ(evidence["source"]["enum"].get<Words>(), words_of(kSources));
  EXPECT_EQ(probe["source"]["enum"].get<Words>(), words_of(kSources));
  EXPECT_EQ(evidence["category"]["enum"].get<Words>(), words_of(kCategories));
  EXPECT_EQ(probe["status"]["enum"].get<Words>(), words_of(kStatuses));
  EXPECT_EQ(schema()["properties"]["vm_likelihood"]["enum"].get<Words>(), words_of(kLikelihoods));
}

// Each likelihood above 0 holds the scores from its own lowest up to the
// next stronger one's, as the schema's conditions say.
TEST(Vocabulary, SchemaScoreBandsAreTheLikelihoods) {
  std::int64_t above = schema()["properties"]["vm_score"]["maximum"].get<std::int64_t>() + 1;
  std::size_t banded = 0;
  for (const LikelihoodWord& likelihood : kLikelihoods) {
    if (likelihood.lowest_score == 0) continue;
    for (const Json& rule : schema()["allOf"]) {
      if (rule["if"]["properties"]["vm_likelihood"].value("const", "") != likelihood.word) continue;
      const Json& score = rule["then"]["properties"]["vm_score"];
      EXPECT_EQ(score["minimum"], likelihood.lowest_score) << likelihood.word;
      EXPECT_EQ(score.value("maximum", above - 1), above - 1) << likelihood.word;
      ++banded;
    }
    above = likelihood.lowest_score;
  }
  EXPECT_EQ(banded,
            static_cast<std::size_t>(std::count_if(kLikelihoods.begin(), kLikelihoods.end(),
                                                   [](const auto& l) { return l.lowest_score > 0; })));
}

TEST(Vocabulary, ReadmeReportTableIsTheVocabularys) {
  const auto rows = readme_report_rows();
  Words members;
  for (const auto& [member, meaning] : rows) members.push_back(member);
  ASSERT_EQ(members, Words(kReportMembers.begin(), kReportMembers.end()));

  const auto meaning_of = [&](std::string_view member) {
    return std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.first == member; })
        ->second;
  };
  EXPECT_EQ(set_of(backticked(meaning_of("containers"))), set_of(words_of(kContainerVendors)));
  EXPECT_EQ(set_of(backticked(meaning_of("compatibility_layers"))), set_of(words_of(kCompatibilityVendors)));
  EXPECT_EQ(backticked(meaning_of("vm_likelihood")), words_of(kLikelihoods));
  EXPECT_EQ(backticked(meaning_of("evidence")), Words(kEvidenceMembers.begin(), kEvidenceMembers.end()));

  Words probes = Words(kProbeMembers.begin(), kProbeMembers.end());
  const Words statuses = words_of(kStatuses);
  probes.insert(probes.end(), statuses.begin(), statuses.end());
  EXPECT_EQ(backticked(meaning_of("probes")), probes);
}

// A finding of each list's category lands in that list alone, in the
// Assessment and in the report.
TEST(Vocabulary, EachCategoryFeedsItsOwnList) {
  for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
    Result r;
    r.add("x", kVendorLists[i].category, "v", 0, "");
    const Assessment a = assess(r);
    const std::string report = to_json(r, 0);
    for (std::size_t j = 0; j < kVendorLists.size(); ++j) {
      const std::string written =
          std::string("\"") + kVendorLists[j].name + "\":" + (i == j ? "[\"v\"]" : "[]");
      EXPECT_EQ(a.*kListMembers[j], i == j ? Words{"v"} : Words{}) << kVendorLists[j].name;
      EXPECT_NE(report.find(written), std::string::npos) << written;
    }
  }
  Result diagnostic;
  diagnostic.add("timing", categories::diagnostic, "v", 0, "");
  EXPECT_EQ(assess(diagnostic), Assessment{});
}

}  // namespace
}  // namespace oxa
