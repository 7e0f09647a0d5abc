// SPDX-License-Identifier: MIT
#pragma once

// Reading the JSON the tool takes in (dumps, and the library's report) into
// nlohmann::ordered_json, within bounds that hold on hostile input.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

namespace oxa::tool {

using Json = nlohmann::ordered_json;

// At most this many values per document: several hundred times what a dump
// or report holds, and a bound on the time and memory a hostile document
// can take.
inline constexpr std::size_t kMaxJsonValues = 100'000;

// Deep enough for any dump or report; a value nested deeper is refused.
inline constexpr std::size_t kMaxJsonDepth = 64;

// nlohmann's destructor frees a non-empty array or object through a stack it
// allocates, inside a noexcept function: a failed allocation there ends the
// process instead of reaching oxa-detect's "out of memory" line. So a
// document is taken apart before it goes (dismantle), and members are added
// without letting their vector copy and destroy them (add_member).

// The member `key` of an object, or null.
const Json* find_member(const Json& object, std::string_view key);

// Empties every array and object in `value`, innermost first, which frees
// everything and allocates nothing.
void dismantle(Json& value) noexcept;

// Appends the member `key` to an object and returns it; null, and nothing
// added, when the object has that member already. ordered_json keeps members
// in a vector of pairs with const keys, which grows by copying them and
// destroying the originals; this grows it by moving the values.
Json* add_member(Json& object, std::string key, Json value);

struct JsonRead {
  enum class Fault { none, syntax, too_many };
  Fault fault = Fault::none;
  Json value;  // the document, when fault is none

  JsonRead() = default;
  JsonRead(JsonRead&&) noexcept = default;
  JsonRead& operator=(JsonRead&&) = delete;
  ~JsonRead() { dismantle(value); }
};

// Parses one JSON document whose numbers are all integers of at most 64 bits
// (signed); any other number is a syntax fault, as is a value nested deeper
// than kMaxJsonDepth. Values beyond kMaxJsonValues, counted everywhere, are
// a too_many fault.
//
// Only object members named in `members` are kept, at any depth; the others
// are parsed, counted and dropped, so an ignored member costs no memory. Of
// a member that appears twice in an object, the first is kept.
//
// Strings come back as the bytes they stand for (see raw_bytes). Numbers
// are all std::int64_t. Throws nothing but std::bad_alloc.
JsonRead read_json(std::string_view text, std::span<const char* const> members);

// The bytes behind a parsed JSON string. Our writers put every byte outside
// printable ASCII as \u00XX, which a JSON parser turns into the code point
// U+00XX in UTF-8 (C2 xx or C3 xx); each such code point becomes the single
// byte XX again. Code points above U+00FF, which none of our writers
// produce, are kept as their UTF-8 bytes.
std::string raw_bytes(std::string_view utf8);

}  // namespace oxa::tool
