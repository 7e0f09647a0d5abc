#include "dump_format.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "report_reader.h"

namespace oxa::tool {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

std::string hex32(std::uint32_t value, bool padded) {
  char text[16];
  std::snprintf(text, sizeof text, padded ? "0x%08x" : "0x%x", static_cast<unsigned>(value));
  return text;
}

std::string hex_bytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

// A JSON string that keeps every byte: printable ASCII as itself, the rest as
// \u00XX, which the reader turns back into that byte.
std::string quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b >= 0x7F) {
      out += "\\u00";
      out += kDigits[b >> 4];
      out += kDigits[b & 0xF];
    } else {
      out += c;
    }
  }
  return out + '"';
}

const char* kind_name(ValueKind kind) {
  switch (kind) {
    case ValueKind::absent:
      return "absent";
    case ValueKind::string:
      return "string";
    case ValueKind::data:
      return "data";
    case ValueKind::other:
      break;
  }
  return "other";
}

const char* boolean(bool b) { return b ? "true" : "false"; }

std::string property_json(const PropertyRecord& p) {
  std::string out = "{\"key\": " + quote(key_name(p.key)) + ", \"kind\": \"" + kind_name(p.kind) + "\"";
  if (p.kind == ValueKind::string) {
    out += std::string(", \"converted\": ") + boolean(p.converted);
    if (p.converted) out += ", \"hex\": \"" + hex_bytes(p.bytes) + "\"";
  } else if (p.kind == ValueKind::data) {
    out += ", \"length\": " + std::to_string(p.length);
    if (p.has_bytes) out += ", \"hex\": \"" + hex_bytes(p.bytes) + "\"";
  }
  return out + "}";
}

// Joins items one per line at the given indent, as a JSON array.
std::string lines(const std::vector<std::string>& items, const char* indent) {
  if (items.empty()) return "[]";
  std::string out = "[\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += indent;
    out += items[i];
    out += i + 1 < items.size() ? ",\n" : "\n";
  }
  // The closing bracket sits two spaces left of the items.
  out.append(indent, std::string_view(indent).size() - 2);
  return out + "]";
}

// --- Reading ---

class Reader {
 public:
  std::string error;

  bool fail(std::string what) {
    if (error.empty()) error = std::move(what);
    return false;
  }

  const JsonValue* member(const JsonValue& object, std::string_view key) { return object.find(key); }

  bool expect(const JsonValue* v, JsonValue::Kind kind, const std::string& where, const char* what) {
    if (v == nullptr) return fail(where + " is missing");
    if (v->kind != kind) return fail(where + " is not " + what);
    return true;
  }

