// SPDX-License-Identifier: MIT
#include "core/json_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <set>

#include "core/assessment.h"
#include "core/version.h"
#include "support/json_check.h"

namespace oxa {
namespace {

using test::Json;

TEST(ToJson, WorkedExamplesByteForByte) {
  Result kvm;
  kvm.add("cpu", "guest", "kvm", 95, "KVMKVMKVM");
  kvm.probe("cpu", "ok");
  kvm.probe("timing", "unavailable");
  EXPECT_EQ(to_json(kvm, 1234),
            R"({"schema_version":1,"module_version":")" + std::string(kVersion) +
                R"(","vm_score":95,"vm_likelihood":"very_likely",)"
                R"("hypervisors":["kvm"],"containers":[],"compatibility_layers":[],"host_hypervisors":[],)"
                R"("cloud_providers":[],"evidence":[{"source":"cpu","category":"guest","vendor":"kvm",)"
                R"("weight":95,"detail":"KVMKVMKVM"}],"probes":[{"source":"cpu","status":"ok"},)"
                R"({"source":"timing","status":"unavailable"}],"duration_us":1234})");

  EXPECT_EQ(to_json(Result{}, 0),
            R"({"schema_version":1,"module_version":")" + std::string(kVersion) +
                R"(","vm_score":0,"vm_likelihood":"unknown",)"
                R"("hypervisors":[],"containers":[],"compatibility_layers":[],"host_hypervisors":[],)"
                R"("cloud_providers":[],"evidence":[],"probes":[],"duration_us":0})");
}

// The detail of a single finding as it stands in the document.
std::string written_detail(std::string_view detail) {
  Result r;
  r.add("s", "c", "v", 0, detail);
  const std::string doc = to_json(r, 0);
  const std::string open = R"("detail":)";
  const auto start = doc.find(open) + open.size();
  return doc.substr(start, doc.find("}]", start) - start);
}

TEST(ToJson, QuotesEveryByteOutsidePrintableAscii) {
  const struct {
    std::string raw;
    std::string written;
  } cases[] = {
      {std::string("a\"\\\n\xC3", 5), R"("a\"\\\u000a\u00c3")"},
      {"", R"("")"},
      {"/usr/bin", R"("/usr/bin")"},
      {"\t\r\b\f", R"("\u0009\u000d\u0008\u000c")"},
      {std::string("\0\x1f\x7f\x80\xff", 5), R"("\u0000\u001f\u007f\u0080\u00ff")"},
      {"\xC3\xA9", R"("\u00c3\u00a9")"},
      {" ~", R"(" ~")"},
  };
  for (const auto& c : cases) EXPECT_EQ(written_detail(c.raw), c.written);
}

TEST(ToJson, ArraysAndNumbers) {
  Result r;
  r.add("cpu", "guest", "kvm", std::numeric_limits<std::int32_t>::min(), "1");
  r.add("firmware", "guest", "qemu", 0, "2");
  r.add("x", "cloud", "a\"b", -1, "3");
  const std::string doc = to_json(r, std::numeric_limits<std::int64_t>::max());
  EXPECT_NE(doc.find(R"("hypervisors":["kvm","qemu"])"), std::string::npos);
  EXPECT_NE(doc.find(R"("cloud_providers":["a\"b"])"), std::string::npos);
  EXPECT_NE(doc.find(R"("weight":-2147483648,)"), std::string::npos);
  EXPECT_NE(doc.find(R"("weight":0,)"), std::string::npos);
  EXPECT_NE(doc.find(R"("weight":-1,)"), std::string::npos);
  EXPECT_NE(doc.find(R"("duration_us":9223372036854775807})"), std::string::npos);
  EXPECT_NE(to_json(Result{}, -5).find(R"("duration_us":-5})"), std::string::npos);
  EXPECT_NE(to_json(Result{}, 5'000'000'000).find(R"("duration_us":5000000000})"), std::string::npos);
}

// Random records stress the escaping, the cut, deduplication and the
// verdict together; an independent parser must get every byte back.
std::string random_text(std::mt19937& rng) {
  static const char* const kWords[] = {"cpu",           "guest", "host",  "cloud",   "container",
                                       "compatibility", "Guest", "GUEST", "unknown", "Unknown",
                                       "timing",        "ok",    "OK",    "kvm",     ""};
  std::uniform_int_distribution<int> pick(0, 9);
  if (pick(rng) < 6) {
    return kWords[std::uniform_int_distribution<std::size_t>(0, std::size(kWords) - 1)(rng)];
  }
  std::string s(std::uniform_int_distribution<std::size_t>(0, 200)(rng), '\0');
  for (char& c : s) c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
  return s;
}

TEST(ToJson, RandomRecordsParseAndRoundTrip) {
  std::mt19937 rng(20261210);
  for (int round = 0; round < 300; ++round) {
    Result r;
    const int findings = std::uniform_int_distribution<int>(0, 12)(rng);
    for (int i = 0; i < findings; ++i) {
      const std::int32_t weight = std::uniform_int_distribution<std::int32_t>(-200, 200)(rng);
      r.add(random_text(rng), random_text(rng), random_text(rng), weight, random_text(rng));
    }
    const int probes = std::uniform_int_distribution<int>(0, 5)(rng);
    for (int i = 0; i < probes; ++i) r.probe(random_text(rng), random_text(rng));
    const std::int64_t duration = std::uniform_int_distribution<std::int64_t>()(rng);

    const std::string doc = to_json(r, duration);
    const Json report = test::parse_report(doc);
    ASSERT_FALSE(report.is_null()) << "round " << round;
    test::expect_entries(report, r);
    EXPECT_EQ(report["duration_us"].get<std::int64_t>(), duration);

    const Assessment a = assess(r);
    EXPECT_EQ(report["vm_score"].get<std::int32_t>(), a.score);
    EXPECT_EQ(report["vm_likelihood"], a.likelihood);
    for (const Evidence& e : r.evidence) EXPECT_LE(e.detail.size(), Result::kMaxDetail);
    std::set<std::tuple<std::string, std::string, std::string, std::string>> seen;
    for (const Evidence& e : r.evidence) {
      EXPECT_TRUE(seen.emplace(e.source, e.category, e.vendor, e.detail).second);
    }
    for (const auto* list :
         {&a.hypervisors, &a.containers, &a.compatibility_layers, &a.host_hypervisors, &a.cloud_providers}) {
      std::set<std::string> unique(list->begin(), list->end());
      EXPECT_EQ(unique.size(), list->size());
      EXPECT_EQ(unique.count("unknown"), 0u);
    }
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace oxa
