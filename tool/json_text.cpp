// SPDX-License-Identifier: MIT
#include "json_text.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace oxa::tool {
namespace {

// Builds the document from the parser's events. nlohmann's own parse with a
// callback would count and drop values too, but it scans the enclosing
// container at every object's end, which makes an array of n objects cost
// n^2/2 steps (an array of 50000 "{}" takes seconds); this builder does
// constant work per event. Returning false from an event stops the parse.
class Builder {
 public:
  explicit Builder(std::span<const char* const> members) : members_(members) {}
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;
  ~Builder() { dismantle(root_); }

  [[nodiscard]] JsonRead::Fault fault() const { return fault_; }
  Json& root() { return root_; }

  bool null() { return add(Json(nullptr)); }
  bool boolean(bool value) { return add(Json(value)); }
  bool number_integer(Json::number_integer_t value) { return add(Json(value)); }
  bool number_unsigned(Json::number_unsigned_t value) {
    // The parser gives non-negative integers as unsigned: above the signed
    // range they are out of bounds.
    if (!count()) return false;
    if (value > static_cast<Json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
      return fail(JsonRead::Fault::syntax);
    }
    return place(Json(static_cast<std::int64_t>(value)));
  }
  bool number_float(Json::number_float_t /*value*/, const Json::string_t& /*text*/) {
    // A fraction or exponent, or an integer beyond 64 bits.
    return count() && fail(JsonRead::Fault::syntax);
  }
  bool string(Json::string_t& value) { return add(Json(raw_bytes(value))); }
  bool binary(Json::binary_t& /*value*/) { return fail(JsonRead::Fault::syntax); }

  bool start_object(std::size_t /*size*/) { return open(Json::object()); }
  bool start_array(std::size_t /*size*/) { return open(Json::array()); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(Json::string_t& name) {
    skip_next_ = std::find(members_.begin(), members_.end(), name) == members_.end();
    key_ = std::move(name);
    return true;
  }

  bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const Json::exception& /*error*/) {
    return fail(JsonRead::Fault::syntax);
  }

 private:
  bool fail(JsonRead::Fault fault) {
    if (fault_ == JsonRead::Fault::none) fault_ = fault;
    return false;
  }

  // Every value counts, kept or not; its depth is the number of containers
  // open around it.
  bool count() {
    if (open_.size() > kMaxJsonDepth) return fail(JsonRead::Fault::syntax);
    if (++values_ > kMaxJsonValues) return fail(JsonRead::Fault::too_many);
    return true;
  }

  bool add(Json value) { return count() && place(std::move(value)); }

  // Stores a value in the open container, or drops it (null placed): inside
  // a dropped container, as an unnamed member, or as a repeated one.
  bool place(Json value, Json** placed = nullptr) {
    const bool skip = std::exchange(skip_next_, false);
    Json* at = nullptr;
    if (open_.empty()) {
      root_ = std::move(value);
      at = &root_;
    } else if (Json* parent = open_.back(); parent != nullptr && parent->is_array()) {
      parent->push_back(std::move(value));
      at = &parent->back();
    } else if (parent != nullptr && !skip) {
      at = add_member(*parent, std::move(key_), std::move(value));
    }
    if (placed != nullptr) *placed = at;
    return true;
  }

  // A container stays open, at its place in its parent (which grows no
  // further until it closes), until its end.
  bool open(Json empty) {
    if (!count()) return false;
    Json* at = nullptr;
    place(std::move(empty), &at);
    open_.push_back(at);
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  std::span<const char* const> members_;
  Json root_;
  std::vector<Json*> open_;  // the open containers, innermost last; null when dropped
  std::string key_;          // the name of the member whose value comes next
  bool skip_next_ = false;   // that member is not kept
  std::size_t values_ = 0;
  JsonRead::Fault fault_ = JsonRead::Fault::none;
};

}  // namespace

JsonRead read_json(std::string_view text, std::span<const char* const> members) {
  JsonRead read;
  // No JSON text holds a NUL byte, but the parser takes one outside a string
  // for the end of the input and would ignore whatever follows it.
  if (text.find('\0') != std::string_view::npos) {
    read.fault = JsonRead::Fault::syntax;
    return read;
  }
  Builder builder(members);
  const bool parsed = Json::sax_parse(text.begin(), text.end(), &builder);
  if (!parsed) {
    read.fault = builder.fault() != JsonRead::Fault::none ? builder.fault() : JsonRead::Fault::syntax;
    return read;
  }
  read.value = std::move(builder.root());
  return read;
}

const Json* find_member(const Json& object, std::string_view key) {
  const auto it = object.find(key);
  return it != object.end() ? &*it : nullptr;
}

void dismantle(Json& value) noexcept {
  if (auto* items = value.get_ptr<Json::array_t*>()) {
    for (Json& item : *items) dismantle(item);
    items->clear();
  } else if (auto* members = value.get_ptr<Json::object_t*>()) {
    for (auto& member : *members) dismantle(member.second);
    members->clear();
  }
}

Json* add_member(Json& object, std::string key, Json value) {
  auto& members = object.get_ref<Json::object_t&>();
  for (const auto& member : members) {
    if (member.first == key) return nullptr;
  }
  if (members.size() == members.capacity()) {
    Json::object_t grown;
    grown.reserve(std::max<std::size_t>(4, 2 * members.size()));
    try {
      for (auto& member : members) grown.emplace_back(member.first, std::move(member.second));
    } catch (...) {
      // A key's copy failed: the values go back where they were.
      auto to = members.begin();
      for (auto& member : grown) (to++)->second = std::move(member.second);
      throw;
    }
    members.swap(grown);  // the old pairs hold moved-from nulls now
  }
  members.emplace_back(std::move(key), std::move(value));
  return &members.back().second;
}

std::string raw_bytes(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    // U+0080 to U+00FF: C2 or C3 and one continuation byte. Any other byte,
    // the parts of a longer sequence included, is copied as it is.
    if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size() &&
        (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
      out += static_cast<char>(((b & 0x03u) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu));
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace oxa::tool
