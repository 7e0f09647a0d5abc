// SPDX-License-Identifier: MIT
#include "identity/smbios_scan.h"

#include <cstddef>
#include <cstdint>

#include "core/vocabulary.h"
#include "identity/firmware_markers.h"

namespace oxa {
namespace {

constexpr std::string_view kSource = sources::firmware;
constexpr std::size_t kHeaderSize = 4;
constexpr unsigned kEndOfTable = 127;

// BIOS Characteristics Extension Byte 2 and its "virtual machine" bit.
constexpr std::size_t kBiosExtension2 = 0x13;
constexpr unsigned kVirtualMachineBit = 0x10;

unsigned byte_at(std::string_view table, std::size_t at) { return static_cast<std::uint8_t>(table[at]); }

// One structure whose closing NUL pair has been found: its formatted area is
// table[start, start + length), its string set runs from start + length to
// end, the position of the first byte of the NUL pair.
struct Structure {
  std::string_view table;
  std::size_t start;
  std::size_t length;
  std::size_t end;

  [[nodiscard]] unsigned type() const { return byte_at(table, start); }

  // The string whose number sits at `field` of the formatted area; empty for
  // number 0, a field beyond the formatted area, or a number past the last
  // string. Every search stops at `end`, so nothing past the set is read.
  [[nodiscard]] std::string_view string(std::size_t field) const {
    if (field >= length) return {};
    const unsigned number = byte_at(table, start + field);
    if (number == 0) return {};
    std::size_t cursor = start + length;
    for (unsigned skip = 1; skip < number && cursor < end; ++skip) {
      cursor = next_nul(cursor) + 1;
    }
    if (cursor >= end) return {};
    return table.substr(cursor, next_nul(cursor) - cursor);
  }

  // The first NUL at or after `from` (< end); `end` itself holds one.
  [[nodiscard]] std::size_t next_nul(std::size_t from) const {
    const std::size_t at = table.substr(from, end - from).find('\0');
    return at == std::string_view::npos ? end : from + at;
  }
};

void examine(Result& result, const Structure& s) {
  switch (s.type()) {
    case 0:
      firmware_marker(result, kSource, s.string(0x04));
      // Read like any field: only when inside the formatted area (length >= 0x14).
      if (kBiosExtension2 < s.length &&
          (byte_at(s.table, s.start + kBiosExtension2) & kVirtualMachineBit) != 0) {
        result.add(kSource, categories::guest, kNoVendor, weights::marked,
                   "SMBIOS virtual-machine characteristic");
      }
      break;
    case 1:
    case 2: {
      // Manufacturer, product name, version.
      constexpr std::size_t fields[] = {0x04, 0x05, 0x06};
      for (const std::size_t field : fields) {
        firmware_marker(result, kSource, s.string(field));
      }
      break;
    }
    case 3:
      // Chassis strings carry asset tags, not product names.
      firmware_cloud_marker(result, kSource, s.string(0x08));
      break;
    default:
      break;
  }
}

}  // namespace

bool smbios_markers(Result& result, std::string_view table) {
  const std::size_t size = table.size();
  if (size == 0) return false;
  std::size_t offset = 0;  // never beyond size: it only moves past a found NUL pair
  while (offset != size) {
    const std::size_t left = size - offset;
    if (left < kHeaderSize) return false;
    const std::size_t length = byte_at(table, offset + 1);
    // The formatted area must leave at least the two bytes of a NUL pair.
    if (length < kHeaderSize || length + 1 >= left) return false;
    const std::size_t strings = offset + length;
    const std::size_t end = table.find(std::string_view("\0\0", 2), strings);
    if (end == std::string_view::npos) return false;
    const Structure s{table, offset, length, end};
    examine(result, s);
    offset = end + 2;
    if (s.type() == kEndOfTable) break;
  }
  return true;
}

void smbios(Result& result, std::string_view table) {
  result.probe(kSource, smbios_markers(result, table) ? statuses::ok : statuses::error);
}

}  // namespace oxa