  // "0x" and 1 to 8 hexadecimal digits.
  bool hex_word(const JsonValue& object, std::string_view key, const std::string& where, std::uint32_t& out) {
    const std::string name = where + " '" + std::string(key) + "'";
    const JsonValue* v = object.find(key);
    if (!expect(v, JsonValue::Kind::string, name, "a string")) return false;
    const std::string& t = v->text;
    if (t.size() < 3 || t.size() > 10 || t[0] != '0' || (t[1] != 'x' && t[1] != 'X')) {
      return fail(name + " is not a 32-bit hex number (0x and 1 to 8 digits)");
    }
    const auto [end, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), out, 16);
    if (ec != std::errc() || end != t.data() + t.size()) {
      return fail(name + " is not a 32-bit hex number (0x and 1 to 8 digits)");
    }
    return true;
  }

  bool number(const JsonValue* v, const std::string& name, std::int64_t min, std::int64_t max,
              std::int64_t& out) {
    if (!expect(v, JsonValue::Kind::number, name, "a number")) return false;
    if (v->number < min || v->number > max) {
      return fail(name + " is out of range (" + std::to_string(v->number) + ")");
    }
    out = v->number;
    return true;
  }

  bool flag(const JsonValue* v, const std::string& name, bool& out) {
    if (!expect(v, JsonValue::Kind::boolean, name, "true or false")) return false;
    out = v->boolean;
    return true;
  }

  bool bytes(const JsonValue* v, const std::string& name, std::string& out) {
    if (!expect(v, JsonValue::Kind::string, name, "a string")) return false;
    const std::string& t = v->text;
    if (t.size() % 2 != 0) return fail(name + " has an odd number of hex digits");
    out.clear();
    out.reserve(t.size() / 2);
    for (std::size_t i = 0; i < t.size(); i += 2) {
      unsigned byte = 0;
      const auto [end, ec] = std::from_chars(t.data() + i, t.data() + i + 2, byte, 16);
      if (ec != std::errc() || end != t.data() + i + 2) return fail(name + " is not hex digits");
      out += static_cast<char>(byte);
    }
    return true;
  }

  const JsonValue* array(const JsonValue& object, std::string_view key) {
    const JsonValue* v = object.find(key);
    if (v != nullptr && v->kind != JsonValue::Kind::array) {
      // Appended, not concatenated: g++ 12 at -O3 misreads "'" + std::string
      // as an overlapping copy (-Wrestrict).
      std::string what = "'";
      what += key;
      fail(what + "' is not an array");
      return nullptr;
    }
    return v;
  }

  bool cpuid(const JsonValue& root, Dump& dump) {
    const JsonValue* list = array(root, "cpuid");
    if (list == nullptr) return error.empty();
    for (std::size_t i = 0; i < list->items.size(); ++i) {
      const JsonValue& e = list->items[i];
      const std::string where = "cpuid entry " + std::to_string(i);
      if (e.kind != JsonValue::Kind::object) return fail(where + " is not an object");
      CpuidRecord r;
      if (!hex_word(e, "leaf", where, r.leaf) || !hex_word(e, "subleaf", where, r.subleaf) ||
          !hex_word(e, "eax", where, r.regs.eax) || !hex_word(e, "ebx", where, r.regs.ebx) ||
          !hex_word(e, "ecx", where, r.regs.ecx) || !hex_word(e, "edx", where, r.regs.edx)) {
        return false;
      }
      dump.cpuid.push_back(r);
    }
    return true;
  }

  bool sysctl(const JsonValue& root, Dump& dump) {
    const JsonValue* list = array(root, "sysctl");
    if (list == nullptr) return error.empty();
    for (std::size_t i = 0; i < list->items.size(); ++i) {
      const JsonValue& e = list->items[i];
      const std::string where = "sysctl entry " + std::to_string(i);
      if (e.kind != JsonValue::Kind::object) return fail(where + " is not an object");
      SysctlRecord r;
      const JsonValue* name = e.find("name");
      if (!expect(name, JsonValue::Kind::string, where + " 'name'", "a string")) return false;
      r.name = name->text;
      if (!flag(e.find("read"), where + " 'read'", r.read)) return false;
      if (r.read) {
        std::int64_t value = 0;
        if (!number(e.find("value"), where + " 'value'", std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), value)) {
          return false;
        }
        r.value = static_cast<std::int32_t>(value);
      }
      dump.sysctl.push_back(std::move(r));
    }
    return true;
  }

  bool property(const JsonValue& e, const std::string& where, PropertyRecord& p) {
    if (e.kind != JsonValue::Kind::object) return fail(where + " is not an object");
    const JsonValue* key = e.find("key");
    if (!expect(key, JsonValue::Kind::string, where + " 'key'", "a string")) return false;
    bool known = false;
    for (const RegistryKey k : {RegistryKey::manufacturer, RegistryKey::model, RegistryKey::product_name}) {
      if (key->text == key_name(k)) {
        p.key = k;
        known = true;
      }
    }
    if (!known) return fail(where + " has an unknown key");
    const std::string name = "registry property '" + key->text + "'";
    const JsonValue* kind = e.find("kind");
    if (!expect(kind, JsonValue::Kind::string, name + " 'kind'", "a string")) return false;
    if (kind->text == "absent") {
      p.kind = ValueKind::absent;
    } else if (kind->text == "other") {
      p.kind = ValueKind::other;
    } else if (kind->text == "string") {
      p.kind = ValueKind::string;
      p.converted = true;
      if (const JsonValue* c = e.find("converted");
          c != nullptr && !flag(c, name + " 'converted'", p.converted)) {
        return false;
      }
      if (p.converted) {
        if (!bytes(e.find("hex"), name + " 'hex'", p.bytes)) return false;
        p.has_bytes = true;
        // What a conversion into the buffer gives: text up to its NUL.
        if (p.bytes.find('\0') != std::string::npos) return fail(name + " 'hex' holds a NUL byte");
        if (p.bytes.size() >= kIdentityBufferSize) {
          return fail(name + " 'hex' is longer than " + std::to_string(kIdentityBufferSize - 1) + " bytes");
        }
      }
    } else if (kind->text == "data") {
      p.kind = ValueKind::data;
      const JsonValue* hex = e.find("hex");
      if (hex != nullptr) {
        if (!bytes(hex, name + " 'hex'", p.bytes)) return false;
        p.has_bytes = true;
      }
      p.length = static_cast<std::int64_t>(p.bytes.size());
      const JsonValue* length = e.find("length");
      if (length == nullptr && hex == nullptr) return fail(name + " has neither 'length' nor 'hex'");
      if (length != nullptr && !number(length, name + " 'length'", std::numeric_limits<std::int64_t>::min(),
                                       std::numeric_limits<std::int64_t>::max(), p.length)) {
        return false;
      }
      // The probe reads exactly that many bytes: they must all be there.
      if (data_length_is_read(p.length) && p.bytes.size() != static_cast<std::size_t>(p.length)) {
        return fail(name + " reports " + std::to_string(p.length) + " bytes but holds " +
                    std::to_string(p.bytes.size()));
      }
    } else {
      return fail(name + " has an unknown kind '" + kind->text + "'");
    }
    return true;
  }

  bool registry(const JsonValue& root, Dump& dump) {
    const JsonValue* reg = root.find("registry");
    if (reg == nullptr) return true;
    if (reg->kind != JsonValue::Kind::object) return fail("'registry' is not an object");
    if (const JsonValue* service = reg->find("service"); service != nullptr) {
      bool present = false;
      if (!flag(service, "registry 'service'", present)) return false;
      dump.service = present;
    }
    const JsonValue* list = reg->find("properties");
    if (list == nullptr) return true;
    if (list->kind != JsonValue::Kind::array) return fail("registry 'properties' is not an array");
    for (std::size_t i = 0; i < list->items.size(); ++i) {
      PropertyRecord p;
      if (!property(list->items[i], "registry property " + std::to_string(i), p)) return false;
      for (const PropertyRecord& seen : dump.properties) {
        if (seen.key == p.key)
          return fail("registry property '" + std::string(key_name(p.key)) + "' appears twice");
      }
      dump.properties.push_back(std::move(p));
    }
    return true;
  }

  bool timing(const JsonValue& root, Dump& dump) {
    const JsonValue* t = root.find("timing");
    if (t == nullptr) return true;
    if (t->kind != JsonValue::Kind::object) return fail("'timing' is not an object");
    if (const JsonValue* samples = t->find("samples"); samples != nullptr) {
      if (samples->kind != JsonValue::Kind::array) return fail("timing 'samples' is not an array");
      for (std::size_t i = 0; i < samples->items.size(); ++i) {
        const JsonValue& s = samples->items[i];
        const std::string where = "timing sample " + std::to_string(i);
        // Only the last may be short: write_dump groups whatever was read.
        const bool last = i + 1 == samples->items.size();
        if (s.kind != JsonValue::Kind::array || s.items.size() > 4 || (s.items.size() < 4 && !last) ||
            s.items.empty()) {
          return fail(where + " is not an array of four timestamps");
        }
        for (const JsonValue& tick : s.items) {
          std::int64_t value = 0;
          if (!number(&tick, where, 0, std::numeric_limits<std::int64_t>::max(), value)) return false;
          dump.timestamps.push_back(static_cast<std::uint64_t>(value));
        }
      }
    }
    if (const JsonValue* r = t->find("record"); r != nullptr) {
      if (r->kind != JsonValue::Kind::object) return fail("timing 'record' is not an object");
      Timing record;
      std::int64_t cycles = 0;
      if (!flag(r->find("available"), "timing record 'available'", record.available) ||
          !flag(r->find("valid"), "timing record 'valid'", record.valid) ||
          !number(r->find("cycles_over_baseline"), "timing record 'cycles_over_baseline'", 0,
                  std::numeric_limits<std::int64_t>::max(), cycles)) {
        return false;
      }
      record.cycles_over_baseline = static_cast<std::uint64_t>(cycles);
      dump.timing = record;
    }
    return true;
  }

  bool clock(const JsonValue& root, Dump& dump) {
    const JsonValue* list = array(root, "clock_ns");
    if (list == nullptr) return error.empty();
    for (std::size_t i = 0; i < list->items.size(); ++i) {
      std::int64_t value = 0;
      // Non-negative, as a steady clock reads: the run's difference of two
      // readings then cannot overflow.
      if (!number(&list->items[i], "clock reading " + std::to_string(i), 0,
                  std::numeric_limits<std::int64_t>::max(), value)) {
        return false;
      }
      // A steady clock never goes back; a run's duration is never negative.
      if (!dump.clock.empty() && value < dump.clock.back()) {
        return fail("clock reading " + std::to_string(i) + " is earlier than the one before it");
      }
      dump.clock.push_back(value);
    }
    return true;
  }
};

}  // namespace

