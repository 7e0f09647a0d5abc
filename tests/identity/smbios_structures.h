// SPDX-License-Identifier: MIT
#pragma once

// SMBIOS structures for the tests that walk a table: the bytes as the
// firmware lays them out.

#include <cstdint>
#include <initializer_list>
#include <string>

namespace oxa::test {

// One structure: type, the formatted bytes after the 4-byte header, and the
// string set (closed by the extra NUL; an empty set is the bare NUL pair).
inline std::string structure(std::uint8_t type, std::initializer_list<std::uint8_t> fields,
                             std::initializer_list<std::string> strings = {}) {
  std::string s;
  s += static_cast<char>(type);
  s += static_cast<char>(4 + fields.size());
  s += std::string("\x34\x12", 2);  // handle
  for (const std::uint8_t b : fields) s += static_cast<char>(b);
  for (const std::string& text : strings) s += text + '\0';
  if (strings.size() == 0) s += '\0';
  s += '\0';
  return s;
}

// A BIOS structure of `length` bytes whose byte 13h (when inside) is `ext2`.
inline std::string bios(std::uint8_t length, std::uint8_t ext2, std::initializer_list<std::string> strings) {
  std::string s = structure(0, {}, strings);
  std::string formatted(length - 4u, '\0');
  formatted[0] = strings.size() == 0 ? 0 : 1;  // vendor: string 1
  if (length > 0x13) formatted[0x13 - 4] = static_cast<char>(ext2);
  s.insert(4, formatted);
  s[1] = static_cast<char>(length);
  return s;
}

}  // namespace oxa::test
