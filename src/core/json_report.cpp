#include "core/json_report.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "core/assessment.h"
#include "core/version.h"

namespace oxa {
namespace {

using List = std::vector<std::string>;

bool needs_unicode_escape(unsigned char b) { return b < 0x20 || b >= 0x7F; }

std::size_t quoted_size(std::string_view text) { return escaped_size(text) + 2; }

std::size_t array_size(const List& list) {
  std::size_t n = 2 + (list.empty() ? 0 : list.size() - 1);
  for (const std::string& s : list) n += quoted_size(s);
  return n;
}

// Decimal integers take at most 20 characters (INT64_MIN).
constexpr std::size_t kMaxDecimal = 20;

void quote(std::string& out, std::string_view text) {
  out += '"';
  append_escaped(out, text);
  out += '"';
}

void array(std::string& out, const List& list) {
  out += '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) out += ',';
    quote(out, list[i]);
  }
  out += ']';
}

void decimal(std::string& out, std::int64_t value) {
  char digits[kMaxDecimal];
  auto* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

std::size_t escaped_size(std::string_view text) noexcept {
  std::size_t n = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    n += needs_unicode_escape(b) ? 6 : (b == '"' || b == '\\') ? 2 : 1;
  }
  return n;
}

void append_escaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += c;
    } else if (needs_unicode_escape(b)) {
      const char escape[] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
      out.append(escape, sizeof escape);
    } else {
      out += c;
    }
  }
}

std::string to_json(const Result& result, std::int64_t duration_us) {
  const Assessment a = assess(result);

  static constexpr std::string_view kEvidenceObject =
      R"({"source":,"category":,"vendor":,"weight":,"detail":})";
  static constexpr std::string_view kProbeObject = R"({"source":,"status":})";

  std::size_t size = 400 + 2 * kMaxDecimal + quoted_size(a.likelihood) + array_size(a.hypervisors) +
                     array_size(a.containers) + array_size(a.compatibility_layers) +
                     array_size(a.host_hypervisors) + array_size(a.cloud_providers);
  for (const Evidence& e : result.evidence) {
    size += kEvidenceObject.size() + 1 + kMaxDecimal + quoted_size(e.source) + quoted_size(e.category) +
            quoted_size(e.vendor) + quoted_size(e.detail);
  }
  for (const Probe& p : result.probes) {
    size += kProbeObject.size() + 1 + quoted_size(p.source) + quoted_size(p.status);
  }

  std::string out;
  out.reserve(size);
  out += R"({"schema_version":1,"module_version":)";
  quote(out, kVersion);
  out += R"(,"vm_score":)";
  decimal(out, a.score);
  out += R"(,"vm_likelihood":)";
  quote(out, a.likelihood);
  out += R"(,"hypervisors":)";
  array(out, a.hypervisors);
  out += R"(,"containers":)";
  array(out, a.containers);
  out += R"(,"compatibility_layers":)";
  array(out, a.compatibility_layers);
  out += R"(,"host_hypervisors":)";
  array(out, a.host_hypervisors);
  out += R"(,"cloud_providers":)";
  array(out, a.cloud_providers);

  out += R"(,"evidence":[)";
  for (std::size_t i = 0; i < result.evidence.size(); ++i) {
    const Evidence& e = result.evidence[i];
    if (i != 0) out += ',';
    out += R"({"source":)";
    quote(out, e.source);
    out += R"(,"category":)";
    quote(out, e.category);
    out += R"(,"vendor":)";
    quote(out, e.vendor);
    out += R"(,"weight":)";
    decimal(out, e.weight);
    out += R"(,"detail":)";
    quote(out, e.detail);
    out += '}';
  }
  out += R"(],"probes":[)";
  for (std::size_t i = 0; i < result.probes.size(); ++i) {
    const Probe& p = result.probes[i];
    if (i != 0) out += ',';
    out += R"({"source":)";
    quote(out, p.source);
    out += R"(,"status":)";
    quote(out, p.status);
    out += '}';
  }
  out += R"(],"duration_us":)";
  decimal(out, duration_us);
  out += '}';
  return out;
}

}  // namespace oxa
