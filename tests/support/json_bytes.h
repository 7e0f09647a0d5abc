// SPDX-License-Identifier: MIT
#pragma once

// The bytes behind a string of a parsed report. The report writes every byte
// outside printable ASCII as \u00XX, which a JSON parser decodes into the
// code point U+00XX (UTF-8 C2 xx or C3 xx); this turns each back into the
// single byte XX. Needs no test framework, so the fuzz targets share it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace oxa::test {

// Nothing when the text holds a code point above U+00FF, which no report
// string can stand for.
inline std::optional<std::string> latin1_bytes(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size()) {
      out += static_cast<char>(((b & 0x03u) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu));
    } else {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace oxa::test
