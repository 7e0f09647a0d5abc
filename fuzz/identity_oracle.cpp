// SPDX-License-Identifier: MIT
#include "identity_oracle.h"

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "report_check.h"

namespace oxa::fuzz {
namespace {

// Written by vendor, from the strings each product's firmware is
// documented to show (its maker's name, its product's), not copied from the
// library's table: each vendor word and the lower-case spellings that name
// it as a whole word of an identity string.
struct Spellings {
  std::string_view vendor;
  std::array<std::string_view, 2> words;  // an empty one is no spelling
};

constexpr Spellings kGuests[] = {
    {"apple", {"apple virtualization", "virtualmac"}},
    {"bhyve", {"bhyve"}},
    {"bochs", {"bochs"}},
    {"cloud-hypervisor", {"cloud hypervisor"}},
    {"crosvm", {"crosvm"}},
    {"firecracker", {"firecracker"}},
    {"hyperv", {"hyper-v"}},
    {"kubevirt", {"kubevirt"}},
    {"kvm", {"kvm"}},
    {"openstack", {"openstack"}},
    {"parallels", {"parallels"}},
    {"qemu", {"qemu"}},
    {"virtualbox", {"virtualbox", "innotek gmbh"}},
    {"vmware", {"vmware"}},
    {"xen", {"xen", "hvm domu"}},
};

// The clouds' words, found anywhere in a string (Azure's is the chassis
// asset tag it writes).
constexpr Spellings kClouds[] = {
    {"alibaba", {"alibaba cloud"}},
    {"aws", {"amazon ec2"}},
    {"azure", {"7783-7084-3265-9085-8269-3286-77"}},
    {"gcp", {"google compute engine"}},
    {"openstack", {"openstack"}},
};

constexpr std::string_view kProductName = "Virtual Machine product";

std::string ascii_lower(std::string_view text) {
  std::string out;
  for (const char c : text) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

bool word_byte(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool equal_at(std::string_view s, std::size_t at, std::string_view needle) {
  if (at + needle.size() > s.size()) return false;
  for (std::size_t i = 0; i < needle.size(); ++i) {
    if (s[at + i] != needle[i]) return false;
  }
  return true;
}

// Any position where the needle stands as a whole word ("virtualmac" may
// run on into a model number).
bool whole_word(std::string_view s, std::string_view needle) {
  for (std::size_t at = 0; at < s.size(); ++at) {
    if (!equal_at(s, at, needle)) continue;
    const std::size_t end = at + needle.size();
    const bool left = at == 0 || !word_byte(s[at - 1]);
    const bool right = end == s.size() || !word_byte(s[end]) || needle == "virtualmac";
    if (left && right) return true;
  }
  return false;
}

bool anywhere(std::string_view s, std::string_view needle) {
  for (std::size_t at = 0; at < s.size(); ++at) {
    if (equal_at(s, at, needle)) return true;
  }
  return false;
}

void add_clouds(Result& result, std::string_view source, std::string_view text) {
  const std::string s = ascii_lower(text);
  for (const Spellings& cloud : kClouds) {
    for (const std::string_view word : cloud.words) {
      if (!word.empty() && anywhere(s, word)) result.add(source, "cloud", cloud.vendor, 0, word);
    }
  }
}

bool evidence_before(const Evidence& a, const Evidence& b) {
  return std::tie(a.category, a.vendor, a.detail, a.weight) <
         std::tie(b.category, b.vendor, b.detail, b.weight);
}

}  // namespace

bool same_findings(std::vector<Evidence> a, std::vector<Evidence> b) {
  std::sort(a.begin(), a.end(), evidence_before);
  std::sort(b.begin(), b.end(), evidence_before);
  return a == b;
}

Result expected_marker(std::string_view source, std::string_view text) {
  Result result;
  const std::string s = ascii_lower(text);
  for (const Spellings& guest : kGuests) {
    for (const std::string_view word : guest.words) {
      if (!word.empty() && whole_word(s, word)) result.add(source, "guest", guest.vendor, 85, word);
    }
  }
  if (s == "virtual machine") result.add(source, "guest", "unknown", 80, kProductName);
  add_clouds(result, source, text);
  return result;
}

Result expected_cloud_marker(std::string_view source, std::string_view text) {
  Result result;
  add_clouds(result, source, text);
  return result;
}

void check_marker_entry(const Evidence& e) {
  if (e.category == "guest") {
    if (e.detail == kProductName) {
      check(e.vendor == "unknown" && e.weight == 80, "the product-name finding is not (\"unknown\", 80)");
      return;
    }
    for (const Spellings& guest : kGuests) {
      if (e.vendor != guest.vendor) continue;
      for (const std::string_view word : guest.words) {
        if (word.empty() || e.detail != word) continue;
        check(e.weight == 85, "a product finding does not weigh 85");
        return;
      }
    }
    fail("a guest finding that is no spelling of its vendor");
  }
  check(e.category == "cloud", "a marker finding whose category is neither \"guest\" nor \"cloud\"");
  for (const Spellings& cloud : kClouds) {
    if (e.vendor != cloud.vendor) continue;
    for (const std::string_view word : cloud.words) {
      if (word.empty() || e.detail != word) continue;
      check(e.weight == 0, "a cloud finding does not weigh 0");
      return;
    }
  }
  fail("a cloud finding that is no spelling of its cloud");
}

}  // namespace oxa::fuzz
