// SPDX-License-Identifier: MIT
#include "support/json_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <set>

#include "core/json_report.h"
#include "core/version.h"
#include "support/json_bytes.h"

namespace oxa::test {

std::string raw_bytes(const Json& value) {
  const std::optional<std::string> bytes = latin1_bytes(value.get_ref<const std::string&>());
  if (!bytes) ADD_FAILURE() << "code point above U+00FF in " << value.dump();
  return bytes.value_or("");
}

namespace {

void expect_string_list(const Json& list, const char* key) {
  ASSERT_TRUE(list.is_array()) << key;
  std::set<std::string> seen;
  for (const Json& v : list) {
    ASSERT_TRUE(v.is_string()) << key;
    EXPECT_NE(v, "unknown") << key;
    EXPECT_TRUE(seen.insert(v.get<std::string>()).second) << key << " repeats " << v;
  }
}

std::string likelihood_for(int score) {
  if (score >= 90) return "very_likely";
  if (score >= 70) return "likely";
  if (score >= 1) return "possible";
  return "";
}

}  // namespace

Json parse_report(std::string_view document) {
  for (char c : document) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) {
      ADD_FAILURE() << "byte " << int(b) << " outside printable ASCII";
      return nullptr;
    }
  }
  Json report = Json::parse(document, nullptr, false);
  if (report.is_discarded() || !report.is_object()) {
    ADD_FAILURE() << "not a JSON object: " << document;
    return nullptr;
  }
  const auto& kKeys = kReportMembers;
  std::size_t i = 0;
  for (const auto& [key, value] : report.items()) {
    if (i >= kKeys.size() || key != kKeys[i]) {
      ADD_FAILURE() << "member " << i << " is " << key;
      return nullptr;
    }
    ++i;
  }
  if (i != kKeys.size()) {
    ADD_FAILURE() << "report has " << i << " members";
    return nullptr;
  }
  EXPECT_EQ(report["schema_version"], kSchemaVersion);
  EXPECT_EQ(report["module_version"], kVersion);
  EXPECT_TRUE(report["vm_score"].is_number_integer());
  EXPECT_TRUE(report["duration_us"].is_number_integer());
  for (const VendorList& list : kVendorLists) {
    expect_string_list(report[list.name], list.name);
  }
  const int score = report["vm_score"].get<int>();
  EXPECT_GE(score, 0);
  const std::string likelihood = report["vm_likelihood"].get<std::string>();
  if (score > 0) {
    EXPECT_EQ(likelihood, likelihood_for(score)) << "score " << score;
  } else {
    EXPECT_TRUE(likelihood == "not_detected" || likelihood == "unknown") << likelihood;
  }
  EXPECT_TRUE(report["evidence"].is_array());
  for (const Json& e : report["evidence"]) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : e.items()) keys.push_back(key);
    EXPECT_EQ(keys, std::vector<std::string>(kEvidenceMembers.begin(), kEvidenceMembers.end()));
    EXPECT_TRUE(e["weight"].is_number_integer());
  }
  EXPECT_TRUE(report["probes"].is_array());
  for (const Json& p : report["probes"]) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : p.items()) keys.push_back(key);
    EXPECT_EQ(keys, std::vector<std::string>(kProbeMembers.begin(), kProbeMembers.end()));
  }
  return report;
}

void expect_entries(const Json& report, const Result& result) {
  const Json& evidence = report["evidence"];
  ASSERT_EQ(evidence.size(), result.evidence.size());
  for (std::size_t i = 0; i < evidence.size(); ++i) {
    const Evidence& want = result.evidence[i];
    const Json& got = evidence[i];
    EXPECT_EQ(raw_bytes(got["source"]), want.source) << i;
    EXPECT_EQ(raw_bytes(got["category"]), want.category) << i;
    EXPECT_EQ(raw_bytes(got["vendor"]), want.vendor) << i;
    EXPECT_EQ(raw_bytes(got["detail"]), want.detail) << i;
    EXPECT_EQ(got["weight"].get<std::int64_t>(), want.weight) << i;
  }
  const Json& probes = report["probes"];
  ASSERT_EQ(probes.size(), result.probes.size());
  for (std::size_t i = 0; i < probes.size(); ++i) {
    EXPECT_EQ(raw_bytes(probes[i]["source"]), result.probes[i].source) << i;
    EXPECT_EQ(raw_bytes(probes[i]["status"]), result.probes[i].status) << i;
  }
}

}  // namespace oxa::test
