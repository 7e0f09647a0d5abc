// SPDX-License-Identifier: MIT
#include "identity/smbios_entry_point.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace oxa {
namespace {

const std::string kTable("\x01\x05\x00\x00\x01QEMU\x00\x00\x7f\x04\x01\x00\x00\x00", 17);

void put(std::string& s, std::size_t at, std::uint64_t value, std::size_t width) {
  if (s.size() < at + width) s.resize(at + width, '\0');
  for (std::size_t i = 0; i < width; ++i) s[at + i] = static_cast<char>(value >> (8 * i));
}

// An entry point with the given table fields, padded with zeros up to
// `payload_at` (0x20, where dmidecode puts the table, unless given), then
// `payload`.
std::string sm2(std::uint64_t length, std::uint64_t address, const std::string& payload,
                std::size_t payload_at = 0x20) {
  std::string s = "_SM_";
  put(s, 0x16, length, 2);
  put(s, 0x18, address, 4);
  s.resize(payload_at, '\0');
  return s + payload;
}
std::string sm3(std::uint64_t max_size, std::uint64_t address, const std::string& payload,
                std::size_t payload_at = 0x20) {
  std::string s = "_SM3_";
  put(s, 0x0C, max_size, 4);
  put(s, 0x10, address, 8);
  s.resize(payload_at, '\0');
  return s + payload;
}

struct LocateCase {
  const char* name;
  std::string file;
  std::size_t table_at;  // expected offset of the table in the file
  std::size_t table_size;
  std::string error;
};

const LocateCase kLocateCases[] = {
    {"raw table", kTable, 0, kTable.size(), ""},
    {"raw table starting like an anchor", "_SMx" + kTable, 0, 4 + kTable.size(), ""},
    // Where the entry point ends: a 2.x one is 0x1F bytes (its last fields,
    // the structure count and the BCD revision, follow the address), a 3.x
    // one 0x18. The table may start right after it, never inside it.
    {"_SM_ table at 0x1C, inside the entry point", sm2(kTable.size(), 0x1C, kTable, 0x1F), 0, 0,
     "table overlaps the entry point"},
    {"_SM_ table at 0x1E, the entry point's last byte", sm2(kTable.size(), 0x1E, kTable, 0x1F), 0, 0,
     "table overlaps the entry point"},
    {"_SM_ table at 0x1F, right after the entry point", sm2(kTable.size(), 0x1F, kTable, 0x1F), 0x1F,
     kTable.size(), ""},
    {"_SM_ table at 0x20, as dmidecode writes it", sm2(kTable.size(), 0x20, kTable), 0x20, kTable.size(), ""},
    {"_SM_ cut before the entry point's last byte", sm2(1, 0x1C, kTable, 0x1F).substr(0, 0x1E), 0, 0,
     "truncated entry point"},
    {"_SM3_ table at 0x17, the entry point's last byte", sm3(kTable.size(), 0x17, kTable, 0x18), 0, 0,
     "table overlaps the entry point"},
    {"_SM3_ table at 0x18, right after the entry point", sm3(kTable.size(), 0x18, kTable, 0x18), 0x18,
     kTable.size(), ""},
    {"_SM_ with bytes after the table", sm2(kTable.size(), 32, kTable + "junk"), 32, kTable.size(), ""},
    {"_SM_ table at a later offset", sm2(kTable.size(), 36, "pad." + kTable), 36, kTable.size(), ""},
    {"_SM3_ maximum above the file", sm3(0x1000, 32, kTable), 32, kTable.size(), ""},
    {"_SM3_ maximum below the file", sm3(6, 32, kTable), 32, 6, ""},
    {"_SM3_ maximum equal to the rest", sm3(kTable.size(), 32, kTable), 32, kTable.size(), ""},
    {"empty file", "", 0, 0, "empty file"},
    {"_SM_ truncated", std::string("_SM_\x1f\x1f\x02\x08", 8), 0, 0, "truncated entry point"},
    {"_SM_ cut before the address's last byte", sm2(17, 32, kTable).substr(0, 0x1b), 0, 0,
     "truncated entry point"},
    {"_SM3_ cut before the address's last byte", sm3(17, 32, kTable).substr(0, 0x17), 0, 0,
     "truncated entry point"},
    {"_SM_ address at the end of the file", sm2(1, 32 + kTable.size(), kTable), 0, 0,
     "entry point points outside the file"},
    {"_SM_ address far outside", sm2(1, 0xFFFFFFFF, kTable), 0, 0, "entry point points outside the file"},
    {"_SM3_ address far outside", sm3(0xFFFFFFFF, 0xFFFFFFFFFFFFFFF0, kTable), 0, 0,
     "entry point points outside the file"},
    {"_SM3_ address at the end of the file", sm3(16, 32 + kTable.size(), kTable), 0, 0,
     "entry point points outside the file"},
    {"_SM_ length past the end", sm2(kTable.size() + 1, 32, kTable), 0, 0,
     "table runs past the end of the file"},
    {"_SM_ maximal length", sm2(0xFFFF, 32, kTable), 0, 0, "table runs past the end of the file"},
    {"_SM_ address inside the entry point", sm2(8, 0, kTable), 0, 0, "table overlaps the entry point"},
    {"_SM3_ address inside the entry point", sm3(8, 0x10, kTable), 0, 0, "table overlaps the entry point"},
    {"_SM_ empty table", sm2(0, 32, kTable), 32, 0, ""},
    {"_SM3_ empty table", sm3(0, 32, kTable), 32, 0, ""},
};

TEST(LocateSmbiosTable, FindsTheTableOrSaysWhyNot) {
  for (const LocateCase& c : kLocateCases) {
    SCOPED_TRACE(c.name);
    const SmbiosTableLocation found = locate_smbios_table(c.file);
    EXPECT_EQ(found.error, c.error);
    if (c.error.empty()) {
      // A view into the caller's bytes, not a copy.
      EXPECT_EQ(found.table.data(), c.file.data() + c.table_at);
      EXPECT_EQ(found.table.size(), c.table_size);
    } else {
      EXPECT_TRUE(found.table.empty());
    }
  }
}

}  // namespace
}  // namespace oxa
