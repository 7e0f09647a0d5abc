// SPDX-License-Identifier: MIT
#include "core/evidence.h"

namespace oxa {

void Result::add(std::string_view source, std::string_view category, std::string_view vendor,
                 std::int32_t weight, std::string_view detail) {
  detail = detail.substr(0, kMaxDetail);
  // A run records a handful of entries: a linear scan beats any index.
  for (const Evidence& e : evidence) {
    if (e.source == source && e.category == category && e.vendor == vendor && e.detail == detail) {
      return;
    }
  }
  // Build the entry first: if a copy throws, the record is untouched, and
  // push_back of a nothrow-movable element is itself all-or-nothing.
  Evidence entry{std::string(source), std::string(category), std::string(vendor), std::string(detail),
                 weight};
  evidence.push_back(std::move(entry));
}

void Result::probe(std::string_view source, std::string_view status) {
  Probe entry{std::string(source), std::string(status)};
  probes.push_back(std::move(entry));
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + ('a' - 'A'));
    }
  }
  return out;
}

bool contains(std::string_view haystack, std::string_view needle) noexcept {
  return haystack.find(needle) != std::string_view::npos;
}

}  // namespace oxa
