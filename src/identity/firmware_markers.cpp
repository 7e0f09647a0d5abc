// SPDX-License-Identifier: MIT
#include "identity/firmware_markers.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "core/vocabulary.h"

namespace oxa {
namespace {

struct Marker {
  std::string_view needle;  // lower-case; also the detail of the finding
  std::string_view vendor;
};

constexpr Marker clouds[] = {
    {"amazon ec2", "aws"},        {"google compute engine", "gcp"},
    {"alibaba cloud", "alibaba"}, {"7783-7084-3265-9085-8269-3286-77", "azure"},  // Azure's chassis asset tag
    {"openstack", "openstack"},
};

// Word characters of the lower-cased text; everything else, bytes from 0x80
// up included, separates words.
constexpr bool is_word(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool found_as_word(std::string_view s, std::string_view needle) {
  // "VirtualMac2,1" and friends carry a model number right after the name.
  const bool open_right = needle == "virtualmac";
  for (std::size_t at = s.find(needle); at != std::string_view::npos; at = s.find(needle, at + 1)) {
    const std::size_t end = at + needle.size();
    const bool left = at == 0 || !is_word(s[at - 1]);
    const bool right = end == s.size() || !is_word(s[end]) || open_right;
    if (left && right) return true;
  }
  return false;
}

// EC2 names its machines by instance type in DMI's product name
// ("m6g.large") under the vendor "Amazon EC2", and its bare-metal types
// ".metal" or ".metal-<size>" ("m5.metal", "c7i.metal-24xl"; AWS's
// instance type naming). Every other type runs on the Nitro hypervisor,
// which a Graviton guest cannot see otherwise. Xen-era instances name Xen
// instead ("Xen", "HVM domU"). Google Compute Engine's product name is the
// same on every machine, so it says nothing of this kind.
constexpr std::string_view kInstanceTypeVendor = "Amazon EC2";
constexpr std::string_view kBareMetalType = ".metal";
// Family, a dot, size: lower-case letters, digits and dashes, at most as
// long as any AWS type.
constexpr std::size_t kInstanceTypeMost = 32;

bool instance_type(std::string_view text) {
  const std::size_t dot = text.find('.');
  const auto name_char = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; };
  return text.size() <= kInstanceTypeMost && dot != 0 && dot != std::string_view::npos &&
         dot + 1 < text.size() && text.find('.', dot + 1) == std::string_view::npos &&
         std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(dot), name_char) &&
         std::all_of(text.begin() + static_cast<std::ptrdiff_t>(dot) + 1, text.end(), name_char);
}

}  // namespace

bool names_instance_types(std::string_view manufacturer) { return manufacturer == kInstanceTypeVendor; }

void instance_type_marker(Result& result, std::string_view source, std::string_view model) {
  if (!instance_type(model) || contains(model, kBareMetalType)) return;
  std::string detail = "Amazon EC2 instance type ";
  detail += model;
  result.add(source, categories::guest, kNoVendor, weights::indirect, detail);
}

void firmware_marker(Result& result, std::string_view source, std::string_view text) {
  static constexpr Marker markers[] = {
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

  const std::string s = lower(text);
  for (const Marker& m : markers) {
    if (found_as_word(s, m.needle)) {
      result.add(source, categories::guest, m.vendor, weights::named, m.needle);
    }
  }
  if (s == "virtual machine") {
    result.add(source, categories::guest, kNoVendor, weights::indirect, "Virtual Machine product");
  }
  firmware_cloud_marker(result, source, text);
}

void firmware_cloud_marker(Result& result, std::string_view source, std::string_view text) {
  const std::string s = lower(text);
  for (const Marker& m : clouds) {
    if (contains(s, m.needle)) {
      result.add(source, categories::cloud, m.vendor, weights::none, m.needle);
    }
  }
}

}  // namespace oxa
