// SPDX-License-Identifier: MIT
// oxa-detect --replay over the checked-in dumps, --dump followed by --replay
// on this machine, and the options and errors of both.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "capture/dump_replay.h"
#include "dump_format.h"
#include "support/run_tool.h"

namespace oxa::test {
namespace {

const std::string kDumps = std::string(OXA_TEST_DATA_DIR) + "/dumps/";
const std::string kExpected = std::string(OXA_TEST_DATA_DIR) + "/expected/";

std::string write_temp(const std::string& text) {
  const std::string path = temp_file("dump");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Every dump in the folder, by name: a new dump is tested by being there.
std::vector<std::string> dump_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kDumps)) {
    if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ReplayFixture : public ::testing::TestWithParam<std::string> {};

// Every checked-in dump replays to its expected report, byte for byte, the
// duration included (the dump's clock readings are replayed).
TEST_P(ReplayFixture, ReplaysToTheExpectedReport) {
  const std::string& name = GetParam();
  const std::string expected = slurp(kExpected + name + ".json");
  ASSERT_FALSE(expected.empty()) << "no expected report for " << name;

  const Outcome o = run_tool("--replay " + kDumps + name + ".json");
  EXPECT_EQ(o.exit_code, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, expected);

  // What a dump says besides its inputs must agree with them.
  const tool::DumpRead read = tool::read_dump(slurp(kDumps + name + ".json"));
  ASSERT_TRUE(read.dump) << read.error;
  if (read.dump->report) {
    EXPECT_EQ(*read.dump->report + "\n", expected);
  }
  ASSERT_TRUE(read.dump->timing);
  const std::optional<Timing> timing = capture::replay_timing(*read.dump);
  ASSERT_TRUE(timing);
  EXPECT_EQ(timing->available, read.dump->timing->available);
  EXPECT_EQ(timing->valid, read.dump->timing->valid);
  EXPECT_EQ(timing->cycles_over_baseline, read.dump->timing->cycles_over_baseline);
}

INSTANTIATE_TEST_SUITE_P(Dumps, ReplayFixture, ::testing::ValuesIn(dump_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// Machines that are nobody's guest, a cloud's bare-metal machine among them
// ("Amazon EC2", "m6g.metal"): their expected reports are written by the
// code they test, so this holds them to what the machines are.
TEST(ReplayTool, BareMetalIsNeverAGuest) {
  for (const char* name : {"bare_metal", "linux_bare_metal_documented", "graviton_metal_arm64_documented",
                           "ampere_metal_arm64_documented", "rhel_bare_metal_documented",
                           "ec2_metal_documented", "patched_mac_documented"}) {
    SCOPED_TRACE(name);
    const nlohmann::json report = nlohmann::json::parse(slurp(kExpected + name + ".json"));
    EXPECT_EQ(report["vm_likelihood"], "not_detected");
    EXPECT_EQ(report["hypervisors"], nlohmann::json::array());
    for (const nlohmann::json& e : report["evidence"]) EXPECT_NE(e["category"], "guest") << e.dump();
  }
}

// Hosts see their own hypervisor's interface: they name it as a host and
// are no guest of it, whatever else names it.
TEST(ReplayTool, HostsAreNeverGuestsOfTheirHypervisor) {
  for (const char* name : {"hyperv_root", "hyperv_root_linux_documented", "xen_dom0_documented",
                           "xen_dom0_no_xenfs_documented", "xen_dom0_arm64_documented"}) {
    SCOPED_TRACE(name);
    const nlohmann::json report = nlohmann::json::parse(slurp(kExpected + name + ".json"));
    EXPECT_EQ(report["vm_likelihood"], "not_detected");
    EXPECT_EQ(report["hypervisors"], nlohmann::json::array());
    EXPECT_EQ(report["host_hypervisors"].size(), 1u);
  }
}

TEST(ReplayTool, DumpOfThisMachineReplaysToItsReport) {
  const Outcome dumped = run_tool("--dump");
  ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
  EXPECT_EQ(dumped.err, "");
  const tool::DumpRead read = tool::read_dump(dumped.out);
  ASSERT_TRUE(read.dump) << read.error;
  ASSERT_TRUE(read.dump->report);
  ASSERT_TRUE(read.dump->timing);
  // Forty samples of four where the run measured, none where it did not.
  EXPECT_EQ(read.dump->timestamps.size(), read.dump->timing->available ? 160u : 0u);
  EXPECT_EQ(read.dump->clock.size(), 2u);

  const std::string path = write_temp(dumped.out);
  const Outcome replayed = run_tool("--replay " + path);
  std::remove(path.c_str());
  EXPECT_EQ(replayed.exit_code, 0);
  EXPECT_EQ(replayed.err, "");
  EXPECT_EQ(replayed.out, *read.dump->report + "\n");
}

TEST(ReplayTool, Options) {
  const std::string vmware = kDumps + "vmware_mac.json";
  const struct {
    std::string args;
    int exit_code;
    const char* in_out;  // expected in standard output ("" = empty output)
    const char* in_err;  // expected in standard error ("" = empty)
  } cases[] = {
      {"--replay " + vmware + " --summary", 0, "likelihood: very_likely (score 99)", ""},
      {"--pretty --replay " + vmware, 0, "\n  \"vm_score\": 99,\n", ""},
      {"--help", 0, "--replay FILE", ""},
      // Usage errors exit 2, never 1, which --quiet gives to "not a VM".
      {"--replay", 2, "", "--replay needs a FILE"},
      {"--dump --summary", 2, "", "usage: oxa-detect"},
      {"--dump --quiet", 2, "", "usage: oxa-detect"},
      {"--brief --dump", 2, "", "usage: oxa-detect"},
      {"--dump --replay " + vmware, 2, "", "usage: oxa-detect"},
      {"--replay " + vmware + " --smbios", 2, "", "usage: oxa-detect"},
      {"--quiet --replay " + vmware + " --smbios", 2, "", "usage: oxa-detect"},
      {"--replay /nonexistent/dump.json", 2, "", "cannot open"},
      // A report is not a dump.
      {"--replay " + kExpected + "bare_metal.json", 2, "", "not a dump: no 'dump_version'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome o = run_tool(c.args);
    EXPECT_EQ(o.exit_code, c.exit_code);
    if (*c.in_out == '\0') {
      EXPECT_EQ(o.out, "");
    } else {
      EXPECT_NE(o.out.find(c.in_out), std::string::npos) << o.out;
    }
    if (*c.in_err == '\0') {
      EXPECT_EQ(o.err, "");
    } else {
      EXPECT_NE(o.err.find(c.in_err), std::string::npos) << o.err;
    }
  }
}

// A bad dump gives exactly one line naming the file and the fault, and
// nothing on standard output.
TEST(ReplayTool, BadDumpIsOneLineAndStatusTwo) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"{\"dump_version\": 1, \"cpuid\": [", "not valid JSON (numbers must be integers of at most 64 bits)"},
      {"{\"dump_version\": 1, \"cpuid\": ["
       "{\"leaf\": \"0x0\", \"subleaf\": \"0x0\", \"eax\": \"0xd\", \"ebx\": \"0x0\", \"ecx\": \"0x0\", "
       "\"edx\": \"0x0\"},"
       "{\"leaf\": \"0x1\", \"subleaf\": \"0x0\", \"eax\": \"0x0\", \"ebx\": \"0x0\", \"ecx\": "
       "\"0x80000000\", \"edx\": "
       "\"0x0\"},"
       "{\"leaf\": \"0x40000000\", \"subleaf\": \"0x0\", \"eax\": \"0x40000005\", \"ebx\": \"0x7263694d\", "
       "\"ecx\": "
       "\"0x666f736f\", \"edx\": \"0x76482074\"}], \"clock_ns\": [0, 0]}",
       "dump has no CPUID leaf 0x40000001 sub-leaf 0"},
      // Dump text reaches the line escaped: it stays one printable line.
      {R"({"dump_version": 1, "registry": {"properties": [{"key": "model", "kind": "a\nb\u001b[2J"}]}})",
       R"(registry property 'model' has an unknown kind 'a\u000ab\u001b[2J')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string path = write_temp(c.text);
    const Outcome o = run_tool("--replay " + path);
    std::remove(path.c_str());
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "oxa-detect: " + path + ": " + c.message + "\n");
  }
}

}  // namespace
}  // namespace oxa::test
