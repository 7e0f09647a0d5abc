#pragma once

// A small reader for the report document, so the tool can summarise what
// the library returned without linking any JSON library.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"  // kMaxJsonValues

namespace oxa::tool {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  std::int64_t number = 0;
  std::string text;  // string value, as raw bytes (\u00XX decoded to byte XX)
  std::vector<JsonValue> items;
  struct Member;
  std::vector<Member> members;  // in document order

  const JsonValue* find(std::string_view key) const;
};

struct JsonValue::Member {
  std::string key;
  JsonValue value;
};

// Parses one JSON document with integer numbers only. Strings may use any
// escape; \uXXXX above U+00FF is kept as UTF-8. Returns nothing on a syntax
// error or beyond kMaxJsonValues values; `too_many`, if given, tells which.
std::optional<JsonValue> parse_json(std::string_view text, bool* too_many = nullptr);

}  // namespace oxa::tool
