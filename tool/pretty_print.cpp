// SPDX-License-Identifier: MIT
#include "pretty_print.h"

namespace oxa::tool {

std::string pretty_print(std::string_view compact) {
  std::string out;
  out.reserve(compact.size() * 2);
  int depth = 0;
  bool in_string = false;
  const auto newline = [&](int level) {
    out += '\n';
    out.append(static_cast<std::size_t>(level) * 2, ' ');
  };
  for (std::size_t i = 0; i < compact.size(); ++i) {
    const char c = compact[i];
    if (in_string) {
      out += c;
      if (c == '\\' && i + 1 < compact.size()) {
        out += compact[++i];
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        out += c;
        break;
      case '{':
      case '[':
        out += c;
        if (i + 1 < compact.size() && (compact[i + 1] == '}' || compact[i + 1] == ']')) {
          out += compact[++i];
        } else {
          newline(++depth);
        }
        break;
      case '}':
      case ']':
        newline(--depth);
        out += c;
        break;
      case ',':
        out += c;
        newline(depth);
        break;
      case ':':
        out += ": ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace oxa::tool
