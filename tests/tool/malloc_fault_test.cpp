// SPDX-License-Identifier: MIT
// oxa-detect when malloc fails: the tool runs with the C allocator of
// tests/support/malloc_fault.c preloaded, and for n = 1, 2, 3, ... the n-th
// allocation since process start returns null. Whatever n, the tool must end
// normally (never a signal, never std::terminate), with 0, or with 2 and one
// line on standard error saying why.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_tool.h"

extern char** environ;

namespace {

using oxa::test::slurp;

// Every n up to here (more than any invocation makes today), then every
// kStride-th, so that a run grown much longer still ends in time.
constexpr unsigned long kEveryUpTo = 2000;
constexpr unsigned long kStride = 7;
// A run that still fails an allocation this far in never ends the sweep.
constexpr unsigned long kLastRun = 5000;
// Faulty runs shown one by one; the rest are counted.
constexpr int kShown = 12;
constexpr std::string_view kErrorPrefix = "oxa-detect: ";

// Stands for a path to a small valid SMBIOS table the test writes: one
// end-of-table structure (type 127, length 4, handle 0, two NULs).
constexpr std::string_view kTableArgument = "@table";
constexpr char kEndOfTable[] = {0x7f, 0x04, 0x00, 0x00, 0x00, 0x00};

struct Invocation {
  const char* name;
  std::vector<std::string> args;
  // The output does not depend on the machine or the clock: every
  // successful run must print it byte for byte.
  bool same_output;
};

const Invocation kInvocations[] = {
    {"Detect", {}, false},
    {"Summary", {"--summary"}, false},
    {"Pretty", {"--pretty"}, false},
    {"Version", {"--version"}, true},
    {"Help", {"--help"}, true},
    {"SmbiosFile", {"--smbios", std::string(kTableArgument)}, false},
    {"SmbiosFileSummary", {"--summary", "--smbios", std::string(kTableArgument)}, false},
    {"Replay", {"--replay", OXA_REPLAY_DUMP}, true},
    {"ReplayPretty", {"--pretty", "--replay", OXA_REPLAY_DUMP}, true},
    {"ReplayBrief", {"--brief", "--replay", OXA_REPLAY_DUMP}, true},
    {"Dump", {"--dump"}, false},
};

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const Invocation& invocation, std::ostream* os) { *os << invocation.name; }

struct ToolRun {
  int signal = 0;  // the signal that ended the tool, or 0
  int exit_code = -1;
  bool injected = false;  // the n-th allocation happened, and failed
  std::string out;
  std::string err;
};

// Standard error on one line: its newlines as \n.
std::string quoted(const std::string& text) {
  std::string q = "\"";
  for (const char c : text) q += c == '\n' ? std::string("\\n") : std::string(1, c);
  return q + "\"";
}

std::string describe(const ToolRun& run) {
  std::string text = run.signal != 0
                         ? "signal " + std::to_string(run.signal) + " (" + strsignal(run.signal) + ")"
                         : "exit " + std::to_string(run.exit_code);
  if (!run.err.empty()) text += ", stderr " + quoted(run.err);
  return text;
}

