// SPDX-License-Identifier: MIT
#include "prometheus.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "core/version.h"
#include "core/vocabulary.h"

namespace oxa::tool {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// A label value in double quotes. The format escapes only backslash, quote
// and newline; a report's texts are raw bytes, so every byte outside
// printable ASCII is written as the report writes it (\u00xx), its
// backslash escaped, which keeps the value printable ASCII and valid UTF-8.
void append_label(std::string& out, std::string_view name, std::string_view value) {
  if (out.back() != '{') out += ',';
  out += name;
  out += "=\"";
  for (const char c : value) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (b >= 0x20 && b <= 0x7E) {
      out += c;
    } else {
      out += "\\\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  out += '"';
}

void append_family(std::string& out, std::string_view name, std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += " gauge\n";
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += ',';
    out += word;
  }
  return out;
}

}  // namespace

std::string to_prometheus(const Result& result, const Assessment& assessment, std::int64_t duration_us) {
  std::string out;
  append_family(out, "oxa_vm_score", "Strength of the virtual-machine verdict, 0 to 99.");
  out += "oxa_vm_score " + std::to_string(assessment.score) + '\n';

  append_family(out, "oxa_verdict_info",
                "The verdict in words: the likelihood and the vendors of each list, comma separated.");
  out += "oxa_verdict_info{";
  append_label(out, "likelihood", assessment.likelihood);
  for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
    append_label(out, kVendorLists[i].name, joined(assessment.*kListMembers[i]));
  }
  append_label(out, "version", kVersion);
  out += "} 1\n";

  append_family(out, "oxa_probe_status", "Each probe's outcome: 1 for the status it had, 0 for the others.");
  for (const Probe& probe : result.probes) {
    for (const std::string_view status : kStatuses) {
      out += "oxa_probe_status{";
      append_label(out, "probe", probe.source);
      append_label(out, "status", status);
      out += probe.status == status ? "} 1\n" : "} 0\n";
    }
  }

  append_family(out, "oxa_detection_duration_seconds", "Time the probes took.");
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%lld.%06lld", static_cast<long long>(duration_us / 1000000),
                static_cast<long long>(duration_us % 1000000));
  out += "oxa_detection_duration_seconds ";
  out += seconds;
  out += '\n';
  return out;
}

}  // namespace oxa::tool
