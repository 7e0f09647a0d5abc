// SPDX-License-Identifier: MIT
#include "identity/smbios_entry_point.h"

#include <cstddef>
#include <cstdint>

namespace oxa {
namespace {

constexpr std::string_view kAnchor2 = "_SM_";
constexpr std::string_view kAnchor3 = "_SM3_";

// Fields of the 2.x entry point: table length (16 bit) and address (32 bit).
// The entry point does not end with the address: the structure count and the
// BCD revision follow it, so it is 0x1F bytes, all of them its own.
constexpr std::size_t kLength2 = 0x16;
constexpr std::size_t kAddress2 = 0x18;
constexpr std::size_t kSize2 = 0x1F;
// Fields of the 3.x entry point: maximum table size (32 bit), address (64 bit),
// which is its last field.
constexpr std::size_t kMaxSize3 = 0x0C;
constexpr std::size_t kAddress3 = 0x10;
constexpr std::size_t kSize3 = kAddress3 + 8;

std::uint64_t little_endian(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  }
  return value;
}

SmbiosTableLocation failure(std::string_view reason) { return {{}, reason}; }

// The table of `length` bytes at file offset `address`; the entry point
// itself (its first `header` bytes) is not part of it.
SmbiosTableLocation table_at(std::string_view file, std::uint64_t address, std::uint64_t length,
                             std::size_t header) {
  if (address < header) return failure("table overlaps the entry point");
  if (address >= file.size()) return failure("entry point points outside the file");
  const std::uint64_t available = file.size() - address;
  if (length > available) return failure("table runs past the end of the file");
  // A declared length of 0 is an empty table: a malformed table, which the
  // scan reports as such, not a file the tool cannot use.
  return {file.substr(static_cast<std::size_t>(address), static_cast<std::size_t>(length)), {}};
}

}  // namespace

SmbiosTableLocation locate_smbios_table(std::string_view file) noexcept {
  if (file.empty()) return failure("empty file");
  if (file.starts_with(kAnchor3)) {
    if (file.size() < kSize3) return failure("truncated entry point");
    const std::uint64_t address = little_endian(file, kAddress3, 8);
    const std::uint64_t maximum = little_endian(file, kMaxSize3, 4);
    // 3.x gives only an upper bound: the table may end earlier.
    const std::uint64_t available = address < file.size() ? file.size() - address : 0;
    return table_at(file, address, maximum < available ? maximum : available, kSize3);
  }
  if (file.starts_with(kAnchor2)) {
    if (file.size() < kSize2) return failure("truncated entry point");
    return table_at(file, little_endian(file, kAddress2, 4), little_endian(file, kLength2, 2), kSize2);
  }
  return {file, {}};
}

}  // namespace oxa
