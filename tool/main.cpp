// SPDX-License-Identifier: MIT
// oxa-detect: prints the library's report for this machine, or the report of
// a scan of a raw SMBIOS structure table; captures a run's raw inputs as a
// dump, or replays a dump.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "api/detection_run.h"
#include "capture/dump_replay.h"
#include "capture/recording_layers.h"
#include "core/assessment.h"
#include "core/evidence.h"
#include "core/json_report.h"
#include "core/version.h"
#include "dump_format.h"
#include "identity/smbios_entry_point.h"
#include "identity/smbios_scan.h"
#include "input_file.h"
#include "platform/native.h"
#include "pretty_print.h"
#include "prometheus.h"
#include "shell_answer.h"
#include "summary.h"

namespace {

// Built at run time: the word for a virtual machine of no named vendor is
// the vocabulary's.
std::string usage() {
  return std::string(
             "usage: oxa-detect [--summary | --pretty | --prometheus | -q | --quiet | --brief]\n"
             "                  [--vm | --container]\n"
             "                  [--smbios [FILE] | --replay FILE]\n"
             "       oxa-detect --list [--vm | --container]\n"
             "       oxa-detect --dump | --version | --help\n"
             "\n"
             "Tells whether this process runs in a virtual machine and prints the\n"
             "library's JSON report on one line.\n"
             "\n"
             "  --summary        print a short human-readable verdict instead of JSON\n"
             "  --pretty         print the JSON report indented by two spaces\n"
             "  --prometheus     print the verdict as Prometheus metrics, for node_exporter's\n"
             "                   textfile collector\n"
             "  -q, --quiet      print nothing: the exit status is the answer\n"
             "  --brief          print one word: the first of \"hypervisors\"; for a virtual\n"
             "                   machine of no named vendor \"") +
         std::string(oxa::kOtherHypervisor) +
         "\"; else the first of\n"
         "                   \"host_hypervisors\" (a root partition); else \"none\";\n"
         "                   exit status as for --quiet\n"
         "  --vm             answer --quiet and --brief for the machine alone (the\n"
         "                   default); alone, the same as --vm --brief\n"
         "  --container      answer --quiet and --brief for what encloses the process:\n"
         "                   the first of \"containers\", else of \"compatibility_layers\",\n"
         "                   else \"none\"; exit 0 when one is named, else 1; alone, the\n"
         "                   same as --container --brief\n"
         "  --list           print every vendor word the tool may print, one a line:\n"
         "                   hypervisors, containers, compatibility layers, clouds, a\n"
         "                   blank line between groups; with --vm or --container, the\n"
         "                   words --brief may print for that side\n"
         "  --smbios [FILE]  scan a raw SMBIOS table (or a dmidecode --dump-bin file)\n"
         "                   instead of running detection; FILE defaults to\n"
         "                   /sys/firmware/dmi/tables/DMI\n"
         "  --dump           run detection and print every raw input it read, with\n"
         "                   its report, as a JSON dump\n"
         "  --replay FILE    run detection over the inputs of a dump instead of this\n"
         "                   machine\n"
         "  --version        print the library version\n"
         "  -h, --help       print this help\n"
         "\n"
         "Exit status: 0 success; 2 usage error, detection failure, unreadable\n"
         "input or failed write. With --quiet or --brief: 0 when the verdict is\n"
         "\"likely\" or \"very_likely\", 1 when it is \"possible\", \"not_detected\" or\n"
         "\"unknown\" (with --container: 0 when a container or compatibility layer is\n"
         "named, else 1), 2 as above.\n";
}

// A usage error is no answer, so it never exits 1, which --quiet and
// --brief give to "not a virtual machine".
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 2;

// Writes everything and flushes; a failed write (a closed pipe, a full disk)
// must not pass as success.
int print(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return 0;
  const int error = errno;
  std::fprintf(stderr, "oxa-detect: cannot write to standard output: %s\n",
               std::generic_category().message(error).c_str());
  return kExitFailure;
}

// A usage error: one line on standard error, the argument escaped, and where
// to read more; the whole usage would bury the line that matters.
int usage_error(std::string_view what, std::string_view argument = {}) {
  std::string line = "oxa-detect: ";
  line += what;
  if (!argument.empty()) {
    line += " '";
    oxa::append_escaped(line, argument);
    line += '\'';
  }
  line += "; try 'oxa-detect --help'\n";
  std::fputs(line.c_str(), stderr);
  return kExitUsage;
}

// One line on standard error about an input: its name and what is wrong
// with it, both escaped, since either may hold bytes from a hostile file or
// argument.
int fail(std::string_view path, std::string_view reason) {
  std::string line = "oxa-detect: ";
  oxa::append_escaped(line, path);
  line += ": ";
  oxa::append_escaped(line, reason);
  line += '\n';
  std::fputs(line.c_str(), stderr);
  return kExitFailure;
}

enum class Format { json, pretty, summary, prometheus, quiet, brief };

// What an answer speaks of (--vm, --container): the machine by default.
using oxa::Subject;

// --quiet and --brief: the verdict as the exit status, and for --brief one
// word on its own line.
int answer(const oxa::Assessment& assessment, Format format, Subject side) {
  if (format == Format::brief) {
    const int code = print(std::string(oxa::tool::brief_name(assessment, side)) + "\n");
    if (code != 0) return code;
  }
  return oxa::tool::verdict_status(assessment, side);
}

// Every format is rendered from the record itself; the report is written
// only where it is printed.
int print_run(const oxa::Run& run, Format format, Subject side) {
  switch (format) {
    case Format::quiet:
    case Format::brief:
      return answer(oxa::assess(run.result), format, side);
    case Format::summary:
      return print(oxa::tool::summarize(run.result, oxa::assess(run.result)));
    case Format::pretty:
      return print(oxa::tool::pretty_print(oxa::to_json(run.result, run.duration_us)) + '\n');
    case Format::prometheus:
      return print(oxa::tool::to_prometheus(run.result, oxa::assess(run.result), run.duration_us));
    case Format::json:
      break;
  }
  return print(oxa::to_json(run.result, run.duration_us) + '\n');
}

// The tool runs the library's detection itself, over the same native
// layers oxa_detect_json hands in, so that every mode runs the same code.
int detect(Format format, Subject side) {
  oxa::NativeProcessor processor;
  oxa::NativeSystem system;
  oxa::NativeRegistry registry;
  return print_run(oxa::run_detection(processor, system, registry), format, side);
}

// One real detection run through recording layers, printed as a dump.
int dump() {
  oxa::NativeProcessor processor;
  oxa::NativeSystem system;
  oxa::NativeRegistry registry;
  return print(oxa::tool::write_dump(oxa::capture::capture(processor, system, registry).dump));
}

int replay(const char* path, Format format, Subject side) {
  std::string bytes;
  if (std::string reason = oxa::tool::read_input(path, bytes); !reason.empty()) return fail(path, reason);
  const oxa::tool::DumpRead read = oxa::tool::read_dump(bytes);
  if (!read.dump) return fail(path, read.error);
  const oxa::capture::Replay replayed = oxa::capture::replay_dump(*read.dump);
  if (!replayed.run) return fail(path, replayed.error);
  return print_run(*replayed.run, format, side);
}

constexpr char kDefaultSmbiosTable[] = "/sys/firmware/dmi/tables/DMI";

// The report of one table scan alone: its entries, their verdict and the
// scan's duration. A malformed table is no error here: the report says so.
int scan_smbios(const char* path, Format format, Subject side) {
  std::string bytes;
  if (std::string reason = oxa::tool::read_input(path, bytes); !reason.empty()) return fail(path, reason);
  const oxa::SmbiosTableLocation location = oxa::locate_smbios_table(bytes);
  if (!location.error.empty()) return fail(path, location.error);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  oxa::Run run;
  oxa::smbios(run.result, location.table);
  run.duration_us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  return print_run(run, format, side);
}

// Everything that may allocate runs in here, under main's guard.
int run(int argc, char** argv) {
  Format format = Format::json;
  std::optional<Subject> side;
  bool list = false;
  bool smbios = false;
  bool capture = false;
  const char* replay_path = nullptr;
  const char* smbios_path = kDefaultSmbiosTable;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return print(usage());
    if (arg == "--version") return print(std::string(oxa::kVersion) + "\n");
    if (arg == "--summary") {
      format = Format::summary;
    } else if (arg == "--pretty") {
      format = Format::pretty;
    } else if (arg == "--prometheus") {
      format = Format::prometheus;
    } else if (arg == "--quiet" || arg == "-q") {
      format = Format::quiet;
    } else if (arg == "--brief") {
      format = Format::brief;
    } else if (arg == "--vm" || arg == "--container") {
      const Subject asked = arg == "--vm" ? Subject::machine : Subject::enclosure;
      if (side && *side != asked) return usage_error("--vm and --container exclude each other");
      side = asked;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--smbios") {
      smbios = true;
      if (i + 1 < argc && (argv[i + 1][0] != '-' || std::string_view(argv[i + 1]) == "-"))
        smbios_path = argv[++i];
    } else if (arg == "--dump") {
      capture = true;
    } else if (arg == "--replay") {
      if (i + 1 >= argc) return usage_error("--replay needs a FILE");
      replay_path = argv[++i];
    } else {
      return usage_error("unknown option", arg);
    }
  }
  const bool source = capture || smbios || replay_path != nullptr;
  if (list) {
    if (source || format != Format::json) return usage_error("--list takes only --vm or --container");
    return print(oxa::tool::list_words(side));
  }
  // --vm and --container ask for an answer: a word unless --quiet.
  if (side) {
    if (format == Format::summary || format == Format::pretty || format == Format::prometheus)
      return usage_error("--vm and --container answer with --brief or --quiet, not a report");
    if (format == Format::json) format = Format::brief;
  }
  // A dump is its own document: it takes no format and no other source.
  if ((capture && (smbios || replay_path != nullptr || format != Format::json)) ||
      (smbios && replay_path != nullptr)) {
    // With the whole usage, which shows the forms that do go together.
    usage_error("--dump, --replay and --smbios exclude each other, and --dump prints only JSON");
    std::fputs(usage().c_str(), stderr);
    return kExitUsage;
  }
  const Subject answered = side.value_or(Subject::machine);
  if (capture) return dump();
  if (replay_path != nullptr) return replay(replay_path, format, answered);
  return smbios ? scan_smbios(smbios_path, format, answered) : detect(format, answered);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe should end in a reported write error, not a signal death.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("oxa-detect: out of memory\n", stderr);
  } catch (...) {
    std::fputs("oxa-detect: internal error\n", stderr);
  }
  return kExitFailure;
}
