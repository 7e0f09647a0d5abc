// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace oxa::tool {

// Re-indents a compact JSON document with two spaces per level; strings,
// numbers and member order stay exactly as they are. Empty objects and
// arrays stay on one line.
std::string pretty_print(std::string_view compact);

}  // namespace oxa::tool
