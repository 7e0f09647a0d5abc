// SPDX-License-Identifier: MIT
#include "identity_oracle.h"

#include <string>

#include "report_check.h"

namespace oxa::fuzz {
namespace {

struct Row {
  std::string_view needle;
  std::string_view vendor;
};

constexpr Row kProducts[] = {
    {"vmware", "vmware"},
    {"virtualbox", "virtualbox"},
    {"innotek gmbh", "virtualbox"},
    {"parallels", "parallels"},
    {"qemu", "qemu"},
    {"kvm", "kvm"},
    {"xen", "xen"},
    {"bhyve", "bhyve"},
    {"bochs", "bochs"},
    {"hyper-v", "hyperv"},
    {"apple virtualization", "apple"},
    {"virtualmac", "apple"},
    {"cloud hypervisor", "cloud-hypervisor"},
    {"firecracker", "firecracker"},
    {"crosvm", "crosvm"},
    {"openstack", "openstack"},
    {"kubevirt", "kubevirt"},
    {"hvm domu", "xen"},
};

constexpr Row kClouds[] = {
    {"amazon ec2", "aws"},        {"google compute engine", "gcp"},
    {"alibaba cloud", "alibaba"}, {"7783-7084-3265-9085-8269-3286-77", "azure"},
    {"openstack", "openstack"},
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
  for (const Row& row : kClouds) {
    if (anywhere(s, row.needle)) result.add(source, "cloud", row.vendor, 0, row.needle);
  }
}

}  // namespace

Result expected_marker(std::string_view source, std::string_view text) {
  Result result;
  const std::string s = ascii_lower(text);
  for (const Row& row : kProducts) {
    if (whole_word(s, row.needle)) result.add(source, "guest", row.vendor, 85, row.needle);
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
    for (const Row& row : kProducts) {
      if (e.detail == row.needle && e.vendor == row.vendor) {
        check(e.weight == 85, "a product finding does not weigh 85");
        return;
      }
    }
    fail("a guest finding that is no row of the product table");
  }
  check(e.category == "cloud", "a marker finding whose category is neither \"guest\" nor \"cloud\"");
  for (const Row& row : kClouds) {
    if (e.detail == row.needle && e.vendor == row.vendor) {
      check(e.weight == 0, "a cloud finding does not weigh 0");
      return;
    }
  }
  fail("a cloud finding that is no row of the cloud table");
}

}  // namespace oxa::fuzz
