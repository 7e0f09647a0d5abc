// SPDX-License-Identifier: MIT
#pragma once

// A dump (inputs/dump.h) as JSON text: `oxa-detect --dump` writes it;
// `--replay` reads it back and runs the detection over it.

#include <optional>
#include <string>
#include <string_view>

#include "capture/dump.h"

namespace oxa::tool {

using capture::Dump;

// The dump as an indented JSON document ending in a newline.
std::string write_dump(const Dump& dump);

struct DumpRead {
  std::optional<Dump> dump;
  std::string error;  // one line, when dump is empty
};

// Reads a document written by write_dump, or by hand. Never throws for bad
// input (only std::bad_alloc).
DumpRead read_dump(std::string_view text);

}  // namespace oxa::tool