std::string write_dump(const Dump& dump) {
  std::string out = "{\n  \"dump_version\": " + std::to_string(kDumpVersion) + ",\n";

  std::vector<std::string> items;
  for (const CpuidRecord& r : dump.cpuid) {
    items.push_back("{\"leaf\": \"" + hex32(r.leaf, false) + "\", \"subleaf\": \"" + hex32(r.subleaf, false) +
                    "\", \"eax\": \"" + hex32(r.regs.eax, true) + "\", \"ebx\": \"" +
                    hex32(r.regs.ebx, true) + "\", \"ecx\": \"" + hex32(r.regs.ecx, true) +
                    "\", \"edx\": \"" + hex32(r.regs.edx, true) + "\"}");
  }
  out += "  \"cpuid\": " + lines(items, "    ") + ",\n";

  items.clear();
  for (const SysctlRecord& r : dump.sysctl) {
    items.push_back("{\"name\": " + quote(r.name) + ", \"read\": " + boolean(r.read) +
                    ", \"value\": " + std::to_string(r.read ? r.value : 0) + "}");
  }
  out += "  \"sysctl\": " + lines(items, "    ") + ",\n";

  out += "  \"registry\": {";
  if (dump.service) {
    items.clear();
    for (const PropertyRecord& p : dump.properties) items.push_back(property_json(p));
    out += std::string("\n    \"service\": ") + boolean(*dump.service) +
           ",\n    \"properties\": " + lines(items, "      ") + "\n  ";
  }
  out += "},\n";

  items.clear();
  for (std::size_t i = 0; i < dump.timestamps.size(); i += 4) {
    std::string sample = "[";
    for (std::size_t j = i; j < i + 4 && j < dump.timestamps.size(); ++j) {
      if (j > i) sample += ", ";
      sample += std::to_string(dump.timestamps[j]);
    }
    items.push_back(sample + "]");
  }
  out += "  \"timing\": {\n    \"samples\": " + lines(items, "      ");
  if (dump.timing) {
    out += std::string(",\n    \"record\": {\"available\": ") + boolean(dump.timing->available) +
           ", \"valid\": " + boolean(dump.timing->valid) +
           ", \"cycles_over_baseline\": " + std::to_string(dump.timing->cycles_over_baseline) + "}";
  }
  out += "\n  },\n";

  items.clear();
  for (const std::int64_t t : dump.clock) items.push_back(std::to_string(t));
  out += "  \"clock_ns\": [";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i > 0 ? ", " : "") + items[i];
  out += "]";

  if (dump.report) out += ",\n  \"report\": " + quote(*dump.report);
  return out + "\n}\n";
}

