#include "report_reader.h"

#include <charconv>

namespace oxa::tool {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  [[nodiscard]] bool too_many() const { return values_ > kMaxJsonValues; }

  std::optional<JsonValue> document() {
    JsonValue v;
    if (!value(v, 0)) return std::nullopt;
    skip_space();
    if (pos_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  // Deep enough for any report; bounds the recursion on hostile input.
  static constexpr int kMaxDepth = 64;

  void skip_space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool eat(char c) {
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool value(JsonValue& v, int depth) {
    if (depth > kMaxDepth || ++values_ > kMaxJsonValues) return false;
    skip_space();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::string;
      return string(v.text);
    }
    if (c == 't' || c == 'f') {
      v.kind = JsonValue::Kind::boolean;
      v.boolean = c == 't';
      return literal(v.boolean ? "true" : "false");
    }
    if (c == 'n') return literal("null");
    v.kind = JsonValue::Kind::number;
    const auto [end, ec] = std::from_chars(s_.data() + pos_, s_.data() + s_.size(), v.number);
    if (ec != std::errc()) return false;
    pos_ = static_cast<std::size_t>(end - s_.data());
    return true;
  }

  bool object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::object;
    ++pos_;
    if (eat('}')) return true;
    do {
      JsonValue::Member member;
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != '"' || !string(member.key) || !eat(':') ||
          !value(member.value, depth + 1)) {
        return false;
      }
      v.members.push_back(std::move(member));
    } while (eat(','));
    return eat('}');
  }

  bool array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::array;
    ++pos_;
    if (eat(']')) return true;
    do {
      JsonValue item;
      if (!value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
    } while (eat(','));
    return eat(']');
  }

  bool hex4(unsigned& out) {
    if (s_.size() - pos_ < 4) return false;
    const auto [end, ec] = std::from_chars(s_.data() + pos_, s_.data() + pos_ + 4, out, 16);
    if (ec != std::errc() || end != s_.data() + pos_ + 4) return false;
    pos_ += 4;
    return true;
  }

  bool string(std::string& out) {
    ++pos_;  // opening quote
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          if (!hex4(code)) return false;
          if (code <= 0xFF) {
            out += static_cast<char>(code);  // the report escapes raw bytes this way
          } else if (code <= 0x7FF) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const Member& m : members) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

std::optional<JsonValue> parse_json(std::string_view text, bool* too_many) {
  Parser parser(text);
  std::optional<JsonValue> document = parser.document();
  if (too_many != nullptr) *too_many = parser.too_many();
  return document;
}

}  // namespace oxa::tool
