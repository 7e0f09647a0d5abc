// SPDX-License-Identifier: MIT
#include "probes/timing_probe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "records.h"
#include "support/fake_system.h"
#include "support/scripted_processor.h"

namespace oxa {
namespace {

constexpr std::uint32_t kTscAndSse2 = 0x04000010u;

// One sample's figures: t1 - t0 and t3 - t2. Negative values make the
// counter run backwards.
struct Sample {
  std::int64_t baseline;
  std::int64_t interval;
};

// The four timestamps of every sample, in the order they are read.
std::vector<std::uint64_t> timestamps(const std::vector<Sample>& samples) {
  std::vector<std::uint64_t> ticks;
  std::uint64_t start = 1'000'000'000;
  for (const Sample& s : samples) {
    const std::uint64_t t0 = start;
    const std::uint64_t t1 = t0 + static_cast<std::uint64_t>(s.baseline);
    const std::uint64_t t2 = t1 + 37;
    const std::uint64_t t3 = t2 + static_cast<std::uint64_t>(s.interval);
    ticks.insert(ticks.end(), {t0, t1, t2, t3});
    start += 100'000'000;
  }
  return ticks;
}

// Warm-up samples, then counted ones, then single samples replaced by index.
std::vector<Sample> run(Sample warm_up, Sample counted, const std::map<int, Sample>& replaced = {}) {
  std::vector<Sample> samples;
  for (int i = 0; i < kTimingSamples; ++i) {
    const auto it = replaced.find(i);
    samples.push_back(it != replaced.end() ? it->second : i < kTimingWarmUp ? warm_up : counted);
  }
  return samples;
}

test::ScriptedProcessor measurable() {
  test::ScriptedProcessor processor;
  processor.set(0x0u, {0x16u, 0x756E6547u, 0x6C65746Eu, 0x49656E69u});
  processor.set(0x1u, {0x000906EAu, 0, 0x7FFAFBFFu, 0x178BFBFFu});
  return processor;
}

auto fields(const Timing& t) { return std::tuple(t.available, t.valid, t.cycles_over_baseline); }

TEST(MeasureTiming, Figures) {
  const Sample steady = {100, 400};
  struct Case {
    const char* name;
    std::vector<Sample> samples;
    Timing expected;
  };
  const Case cases[] = {
      {"steady", run(steady, steady), {true, true, 300}},
      {"fast warm-up ignored", run({0, 1}, steady), {true, true, 300}},
      {"backwards warm-up ignored", run({-50, -50}, steady), {true, true, 300}},
      {"warm-up never sets the flag", run(steady, {100, 0}), {true, false, 0}},
      {"warm-up figures unused when counted ones are thrown away", run(steady, {-1, 400}), {true, false, 0}},
      {"baseline backwards thrown away", run(steady, steady, {{20, {-1, 1}}}), {true, true, 300}},
      {"cpuid interval backwards thrown away", run(steady, steady, {{20, {0, -1}}}), {true, true, 300}},
      {"every counted interval backwards", run(steady, {100, -1}), {true, false, 0}},
      {"every counted interval zero", run(steady, {100, 0}), {true, false, 0}},
      {"zero interval counts toward the minimum", run(steady, steady, {{39, {10, 0}}}), {true, true, 0}},
      {"minima come from different samples",
       run(steady, {200, 900}, {{8, {50, 900}}, {39, {200, 300}}}),
       {true, true, 250}},
      {"minimum, not mean", run(steady, {100, 10'000'001}, {{30, {100, 500}}}), {true, true, 400}},
      {"cpuid interval 10,000,000", run(steady, {100, 10'000'000}), {true, true, 9'999'900}},
      {"cpuid interval 10,000,001", run(steady, {100, 10'000'001}), {true, false, 0}},
      {"baseline above cpuid interval", run(steady, {500, 300}), {true, true, 0}},
      {"baseline equal to cpuid interval", run(steady, {300, 300}), {true, true, 0}},
      {"zero baseline", run(steady, {0, 1}), {true, true, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedProcessor processor = measurable();
    processor.timestamps(timestamps(c.samples));
    test::FakeSystem system;
    EXPECT_EQ(fields(measure_timing(processor, system)), fields(c.expected));
    EXPECT_EQ(processor.timestamps_read(), 4u * kTimingSamples);
  }
}

TEST(MeasureTiming, WhenToMeasure) {
  struct Case {
    const char* name;
    std::uint32_t highest_leaf;
    std::uint32_t features;
    std::optional<std::int32_t> translated;  // absent: the read fails
    std::vector<std::uint32_t> leaves;       // before the first sample
    std::size_t sysctl_reads;
    bool measured;
  };
  const Case cases[] = {
      {"no basic leaves", 0, kTscAndSse2, 0, {0x0u}, 0, false},
      {"no time-stamp counter", 1, 0xFFFFFFFFu & ~0x10u, 0, {0x0u, 0x1u}, 0, false},
      {"no sse2", 1, 0xFFFFFFFFu & ~0x04000000u, 0, {0x0u, 0x1u}, 0, false},
      {"translated", 1, kTscAndSse2, 1, {0x0u, 0x1u}, 1, false},
      {"translated, any non-zero value", 0x16, kTscAndSse2, -1, {0x0u, 0x1u}, 1, false},
      {"not translated", 1, kTscAndSse2, 0, {0x0u, 0x1u}, 1, true},
      {"translation flag unreadable", 1, kTscAndSse2, std::nullopt, {0x0u, 0x1u}, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedProcessor processor;
    processor.set(0x0u, {c.highest_leaf, 0, 0, 0});
    processor.set(0x1u, {0, 0, 0, c.features});
    processor.timestamps(timestamps(run({100, 400}, {100, 400})));
    test::FakeSystem system;
    if (c.translated) system.set_sysctl("sysctl.proc_translated", *c.translated);

    const Timing timing = measure_timing(processor, system);
    EXPECT_EQ(fields(timing), fields(c.measured ? Timing{true, true, 300} : Timing{}));
    EXPECT_EQ(system.sysctl_reads(), std::vector<std::string>(c.sysctl_reads, "sysctl.proc_translated"));
    EXPECT_EQ(processor.timestamps_read(), c.measured ? 4u * kTimingSamples : 0u);
    std::vector<std::uint32_t> leaves = c.leaves;
    if (c.measured) leaves.insert(leaves.end(), kTimingSamples, 0x0u);
    EXPECT_EQ(processor.leaves(), leaves);
  }
}

// Records fences, counter reads and CPUID leaves in one trace.
class TracingProcessor {
 public:
  explicit TracingProcessor(test::ScriptedProcessor& inner) : inner_(inner) {}
  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    trace_ += leaf == 0 && subleaf == 0 ? "C0 " : leaf == 1 && subleaf == 0 ? "C1 " : "C? ";
    return inner_.cpuid(leaf, subleaf);
  }
  std::uint64_t rdtsc() {
    trace_ += "R ";
    return inner_.rdtsc();
  }
  void lfence() {
    trace_ += "F ";
    inner_.lfence();
  }
  const std::string& trace() const { return trace_; }

 private:
  test::ScriptedProcessor& inner_;
  std::string trace_;
};

TEST(MeasureTiming, InstructionSequence) {
  test::ScriptedProcessor inner = measurable();
  inner.timestamps(timestamps(run({100, 400}, {100, 400})));
  TracingProcessor processor(inner);
  test::FakeSystem system;
  measure_timing(processor, system);

  std::string expected = "C0 C1 ";
  // Each timestamp fenced on both sides; the measured CPUID between t2 and t3.
  for (int i = 0; i < kTimingSamples; ++i) expected += "F R F F R F F R F C0 F R F ";
  EXPECT_EQ(processor.trace(), expected);
  EXPECT_EQ(inner.timestamps_read(), 4u * kTimingSamples);
  EXPECT_EQ(inner.fences(), 320u);
}

Evidence finding(const char* category, std::int32_t weight, const char* detail) {
  return {"timing", category, "unknown", detail, weight};
}

TEST(DetectTiming, ProbeAndFinding) {
  struct Prior {
    const char* category;
    const char* vendor;
  };
  struct Case {
    const char* name;
    Timing timing;
    std::vector<Prior> prior;
    const char* status;
    std::optional<Evidence> added;
  };
  const Evidence quiet250 = finding("diagnostic", 0, "cpuid 250 cycles over baseline (threshold 1000)");
  const Evidence quiet5000 = finding("diagnostic", 0, "cpuid 5000 cycles over baseline (threshold 1000)");
  const Evidence loud5000 =
      finding("guest", 50, "cpuid 5000 cycles over baseline (over 1000); no hypervisor identity");
  const Case cases[] = {
      {"nothing measured", {}, {}, "unavailable", std::nullopt},
      {"nothing usable", {true, false, 0}, {}, "error", std::nullopt},
      {"fast", {true, true, 250}, {}, "ok", quiet250},
      {"no excess",
       {true, true, 0},
       {},
       "ok",
       finding("diagnostic", 0, "cpuid 0 cycles over baseline (threshold 1000)")},
      {"at the threshold",
       {true, true, 1000},
       {},
       "ok",
       finding("diagnostic", 0, "cpuid 1000 cycles over baseline (threshold 1000)")},
      {"over the threshold",
       {true, true, 1001},
       {},
       "ok",
       finding("guest", 50, "cpuid 1001 cycles over baseline (over 1000); no hypervisor identity")},
      {"largest figure",
       {true, true, 18'446'744'073'709'551'615u},
       {},
       "ok",
       finding("guest", 50,
               "cpuid 18446744073709551615 cycles over baseline (over 1000); no hypervisor identity")},
      {"slow, guest named", {true, true, 5000}, {{"guest", "kvm"}}, "ok", quiet5000},
      {"slow, host named", {true, true, 5000}, {{"host", "hyperv"}}, "ok", quiet5000},
      {"slow, unknown guest", {true, true, 5000}, {{"guest", "unknown"}}, "ok", quiet5000},
      {"slow, guest after other findings",
       {true, true, 5000},
       {{"cloud", "aws"}, {"guest", "qemu"}},
       "ok",
       quiet5000},
      {"slow, no identity among findings",
       {true, true, 5000},
       {{"cloud", "aws"},
        {"diagnostic", "unknown"},
        {"Guest", "kvm"},
        {"hosts", "x"},
        {"container", "docker"}},
       "ok",
       loud5000},
      {"fast with identity", {true, true, 250}, {{"guest", "kvm"}}, "ok", quiet250},
      {"identity without a valid figure", {true, false, 0}, {{"guest", "kvm"}}, "error", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result result;
    int n = 0;
    for (const Prior& p : c.prior)
      result.add("firmware", p.category, p.vendor, 80, "prior " + std::to_string(n++));
    result.probe("cpu", "ok");
    std::vector<Evidence> expected = result.evidence;
    if (c.added) expected.push_back(*c.added);

    detect_timing(result, c.timing);
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"cpu", "ok"}, {"timing", c.status}}));
    EXPECT_EQ(result.evidence, expected);
  }
}

}  // namespace
}  // namespace oxa
