// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oxa {

// One weighted finding of a probe. Texts are raw bytes with no encoding.
struct Evidence {
  std::string source;
  std::string category;
  std::string vendor;
  std::string detail;  // at most kMaxDetail bytes
  std::int32_t weight = 0;

  friend bool operator==(const Evidence&, const Evidence&) = default;
};

// How one probe's own attempt went.
struct Probe {
  std::string source;
  std::string status;

  friend bool operator==(const Probe&, const Probe&) = default;
};

// The whole record of one detection run. Probes only append; readers walk
// the arrays directly, in insertion order.
struct Result {
  static constexpr std::size_t kMaxDetail = 160;

  std::vector<Evidence> evidence;
  std::vector<Probe> probes;

  // Records a finding unless one with the same four texts is stored already
  // (the weight is not compared). The detail is cut to kMaxDetail bytes
  // before the comparison. Strong guarantee on allocation failure.
  void add(std::string_view source, std::string_view category, std::string_view vendor, std::int32_t weight,
           std::string_view detail);

  // Records a probe outcome; never deduplicated. Strong guarantee.
  void probe(std::string_view source, std::string_view status);
};

// ASCII-only lower-casing: 'A'-'Z' become 'a'-'z', every other byte is kept.
std::string lower(std::string_view text);

// Byte-exact substring test; an empty needle is found everywhere.
bool contains(std::string_view haystack, std::string_view needle) noexcept;

}  // namespace oxa