DumpRead read_dump(std::string_view text) {
  bool too_many = false;
  const std::optional<JsonValue> root = parse_json(text, &too_many);
  if (too_many) return {std::nullopt, "more than " + std::to_string(kMaxJsonValues) + " JSON values"};
  if (!root) return {std::nullopt, "not valid JSON (numbers must be integers of at most 64 bits)"};
  if (root->kind != JsonValue::Kind::object) return {std::nullopt, "not a dump: not a JSON object"};
  const JsonValue* version = root->find("dump_version");
  if (version == nullptr) return {std::nullopt, "not a dump: no 'dump_version'"};
  if (version->kind != JsonValue::Kind::number || version->number != kDumpVersion) {
    return {std::nullopt,
            "not a dump this tool reads: 'dump_version' is not " + std::to_string(kDumpVersion)};
  }

  Reader reader;
  Dump dump;
  if (!reader.cpuid(*root, dump) || !reader.sysctl(*root, dump) || !reader.registry(*root, dump) ||
      !reader.timing(*root, dump) || !reader.clock(*root, dump)) {
    return {std::nullopt, reader.error};
  }
  if (const JsonValue* report = root->find("report"); report != nullptr) {
    if (report->kind != JsonValue::Kind::string) return {std::nullopt, "'report' is not a string"};
    dump.report = report->text;
  }
  return {std::move(dump), {}};
}

}  // namespace oxa::tool
