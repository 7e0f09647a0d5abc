// SPDX-License-Identifier: MIT
#include "core/json_report.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "core/assessment.h"
#include "core/version.h"

namespace oxa {
namespace {

bool needs_unicode_escape(unsigned char b) { return b < 0x20 || b >= 0x7F; }

// Decimal integers take at most 20 characters (INT64_MIN).
constexpr std::size_t kMaxDecimal = 20;

// The characters of an object with these keys and no values: braces,
// quoted keys, colons and the commas between members. Keys are plain
// identifiers, so no key needs an escape.
template <std::size_t N>
constexpr std::size_t object_size(const std::array<const char*, N>& keys) {
  std::size_t n = 2 + (N - 1);
  for (const char* key : keys) n += std::char_traits<char>::length(key) + 3;
  return n;
}

// The values of the members around the vendor lists, each under the name
// of its member, so that the member lists write them.
struct Verdict {
  std::int64_t schema_version;
  std::string_view module_version;
  std::int64_t vm_score;
  std::string_view vm_likelihood;
};
struct Record {
  const std::vector<Evidence>& evidence;
  const std::vector<Probe>& probes;
  std::int64_t duration_us;
};

// At most the number of characters write_value adds, for each kind of value.
std::size_t value_size(std::int64_t /*number*/) { return kMaxDecimal; }
std::size_t value_size(std::string_view text) { return escaped_size(text) + 2; }

std::size_t value_size(const Evidence& e) {
  std::size_t n = object_size(kEvidenceMembers);
#define OXA_MEMBER_SIZE_(name) n += value_size(e.name);
  OXA_EVIDENCE_MEMBERS(OXA_MEMBER_SIZE_)
#undef OXA_MEMBER_SIZE_
  return n;
}

std::size_t value_size(const Probe& p) {
  std::size_t n = object_size(kProbeMembers);
#define OXA_MEMBER_SIZE_(name) n += value_size(p.name);
  OXA_PROBE_MEMBERS(OXA_MEMBER_SIZE_)
#undef OXA_MEMBER_SIZE_
  return n;
}

template <class Item>
std::size_t value_size(const std::vector<Item>& items) {
  std::size_t n = 2 + (items.empty() ? 0 : items.size() - 1);
  for (const Item& item : items) n += value_size(item);
  return n;
}

void write_value(std::string& out, std::int64_t value) {
  char digits[kMaxDecimal];
  auto* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void write_value(std::string& out, std::string_view text) {
  out += '"';
  append_escaped(out, text);
  out += '"';
}

void write_value(std::string& out, const Evidence& e);
void write_value(std::string& out, const Probe& p);

template <class Item>
void write_value(std::string& out, const std::vector<Item>& items) {
  out += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out += ',';
    write_value(out, items[i]);
  }
  out += ']';
}

// Writes one member; `separator` opens the object before the first member
// and becomes the comma between the others.
template <class Value>
void write_member(std::string& out, char& separator, const char* key, const Value& value) {
  out += separator;
  separator = ',';
  out += '"';
  out += key;
  out += "\":";
  write_value(out, value);
}

void write_value(std::string& out, const Evidence& e) {
  char separator = '{';
#define OXA_WRITE_MEMBER_(name) write_member(out, separator, #name, e.name);
  OXA_EVIDENCE_MEMBERS(OXA_WRITE_MEMBER_)
#undef OXA_WRITE_MEMBER_
  out += '}';
}

void write_value(std::string& out, const Probe& p) {
  char separator = '{';
#define OXA_WRITE_MEMBER_(name) write_member(out, separator, #name, p.name);
  OXA_PROBE_MEMBERS(OXA_WRITE_MEMBER_)
#undef OXA_WRITE_MEMBER_
  out += '}';
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
  const Verdict verdict{kSchemaVersion, kVersion, a.score, a.likelihood};
  const Record record{result.evidence, result.probes, duration_us};

  std::size_t size = object_size(kReportMembers);
#define OXA_MEMBER_SIZE_(name) size += value_size(verdict.name);
  OXA_VERDICT_MEMBERS(OXA_MEMBER_SIZE_)
#undef OXA_MEMBER_SIZE_
  for (const auto list : kListMembers) size += value_size(a.*list);
#define OXA_MEMBER_SIZE_(name) size += value_size(record.name);
  OXA_RECORD_MEMBERS(OXA_MEMBER_SIZE_)
#undef OXA_MEMBER_SIZE_

  std::string out;
  out.reserve(size);
  char separator = '{';
#define OXA_WRITE_MEMBER_(name) write_member(out, separator, #name, verdict.name);
  OXA_VERDICT_MEMBERS(OXA_WRITE_MEMBER_)
#undef OXA_WRITE_MEMBER_
  for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
    write_member(out, separator, kVendorLists[i].name, a.*kListMembers[i]);
  }
#define OXA_WRITE_MEMBER_(name) write_member(out, separator, #name, record.name);
  OXA_RECORD_MEMBERS(OXA_WRITE_MEMBER_)
#undef OXA_WRITE_MEMBER_
  out += '}';
  return out;
}

}  // namespace oxa