class MallocFault : public ::testing::TestWithParam<Invocation> {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "oxa_malloc_fault_" + GetParam().name + "_" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0) << dir_ << ": " << std::strerror(errno);
    table_ = dir_ + "/table.bin";
    FILE* file = std::fopen(table_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(kEndOfTable, 1, sizeof kEndOfTable, file), sizeof kEndOfTable);
    ASSERT_EQ(std::fclose(file), 0);
  }

  void TearDown() override {
    for (const char* name : {"/table.bin", "/out", "/err", "/injected"}) std::remove((dir_ + name).c_str());
    rmdir(dir_.c_str());
  }

  // The tool with the failing allocator preloaded; fail_at == 0 fails nothing.
  ToolRun run_tool(unsigned long fail_at) const {
    const std::string out_path = dir_ + "/out";
    const std::string err_path = dir_ + "/err";
    const std::string report_path = dir_ + "/injected";
    std::remove(report_path.c_str());

    std::vector<std::string> args{OXA_DETECT_PATH};
    for (const std::string& arg : GetParam().args) args.push_back(arg == kTableArgument ? table_ : arg);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry = *e;
      if (!entry.starts_with("LD_PRELOAD=") && !entry.starts_with("OXA_FAIL_MALLOC_"))
        env.emplace_back(entry);
    }
    env.push_back(std::string("LD_PRELOAD=") + OXA_MALLOC_FAULT_SHIM);
    env.push_back("OXA_FAIL_MALLOC_AT=" + std::to_string(fail_at));
    env.push_back("OXA_FAIL_MALLOC_REPORT=" + report_path);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ToolRun run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "posix_spawn " << argv[0] << ": " << std::strerror(spawned);
      return run;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
      ADD_FAILURE() << "waitpid: " << std::strerror(errno);
      return run;
    }
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    run.injected = access(report_path.c_str(), F_OK) == 0;
    run.out = slurp(out_path);
    run.err = slurp(err_path);
    return run;
  }

  std::string dir_;
  std::string table_;
};

// Empty if the run behaved; else what was wrong with it.
std::string fault_of(const ToolRun& run, const ToolRun& unaffected, bool same_output) {
  if (run.signal != 0 || (run.exit_code != 0 && run.exit_code != 2)) return describe(run);
  if (run.exit_code == 2) {
    if (!run.injected) return "no allocation failed, yet " + describe(run);
    const bool one_line = run.err.starts_with(kErrorPrefix) && run.err.size() > kErrorPrefix.size() + 1 &&
                          run.err.find('\n') == run.err.size() - 1;
    return one_line ? "" : "not exactly one line \"oxa-detect: ...\" on standard error: " + describe(run);
  }
  if (!run.err.empty()) return "exit 0 with stderr " + quoted(run.err);
  if (run.out.empty() || run.out.back() != '\n') return "exit 0 with an empty or unterminated output";
  if (same_output && run.out != unaffected.out) return "exit 0 with other output than a run without failure";
  return "";
}

TEST_P(MallocFault, EndsWithStatusZeroOrTwoAndOneLine) {
  const Invocation& invocation = GetParam();
  const ToolRun unaffected = run_tool(0);
  ASSERT_EQ(unaffected.signal, 0) << describe(unaffected);
  ASSERT_EQ(unaffected.exit_code, 0) << describe(unaffected);
  ASSERT_FALSE(unaffected.out.empty());
  ASSERT_TRUE(unaffected.err.empty()) << unaffected.err;

  int faulty = 0;
  unsigned long runs = 0;
  unsigned long n = 1;
  for (; n <= kLastRun; n += n < kEveryUpTo ? 1 : kStride) {
    const ToolRun run = run_tool(n);
    ++runs;
    const std::string fault = fault_of(run, unaffected, invocation.same_output);
    if (!fault.empty() && ++faulty <= kShown) ADD_FAILURE() << "allocation " << n << " failed: " << fault;
    if (!run.injected) break;  // the run made fewer than n allocations
  }
  // A first run that failed nothing means the allocator was not preloaded.
  EXPECT_GT(runs, 1U) << "no allocation failed: is " << OXA_MALLOC_FAULT_SHIM << " preloaded?";
  EXPECT_LE(n, kLastRun) << "every run up to allocation " << kLastRun << " still failed one";
  EXPECT_EQ(faulty, 0) << faulty << " of " << runs << " runs were faulty ("
                       << (faulty > kShown ? kShown : faulty) << " shown)";
  std::printf("%s: %lu runs, the last one without a failed allocation\n", invocation.name, runs);
}

INSTANTIATE_TEST_SUITE_P(Tool, MallocFault, ::testing::ValuesIn(kInvocations),
                         [](const ::testing::TestParamInfo<Invocation>& info) { return info.param.name; });

}  // namespace
