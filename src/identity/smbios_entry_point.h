// SPDX-License-Identifier: MIT
#pragma once

// SMBIOS dumps as files hold them: either the raw structure table, or an
// entry point followed by the table, as `dmidecode --dump-bin` writes it.

#include <string_view>

namespace oxa {

struct SmbiosTableLocation {
  std::string_view table;  // view into the file's bytes; empty on error
  std::string_view error;  // empty on success, else a short reason
};

// Finds the structure table inside the whole bytes of a file. A file that
// starts with "_SM_" (2.x) or "_SM3_" (3.x) is an entry point whose table
// address is taken as an offset into the file; any other file is the raw
// table itself. Never throws for bad input.
SmbiosTableLocation locate_smbios_table(std::string_view file) noexcept;

}  // namespace oxa
