// SPDX-License-Identifier: MIT
// oxa-detect as a user runs it, its JSON reader and its summary.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/assessment.h"
#include "core/json_report.h"
#include "json_text.h"
#include "pretty_print.h"
#include "prometheus.h"
#include "summary.h"
#include "support/json_check.h"
#include "support/report_reader.h"
#include "support/run_tool.h"

extern char** environ;

namespace {

using oxa::test::Outcome;
using oxa::test::run_tool;
using oxa::test::temp_file;

TEST(Tool, PrintsTheReportAndOneNewline) {
  const Outcome o = run_tool("");
  EXPECT_EQ(o.exit_code, 0) << o.err;
  ASSERT_FALSE(o.out.empty());
  EXPECT_EQ(o.out.back(), '\n');
  EXPECT_EQ(o.out.find('\n'), o.out.size() - 1);
  EXPECT_FALSE(oxa::test::parse_report(o.out.substr(0, o.out.size() - 1)).is_null());
  EXPECT_TRUE(o.err.empty());
}

TEST(Tool, Options) {
  const struct {
    const char* args;
    int exit_code;
    const char* in_out;  // expected in standard output ("" = empty output)
    const char* in_err;  // expected in standard error ("" = empty)
  } cases[] = {
      {"--version", 0, "1.0.0\n", ""},
      {"--help", 0, "usage: oxa-detect", ""},
      {"--summary", 0, "likelihood: ", ""},
      {"--bogus", 2, "", "oxa-detect: unknown option '--bogus'; try 'oxa-detect --help'\n"},
      {"extra", 2, "", "unknown option 'extra'"},
      {"-q", 0, "", ""},
      {"--list", 0, "\nvm-other\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome o = run_tool(c.args);
    EXPECT_EQ(o.exit_code, c.exit_code);
    if (*c.in_out == '\0')
      EXPECT_EQ(o.out, "");
    else
      EXPECT_NE(o.out.find(c.in_out), std::string::npos) << o.out;
    if (*c.in_err == '\0')
      EXPECT_EQ(o.err, "");
    else
      EXPECT_NE(o.err.find(c.in_err), std::string::npos) << o.err;
  }
}

TEST(Tool, SummaryOfTheRealRunNamesTheCpuProbe) {
  const Outcome o = run_tool("--summary");
  ASSERT_EQ(o.exit_code, 0);
  EXPECT_NE(o.out.find("probes:\n  cpu "), std::string::npos) << o.out;
}

std::string fixture(const char* name) { return std::string(OXA_FIXTURES_DIR) + "/smbios/" + name; }

bool fixtures_present() {
  if (FILE* f = std::fopen(fixture("qemu-pc-aws-nitro-like.bin").c_str(), "rb")) {
    std::fclose(f);
    return true;
  }
  return false;
}

void write_file(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(ToolSmbios, ReportsTheScanOfAHandBuiltTable) {
  // A System Information structure naming QEMU, then End-of-Table.
  std::string table("\x01\x08\x00\x01\x01\x00\x00\x00QEMU\0\0\x7f\x04\x00\x02\0\0", 20);
  const std::string raw = ::testing::TempDir() + "oxa_smbios_raw.bin";
  write_file(raw, table);

  // The same table behind a 3.x entry point, as dmidecode --dump-bin writes it.
  std::string entry(32, '\0');
  entry.replace(0, 5, "_SM3_");
  entry[0x0C] = static_cast<char>(table.size());
  entry[0x10] = 32;
  const std::string dump = ::testing::TempDir() + "oxa_smbios_dump.bin";
  write_file(dump, entry + table);

  for (const std::string& file : {raw, dump}) {
    const Outcome o = run_tool("--smbios " + file);
    ASSERT_EQ(o.exit_code, 0) << o.err;
    const auto report = oxa::test::parse_report(o.out.substr(0, o.out.size() - 1));
    ASSERT_FALSE(report.is_null());
    EXPECT_EQ(report["hypervisors"], oxa::test::Json::array({"qemu"}));
    EXPECT_EQ(report["probes"], oxa::test::Json::parse(R"([{"source":"firmware","status":"ok"}])"));
  }
  const Outcome summary = run_tool("--smbios " + raw + " --summary");
  EXPECT_EQ(summary.exit_code, 0);
  EXPECT_NE(summary.out.find("likelihood: likely (score 85)"), std::string::npos) << summary.out;
}

// --smbios --summary renders the scan's record itself: the same text as the
// summary of the report --smbios prints.
TEST(ToolSmbios, SummaryIsThatOfItsReport) {
  const std::string table = ::testing::TempDir() + "oxa_smbios_summary.bin";
  write_file(table, std::string("\x01\x08\x00\x01\x01\x00\x00\x00QEMU\0\0\x7f\x04\x00\x02\0\0", 20));
  const Outcome report = run_tool("--smbios " + table);
  const Outcome summary = run_tool("--smbios " + table + " --summary");
  ASSERT_EQ(report.exit_code, 0) << report.err;
  ASSERT_EQ(summary.exit_code, 0) << summary.err;
  const auto expected = oxa::test::summarize_report(report.out.substr(0, report.out.size() - 1));
  ASSERT_TRUE(expected.has_value()) << report.out;
  EXPECT_EQ(summary.out, *expected);
  std::remove(table.c_str());
}

TEST(ToolSmbios, MalformedTableIsReportedNotFailed) {
  const std::string file = ::testing::TempDir() + "oxa_smbios_bad.bin";
  write_file(file, std::string("\x01\x02\x00\x00", 4));  // length byte below 4
  std::string entry(32, '\0');                           // a 3.x entry point that declares an empty table
  entry.replace(0, 5, "_SM3_");
  entry[0x10] = 32;
  const std::string empty_table = ::testing::TempDir() + "oxa_smbios_empty_table.bin";
  write_file(empty_table, entry + "\x7f\x04\x00\x00\0\0");
  for (const std::string& f : {file, empty_table}) {
    const Outcome o = run_tool("--smbios " + f);
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_NE(o.out.find(R"("probes":[{"source":"firmware","status":"error"}])"), std::string::npos) << o.out;
  }
}

TEST(ToolSmbios, UnusableFilesFailWithTheirReason) {
  const std::string empty = ::testing::TempDir() + "oxa_smbios_empty.bin";
  write_file(empty, "");
  const std::string outside = ::testing::TempDir() + "oxa_smbios_outside.bin";
  std::string entry(32, '\0');
  entry.replace(0, 5, "_SM3_");
  entry[0x0C] = 16;
  entry[0x11] = 0x10;  // address 0x1000, past the end
  write_file(outside, entry);
  const struct {
    std::string file;
    const char* reason;
  } cases[] = {
      {::testing::TempDir() + "oxa_no_such_file.bin", "oxa_no_such_file.bin: "},
      {empty, "empty file"},
      {outside, "outside the file"},
  };
  for (const auto& c : cases) {
    const Outcome o = run_tool("--smbios " + c.file);
    EXPECT_EQ(o.exit_code, 2) << c.file;
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line: " << o.err;
  }
}

TEST(ToolSmbios, RealTablesFromTheSharedFixtures) {
  if (!fixtures_present()) {
    if (const char* require = std::getenv("OXA_REQUIRE_FIXTURES"); require && std::string(require) == "1") {
      FAIL() << "fixtures missing under " << OXA_FIXTURES_DIR;
    }
    GTEST_SKIP() << "shared SMBIOS fixtures not found under " << OXA_FIXTURES_DIR;
  }
  const Outcome aws = run_tool("--smbios " + fixture("qemu-pc-aws-nitro-like.bin"));
  ASSERT_EQ(aws.exit_code, 0);
  const auto report = oxa::test::parse_report(aws.out.substr(0, aws.out.size() - 1));
  EXPECT_EQ(report["cloud_providers"], oxa::test::Json::array({"aws"}));
  EXPECT_EQ(report["vm_likelihood"], "very_likely");

  const Outcome hyperv = run_tool("--smbios " + fixture("real-sidero-hyperv-gen1.bin") + " --summary");
  EXPECT_EQ(hyperv.exit_code, 0);
  EXPECT_NE(hyperv.out.find("Virtual Machine product"), std::string::npos) << hyperv.out;
  EXPECT_NE(hyperv.out.find("firmware  error"), std::string::npos) << hyperv.out;
}

TEST(Tool, PrettyKeepsContentAndOrder) {
  const Outcome o = run_tool("--pretty");
  ASSERT_EQ(o.exit_code, 0);
  EXPECT_EQ(o.out.rfind("{\n  \"schema_version\": 1,\n  \"module_version\": \"1.0.0\",\n", 0), 0u) << o.out;
  const auto pretty = oxa::test::Json::parse(o.out);
  const auto compact = oxa::test::Json::parse(run_tool("").out);
  // An empty list stays "[]" on its member's line, whichever lists this
  // machine leaves empty (in a container, "containers" is not).
  int empty_lists = 0;
  for (const auto& [key, value] : compact.items()) {
    if (value != oxa::test::Json::array()) continue;
    ++empty_lists;
    EXPECT_NE(o.out.find("\n  \"" + key + "\": [],\n"), std::string::npos) << key << "\n" << o.out;
  }
  EXPECT_GT(empty_lists, 0) << o.out;
  std::vector<std::string> pretty_keys, compact_keys;
  for (const auto& [key, value] : pretty.items()) pretty_keys.push_back(key);
  for (const auto& [key, value] : compact.items()) compact_keys.push_back(key);
  EXPECT_EQ(pretty_keys, compact_keys);
  EXPECT_EQ(pretty["probes"], compact["probes"]);
}

TEST(PrettyPrint, IndentsOutsideStringsOnly) {
  EXPECT_EQ(oxa::tool::pretty_print(R"({"a":[1,{"b":"x,{[\":"}],"c":[],"d":{}})"),
            "{\n  \"a\": [\n    1,\n    {\n      \"b\": \"x,{[\\\":\"\n    }\n  ],\n"
            "  \"c\": [],\n  \"d\": {}\n}");
}

TEST(Tool, WriteErrorIsAFailureInEveryMode) {
  // /dev/full refuses every write.
  for (const char* args : {"", "--version", "--help", "--summary", "--pretty", "--dump"}) {
    SCOPED_TRACE(args);
    const Outcome o = run_tool(std::string(args) + " >/dev/full");
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_EQ(o.err, "oxa-detect: cannot write to standard output: No space left on device\n");
  }
}

// Whatever stands at an input path, the tool ends quickly with one line
// naming it, or reads it: never a hang, a crash or an unbounded read.
TEST(Tool, HostileInputFilesAreOneLineAndExit2) {
  const std::string dir = ::testing::TempDir();
  const std::string fifo = dir + "oxa_tool_fifo_" + std::to_string(getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = dir + "oxa_tool_huge_" + std::to_string(getpid());
  const std::string limit = dir + "oxa_tool_limit_" + std::to_string(getpid());
  write_file(huge, "");
  write_file(limit, "");
  // Sparse: a file of that size costs no disk.
  ASSERT_EQ(::truncate(huge.c_str(), (16 << 20) + 1), 0);
  ASSERT_EQ(::truncate(limit.c_str(), 16 << 20), 0);
  const struct {
    std::string path;
    const char* reason;  // empty: the file is read
  } cases[] = {
      {dir + "oxa_no_such_file", "cannot open: No such file or directory"},
      {dir, "not a regular file"},
      {fifo, "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {"/proc/self/mem", "cannot read: Input/output error"},
      {huge, "too large (more than 16 MiB)"},
      {limit, ""},
  };
  for (const auto& c : cases) {
    for (const char* option : {"--smbios", "--replay"}) {
      SCOPED_TRACE(std::string(option) + " " + c.path);
      // timeout(1) turns a hang into exit status 124.
      const Outcome o = run_tool(std::string(option) + " " + c.path, "timeout 20");
      if (*c.reason != '\0') {
        EXPECT_EQ(o.exit_code, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "oxa-detect: " + c.path + ": " + c.reason + "\n");
      } else if (std::string_view(option) == "--smbios") {
        // 16 MiB of zeros: read, and reported as a malformed table.
        EXPECT_EQ(o.exit_code, 0) << o.err;
        EXPECT_NE(o.out.find(R"("status":"error")"), std::string::npos);
      } else {
        EXPECT_EQ(o.exit_code, 2);
        EXPECT_NE(o.err.find("not valid JSON"), std::string::npos) << o.err;
      }
    }
  }
  std::remove(fifo.c_str());
  std::remove(huge.c_str());
  std::remove(limit.c_str());
}

TEST(Tool, StandardInputIsAnInput) {
  const std::string table = ::testing::TempDir() + "oxa_smbios_stdin.bin";
  write_file(table, std::string("\x01\x08\x00\x01\x01\x00\x00\x00QEMU\0\0", 14));
  const Outcome o = run_tool("--smbios - <" + table);
  EXPECT_EQ(o.exit_code, 0) << o.err;
  EXPECT_NE(o.out.find(R"("hypervisors":["qemu"])"), std::string::npos) << o.out;
  std::remove(table.c_str());
}

// Arguments reach the error line escaped: it stays one printable line.
TEST(Tool, UnknownOptionIsEscaped) {
  const Outcome o = run_tool(R"sh("--$(printf 'x\n\033[2J')")sh");
  EXPECT_EQ(o.exit_code, 2);
  EXPECT_EQ(o.err, "oxa-detect: unknown option '--x\\u000a\\u001b[2J'; try 'oxa-detect --help'\n");
}

const std::string kDumps = std::string(OXA_TEST_DATA_DIR) + "/../replay/dumps/";

// --vm and --container answer for one side, as systemd-detect-virt's do;
// --brief and --quiet follow them, and alone they print the word.
TEST(Tool, AnswersForTheMachineOrTheEnclosure) {
  // The BIOS's "virtual machine" characteristic (extension byte 2, bit 4)
  // and no vendor: "very_likely", yet no hypervisor is named.
  const std::string vm_bit = temp_file("vm_bit");
  write_file(vm_bit,
             std::string("\x00\x14\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x10"
                         "\0\0\x7f\x04\x00\x00\0\0",
                         28));
  const auto dump = [](const char* name) { return " --replay " + kDumps + name + ".json"; };
  const struct {
    std::string args;
    const char* out;
    int exit_code;
  } cases[] = {
      {"--smbios " + vm_bit + " --brief", "vm-other\n", 0},
      {"--vm --smbios " + vm_bit, "vm-other\n", 0},
      {"--smbios " + vm_bit + " -q", "", 0},
      {"--container --smbios " + vm_bit, "none\n", 1},
      {"--vm" + dump("kvm_guest"), "kvm\n", 0},
      {"--vm --quiet" + dump("kvm_guest"), "", 0},
      {"--container" + dump("kvm_guest"), "none\n", 1},
      {"-q --container" + dump("kvm_guest"), "", 1},
      // A root partition names its hypervisor and is no guest.
      {"--vm" + dump("hyperv_root"), "hyperv\n", 1},
      {"--vm" + dump("bare_metal"), "none\n", 1},
      // A container in a virtual machine: each side its own answer.
      {"--vm" + dump("docker_documented"), "kvm\n", 0},
      {"--container" + dump("docker_documented"), "docker\n", 0},
      {"--container --quiet" + dump("docker_documented"), "", 0},
      {"--container" + dump("kubernetes_documented"), "kubernetes\n", 0},
      // WSL 2 is a container on Hyper-V, WSL 1 a compatibility layer.
      {"--vm" + dump("wsl2_documented"), "hyperv\n", 0},
      {"--container" + dump("wsl2_documented"), "wsl\n", 0},
      {"--container --brief" + dump("wsl1_documented"), "wsl\n", 0},
      {"--container" + dump("translated"), "rosetta\n", 0},
      // The last format given applies, the side stays.
      {"--container --brief --quiet" + dump("docker_documented"), "", 0},
      {"--quiet --container --brief" + dump("kvm_guest"), "none\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome o = run_tool(c.args);
    EXPECT_EQ(o.exit_code, c.exit_code);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "");
  }
  std::remove(vm_bit.c_str());
}

// Options that do not go together: one line and a hint, exit 2.
TEST(Tool, UsageErrorsAreOneLineWithAHint) {
  for (const char* args :
       {"--vm --container", "--container --vm", "--summary --vm", "--container --pretty", "--list --summary",
        "--list --quiet", "--list --dump", "--list --smbios", "--replay", "--prometheus --vm"}) {
    SCOPED_TRACE(args);
    const Outcome o = run_tool(args);
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(o.err.starts_with("oxa-detect: ")) << o.err;
    EXPECT_TRUE(o.err.ends_with("; try 'oxa-detect --help'\n")) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
  }
}

using Words = std::vector<std::string>;

// --list's groups, split at its blank lines.
std::vector<Words> listed_groups(const std::string& args) {
  const Outcome o = run_tool(args);
  EXPECT_EQ(o.exit_code, 0) << o.err;
  std::vector<Words> groups(1);
  std::size_t start = 0;
  for (std::size_t end = o.out.find('\n'); end != std::string::npos; end = o.out.find('\n', start)) {
    const std::string line = o.out.substr(start, end - start);
    if (line.empty()) {
      groups.emplace_back();
    } else {
      groups.back().push_back(line);
    }
    start = end + 1;
  }
  EXPECT_EQ(start, o.out.size()) << "the list ends in a newline";
  return groups;
}

bool holds(const Words& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// Every vendor the regression dumps give and every word --brief prints for
// them is in --list, in its group; --vm and --container list their side.
TEST(Tool, ListHoldsEveryWordTheDumpsGive) {
  const std::vector<Words> groups = listed_groups("--list");
  ASSERT_EQ(groups.size(), 4u);  // hypervisors, containers, compatibility layers, clouds
  for (const Words& group : groups) {
    EXPECT_FALSE(group.empty());
    EXPECT_EQ(std::set<std::string>(group.begin(), group.end()).size(), group.size()) << "a word twice";
  }
  const std::vector<Words> machine = listed_groups("--list --vm");
  const std::vector<Words> enclosure = listed_groups("--container --list");
  EXPECT_EQ(machine, std::vector<Words>{groups[0]});
  EXPECT_EQ(enclosure, (std::vector<Words>{groups[1], groups[2]}));
  EXPECT_TRUE(holds(groups[0], "vm-other"));

  const struct {
    const char* member;
    std::size_t group;
  } lists[] = {{"hypervisors", 0},
               {"host_hypervisors", 0},
               {"containers", 1},
               {"compatibility_layers", 2},
               {"cloud_providers", 3}};
  std::size_t dumps = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kDumps)) {
    const std::string replay = " --replay " + entry.path().string();
    SCOPED_TRACE(replay);
    const Outcome o = run_tool(replay);
    ASSERT_EQ(o.exit_code, 0) << o.err;
    const oxa::test::Json report = oxa::test::Json::parse(o.out);
    for (const auto& list : lists) {
      for (const auto& vendor : report[list.member]) {
        EXPECT_TRUE(holds(groups[list.group], vendor.get<std::string>())) << list.member << ": " << vendor;
      }
    }
    for (const char* side : {"--vm", "--container"}) {
      const Outcome word = run_tool(side + replay);
      const std::string w = word.out.substr(0, word.out.find('\n'));
      EXPECT_TRUE(w == "none" ||
                  (std::string_view(side) == "--vm" ? holds(groups[0], w)
                                                    : holds(groups[1], w) || holds(groups[2], w)))
          << side << " printed " << w;
    }
    ++dumps;
  }
  EXPECT_GT(dumps, 0u);
}

// The metrics say what the report says, for every regression dump.
TEST(Prometheus, MetricsHoldTheReportsVerdict) {
  for (const auto& entry : std::filesystem::directory_iterator(kDumps)) {
    const std::string replay = " --replay " + entry.path().string();
    SCOPED_TRACE(replay);
    const Outcome metrics = run_tool("--prometheus" + replay);
    ASSERT_EQ(metrics.exit_code, 0) << metrics.err;
    const oxa::test::Json report = oxa::test::Json::parse(run_tool(replay).out);
    const auto has_line = [&](const std::string& line) {
      return metrics.out.find("\n" + line + "\n") != std::string::npos;
    };
    EXPECT_TRUE(has_line("oxa_vm_score " + std::to_string(report["vm_score"].get<int>()))) << metrics.out;
    std::string info = "oxa_verdict_info{likelihood=\"" + report["vm_likelihood"].get<std::string>() + "\"";
    for (const char* list :
         {"hypervisors", "containers", "compatibility_layers", "host_hypervisors", "cloud_providers"}) {
      std::string vendors;
      for (const auto& vendor : report[list]) {
        if (!vendors.empty()) vendors += ',';
        vendors += vendor.get<std::string>();
      }
      info += std::string(",") + list + "=\"" + vendors + "\"";
    }
    EXPECT_TRUE(has_line(info + ",version=\"" + report["module_version"].get<std::string>() + "\"} 1"))
        << metrics.out;
    for (const auto& probe : report["probes"]) {
      for (const char* status : {"ok", "unavailable", "error"}) {
        EXPECT_TRUE(has_line("oxa_probe_status{probe=\"" + probe["source"].get<std::string>() +
                             "\",status=\"" + status + "\"} " + (probe["status"] == status ? "1" : "0")));
      }
    }
  }
}

// Label values escape what the format asks (backslash, quote) and write
// every byte outside printable ASCII as the report does, its backslash
// escaped: one line, ASCII, valid UTF-8.
TEST(Prometheus, LabelValuesAreEscaped) {
  oxa::Result result;
  result.probe(std::string("a\"b\\c\nd\xff", 8), "ok");
  const std::string metrics = oxa::tool::to_prometheus(result, oxa::assess(result), 1234567);
  EXPECT_NE(metrics.find("\noxa_probe_status{probe=\"a\\\"b\\\\c\\\\u000ad\\\\u00ff\",status=\"ok\"} 1\n"),
            std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("\noxa_detection_duration_seconds 1.234567\n"), std::string::npos) << metrics;
  for (const char c : metrics) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7E)) << static_cast<int>(c);
}

TEST(Tool, ClosedPipeIsAFailureNotACrash) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody will ever read
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char path[] = OXA_DETECT_PATH;
  char* argv[] = {path, nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, path, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST(Summary, AlignsColumnsAndListsOnlyNonEmptyVendors) {
  const char* doc =
      R"({"schema_version":1,"module_version":"1.0.0","vm_score":99,"vm_likelihood":"very_likely",)"
      R"("hypervisors":["kvm","qemu"],"containers":[],"compatibility_layers":[],"host_hypervisors":[],)"
      R"("cloud_providers":["aws"],"evidence":[{"source":"cpu","category":"guest","vendor":"kvm",)"
      R"("weight":95,"detail":"KVMKVMKVM"},{"source":"firmware","category":"cloud","vendor":"aws",)"
      R"("weight":0,"detail":"amazon\u000a\u00ffec2"}],"probes":[{"source":"cpu","status":"ok"},)"
      R"({"source":"firmware","status":"unavailable"}],"duration_us":12})";
  const auto summary = oxa::test::summarize_report(doc);
  ASSERT_TRUE(summary.has_value());
  EXPECT_EQ(*summary,
            "likelihood: very_likely (score 99)\n"
            "hypervisors: kvm, qemu\n"
            "cloud_providers: aws\n"
            "evidence:\n"
            "  cpu       guest  kvm  95  KVMKVMKVM\n"
            "  firmware  cloud  aws  0   amazon\\u000a\\u00ffec2\n"
            "probes:\n"
            "  cpu       ok\n"
            "  firmware  unavailable\n");
  EXPECT_FALSE(oxa::test::summarize_report("{\"vm_score\":1}").has_value());
  EXPECT_FALSE(oxa::test::summarize_report("not json").has_value());
}

// The machine's lists come before those of what encloses the process,
// whatever order the report gives them.
TEST(Summary, ListsTheMachineBeforeTheEnclosure) {
  oxa::Result r;
  r.add("container", "container", "docker", 90, "/.dockerenv");
  r.add("compatibility", "compatibility", "wsl", 95, "kernel release 4.4.0-Microsoft");
  r.add("cpu", "host", "hyperv", 0, "root partition privileges");
  r.add("firmware", "cloud", "azure", 0, "asset tag");
  r.add("firmware", "guest", "qemu", 85, "qemu");
  const auto summary = oxa::test::summarize_report(oxa::to_json(r, 0));
  ASSERT_TRUE(summary.has_value());
  EXPECT_EQ(summary->substr(0, summary->find("evidence:")),
            "likelihood: likely (score 85)\n"
            "hypervisors: qemu\n"
            "host_hypervisors: hyperv\n"
            "cloud_providers: azure\n"
            "containers: docker\n"
            "compatibility_layers: wsl\n");
}

// One renderer, two sources: a record summarised directly and through its
// report document read back give the same text, and the reading gives back
// the record's entries and its verdict.
TEST(Summary, TheSameFromTheRecordAndFromItsReport) {
  const auto kvm = [](oxa::Result& r) {
    r.add("cpu", "guest", "kvm", 95, "KVMKVMKVM");
    r.add("timing", "diagnostic", "unknown", 0, "cpuid 12168 cycles over baseline (threshold 1000)");
    r.probe("cpu", "ok");
    r.probe("system", "unavailable");
  };
  const auto bytes_and_every_list = [](oxa::Result& r) {
    r.add("cpu", "guest", "microsoft", 95, "Microsoft Hv");
    r.add("cpu", "host", "microsoft", 0, "root partition");
    r.add("firmware", "guest", "qemu\x01\xff", 85, std::string("a\nb\"c\\d\x7f\x80\0e", 12));
    r.add("firmware", "cloud", "aws", 0, "Amazon EC2");
    r.add("container", "container", "docker", 0, "/.dockerenv");
    r.add("compatibility", "compatibility", "wine", 0, "");
    r.probe("cpu", "ok");
    r.probe("firmware\t", "error\x1b[2J");
  };
  const auto nothing_ran = [](oxa::Result& r) { r.probe("cpu", "unavailable"); };
  const std::function<void(oxa::Result&)> cases[] = {[](oxa::Result&) {}, kvm, bytes_and_every_list,
                                                     nothing_ran};
  for (const auto& fill : cases) {
    oxa::Result result;
    fill(result);
    const oxa::Assessment assessment = oxa::assess(result);
    const std::string document = oxa::to_json(result, 7);
    SCOPED_TRACE(document);
    const std::optional<oxa::test::Report> read = oxa::test::read_report(document);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->result.evidence, result.evidence);
    EXPECT_EQ(read->result.probes, result.probes);
    EXPECT_EQ(read->assessment.score, assessment.score);
    EXPECT_EQ(read->assessment.likelihood, assessment.likelihood);
    EXPECT_EQ(read->assessment.hypervisors, assessment.hypervisors);
    EXPECT_EQ(read->assessment.containers, assessment.containers);
    EXPECT_EQ(read->assessment.compatibility_layers, assessment.compatibility_layers);
    EXPECT_EQ(read->assessment.host_hypervisors, assessment.host_hypervisors);
    EXPECT_EQ(read->assessment.cloud_providers, assessment.cloud_providers);
    EXPECT_EQ(oxa::test::summarize_report(document), oxa::tool::summarize(result, assessment));
  }
}

// A document that lacks, or mistypes, anything the summary shows is no
// report.
TEST(Summary, RefusesDocumentsThatAreNotReports) {
  const std::string report =
      R"({"schema_version":1,"module_version":"1.0.0","vm_score":99,"vm_likelihood":"very_likely",)"
      R"("hypervisors":["kvm"],"containers":[],"compatibility_layers":[],"host_hypervisors":[],)"
      R"("cloud_providers":["aws"],"evidence":[{"source":"cpu","category":"guest","vendor":"kvm",)"
      R"("weight":95,"detail":"KVMKVMKVM"}],"probes":[{"source":"cpu","status":"ok"}],"duration_us":12})";
  ASSERT_TRUE(oxa::test::read_report(report).has_value());
  const auto with = [&report](std::string_view from, std::string_view to) {
    const std::size_t at = report.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? report : std::string(report).replace(at, from.size(), to);
  };
  const std::string cases[] = {
      "",
      "not json",
      "[]",
      report.substr(0, report.size() - 1),
      with(R"("vm_score":99)", R"("vm_score":"99")"),
      with(R"("vm_score":99)", R"("vm_score":99.5)"),
      with(R"("vm_score":99)", R"("vm_score":2147483648)"),
      with(R"("vm_likelihood":"very_likely",)", ""),
      with(R"("vm_likelihood":"very_likely")", R"("vm_likelihood":null)"),
      with(R"("hypervisors":["kvm"])", R"("hypervisors":["kvm",7])"),
      with(R"("containers":[])", R"("containers":{})"),
      with(R"("cloud_providers":["aws"],)", ""),
      with(R"("evidence":[)", R"("evidence":null,"x":[)"),
      with(R"({"source":"cpu","category")", R"(7,{"source":"cpu","category")"),
      with(R"("weight":95)", R"("weight":"95")"),
      with(R"("weight":95)", R"("weight":-2147483649)"),
      with(R"(,"detail":"KVMKVMKVM")", ""),
      with(R"("vendor":"kvm")", R"("vendor":["kvm"])"),
      with(R"("probes":[{"source":"cpu","status":"ok"}])", R"("probes":{})"),
      with(R"({"source":"cpu","status":"ok"})", R"({"source":"cpu"})"),
      with(R"("status":"ok")", R"("status":0)"),
  };
  for (const std::string& text : cases) {
    EXPECT_FALSE(oxa::test::read_report(text).has_value()) << text;
    EXPECT_FALSE(oxa::test::summarize_report(text).has_value()) << text;
  }
}

using oxa::tool::Json;
using oxa::tool::JsonRead;
using oxa::tool::kMaxJsonDepth;
using oxa::tool::kMaxJsonValues;
using oxa::tool::read_json;

constexpr const char* kA[] = {"a"};
constexpr const char* kABC[] = {"a", "b", "c"};

TEST(JsonText, ReadsIntegersStringsAndStructure) {
  const JsonRead r = read_json(
      " {\"a\":[1,-2,true,null,\"x\\u00e9\\\"\\\\\\/\\n\",{}],\"b\":{\"a\":[]},"
      "\"c\":[9223372036854775807,-9223372036854775808,-0]}\n",
      kABC);
  ASSERT_EQ(r.fault, JsonRead::Fault::none);
  const Json& a = r.value.at("a");
  ASSERT_EQ(a.size(), 6u);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a[1].get<std::int64_t>(), -2);
  EXPECT_EQ(a[2], true);
  EXPECT_TRUE(a[3].is_null());
  EXPECT_EQ(a[4].get<std::string>(), "x\xe9\"\\/\n");  // \u00XX is the byte XX
  EXPECT_EQ(a[5], Json::object());
  EXPECT_EQ(r.value.at("b"), Json::parse(R"({"a":[]})"));
  // Every number is a signed 64-bit integer, the non-negative ones included.
  for (const Json& n : r.value.at("c")) EXPECT_TRUE(n.is_number_integer() && !n.is_number_unsigned()) << n;
  EXPECT_EQ(r.value.at("c")[0].get<std::int64_t>(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(r.value.at("c")[1].get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(read_json("[]", {}).value, Json::array());
  EXPECT_EQ(read_json("\"\"", {}).value, "");
}

TEST(JsonText, RefusesWhatIsNotJsonWithIntegers) {
  const std::string cases[] = {"", " ", "{", "[1,]", "{\"a\"}", "{\"a\":1,}", "\"\\u12\"", "\"open", "[1] 2",
                               "{\"a\":01x}", "[01]", "nul", "'a'", "/* note */ 1", std::string("[1]\0", 4),
                               std::string("[1]\0]", 5),
                               // Strings: raw control bytes, bytes that are not UTF-8, a lone surrogate.
                               "\"a\nb\"", "\"\xff\"", "\"\\ud800\"",
                               // Numbers: fractions, exponents, beyond 64 bits signed; also where the
                               // member is dropped.
                               "[1.5]", "1e3", "-0.0", "[9223372036854775808]", "-9223372036854775809",
                               "99999999999999999999", "{\"b\":1.5}"};
  for (const std::string& bad : cases) {
    EXPECT_EQ(read_json(bad, kA).fault, JsonRead::Fault::syntax) << bad;
  }
}

TEST(JsonText, BoundsDepthAndNumberOfValues) {
  const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  // The root stands at depth 0: kMaxJsonDepth + 1 brackets reach the bound.
  EXPECT_EQ(read_json(nested(kMaxJsonDepth + 1), {}).fault, JsonRead::Fault::none);
  EXPECT_EQ(read_json(nested(kMaxJsonDepth + 2), {}).fault, JsonRead::Fault::syntax);
  EXPECT_EQ(read_json("{\"x\":" + nested(kMaxJsonDepth) + "}", {}).fault, JsonRead::Fault::none);
  EXPECT_EQ(read_json("{\"x\":" + nested(kMaxJsonDepth + 1) + "}", {}).fault, JsonRead::Fault::syntax);
  EXPECT_EQ(read_json(std::string(16 << 20, '['), {}).fault, JsonRead::Fault::syntax);

  // An array of n zeros is n + 1 values.
  const auto zeros = [](std::size_t n) {
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) text += i == 0 ? "0" : ",0";
    return text;
  };
  EXPECT_EQ(read_json(zeros(kMaxJsonValues - 1) + "]", {}).fault, JsonRead::Fault::none);
  EXPECT_EQ(read_json(zeros(kMaxJsonValues) + "]", {}).fault, JsonRead::Fault::too_many);
  // Reached before a later syntax fault; counted in dropped members too.
  EXPECT_EQ(read_json(zeros(kMaxJsonValues) + ",x", {}).fault, JsonRead::Fault::too_many);
  EXPECT_EQ(read_json("{\"x\":" + zeros(kMaxJsonValues - 2) + "]}", {}).fault, JsonRead::Fault::none);
  EXPECT_EQ(read_json("{\"x\":" + zeros(kMaxJsonValues - 1) + "]}", {}).fault, JsonRead::Fault::too_many);
  std::string objects = "[{}";
  for (std::size_t i = 1; i < kMaxJsonValues; ++i) objects += ",{}";
  EXPECT_EQ(read_json(objects + "]", {}).fault, JsonRead::Fault::too_many);
}

TEST(JsonText, KeepsOnlyTheNamedMembersAndTheFirstOfTwins) {
  const struct {
    const char* text;
    const char* kept;
  } cases[] = {
      {R"({"a":1,"b":2})", R"({"a":1})"},
      {R"({"b":{"a":1},"a":{"b":1,"a":[{"a":2,"c":3},{"c":[]}]}})", R"({"a":{"a":[{"a":2},{}]}})"},
      {R"([{"b":1},{"a":"x","b":[1,2]}])", R"([{},{"a":"x"}])"},
      {R"({"a":1,"a":2})", R"({"a":1})"},
      {R"({"a":{"a":1},"a":{"a":2}})", R"({"a":{"a":1}})"},
      {R"({"a":[1],"a":{"b":2}})", R"({"a":[1]})"},
  };
  for (const auto& c : cases) {
    const JsonRead r = read_json(c.text, kA);
    EXPECT_EQ(r.fault, JsonRead::Fault::none) << c.text;
    EXPECT_EQ(r.value, Json::parse(c.kept)) << c.text;
  }
}

// Members are added in order, never twice, and survive the growth of their
// object with their nested values.
TEST(JsonText, AddMemberKeepsTheFirstAndTheOrder) {
  // Appended, not concatenated: g++ 12 at -O3 misreads "k" + std::string as
  // an overlapping copy (-Wrestrict).
  const auto key = [](int i) {
    std::string k = "k";
    k += std::to_string(i);
    return k;
  };
  Json object = Json::object();
  for (int i = 0; i < 20; ++i) {
    Json value = Json::array();
    value.push_back(i);
    value.push_back(Json::array());
    Json* added = oxa::tool::add_member(object, key(i), std::move(value));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(*added, Json::array({i, Json::array()}));
  }
  EXPECT_EQ(oxa::tool::add_member(object, "k3", 7), nullptr);
  ASSERT_EQ(object.size(), 20u);
  int i = 0;
  for (auto it = object.begin(); it != object.end(); ++it, ++i) {
    EXPECT_EQ(it.key(), key(i));
    EXPECT_EQ(*it, Json::array({i, Json::array()}));
  }
  oxa::tool::dismantle(object);
  EXPECT_EQ(object, Json::object());
}

TEST(JsonText, StringsComeBackAsTheBytesTheyEscape) {
  const struct {
    std::string json;
    std::string bytes;
  } cases[] = {
      {R"("plain")", "plain"},
      {R"("\u0000\u001f\u007f")", std::string("\0\x1f\x7f", 3)},
      {R"("\u0080\u00e9\u00ff")", "\x80\xe9\xff"},
      // Two escaped bytes that happen to spell UTF-8 stay two bytes.
      {R"("a\u00c3\u00a9b")",
       "a\xc3\xa9"
       "b"},
      // Raw UTF-8 of the same code points: once parsed, nothing tells it apart.
      {"\"\xc2\x80\xc3\xa9\xc3\xbf\"", "\x80\xe9\xff"},
      // Above U+00FF, which none of our writers produces: kept as UTF-8.
      {R"("\u0100\u20ac\ud83d\ude00")", "\xc4\x80\xe2\x82\xac\xf0\x9f\x98\x80"},
  };
  for (const auto& c : cases) {
    const JsonRead r = read_json(c.json, {});
    ASSERT_EQ(r.fault, JsonRead::Fault::none) << c.json;
    EXPECT_EQ(r.value.get<std::string>(), c.bytes) << c.json;
  }
  // Text no parser hands over: whatever is not C2 or C3 and a continuation
  // byte is copied.
  EXPECT_EQ(oxa::tool::raw_bytes("\xc3"), "\xc3");
  EXPECT_EQ(oxa::tool::raw_bytes("\xc3"
                                 "A"),
            "\xc3"
            "A");
  EXPECT_EQ(oxa::tool::raw_bytes("\xe2\x82\xac\xc2\xa0"), "\xe2\x82\xac\xa0");
}

}  // namespace
