// SPDX-License-Identifier: MIT
#pragma once

// The tool's input files (SMBIOS tables, dumps): read whole, but only from a
// regular file or standard input ("-"), opened once and never more than
// kMaxInputBytes.

#include <cstddef>
#include <string>

namespace oxa::tool {

// Far above any SMBIOS table (at most a few hundred KiB) or dump.
inline constexpr std::size_t kMaxInputBytes = std::size_t{16} << 20;

// Reads the whole file at `path` ("-": standard input) into `bytes`. Returns
// an empty text on success, else a short reason; `bytes` is then empty.
// Throws only std::bad_alloc.
std::string read_input(const char* path, std::string& bytes);

}  // namespace oxa::tool
