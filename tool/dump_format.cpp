// SPDX-License-Identifier: MIT
#include "dump_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "capture/inputs.h"
#include "core/json_report.h"
#include "json_text.h"

namespace oxa::tool {
namespace {

using capture::CpuidRecord;
using capture::kDumpVersion;
using capture::LinuxRecord;
using capture::PathAnswer;
using capture::PropertyRecord;
using capture::SysctlRecord;
namespace member = capture::member;
using capture::info;
using capture::Input;

constexpr char kDigits[] = "0123456789abcdef";

std::string hex32(std::uint32_t value, bool padded) {
  char text[16];
  std::snprintf(text, sizeof text, padded ? "0x%08x" : "0x%x", static_cast<unsigned>(value));
  return text;
}

std::string hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(value));
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

// Adds a member the object does not have yet.
void put(Json& object, std::string key, Json value) { add_member(object, std::move(key), std::move(value)); }

Json cpuid_json(const CpuidRecord& r) {
  Json out = Json::object();
  put(out, member::leaf, hex32(r.leaf, false));
  put(out, member::subleaf, hex32(r.subleaf, false));
  put(out, member::eax, hex32(r.regs.eax, true));
  put(out, member::ebx, hex32(r.regs.ebx, true));
  put(out, member::ecx, hex32(r.regs.ecx, true));
  put(out, member::edx, hex32(r.regs.edx, true));
  return out;
}

Json sysctl_json(const SysctlRecord& r) {
  Json out = Json::object();
  put(out, member::name, r.name);
  put(out, member::read, r.read);
  put(out, member::value, r.read ? r.value : 0);
  return out;
}

Json property_json(const PropertyRecord& p) {
  Json out = Json::object();
  put(out, member::key, std::string(key_name(p.key)));
  put(out, member::kind, std::string(capture::value_kind_name(p.kind)));
  if (p.kind == ValueKind::string) {
    put(out, member::converted, p.converted);
    if (p.converted) put(out, member::hex, hex_bytes(p.bytes));
  } else if (p.kind == ValueKind::data) {
    put(out, member::length, p.length);
    if (p.has_bytes) put(out, member::hex, hex_bytes(p.bytes));
  }
  return out;
}

Json pci_function_json(const PciFunction& f) {
  Json out = Json::object();
  put(out, member::vendor, hex16(f.vendor));
  put(out, member::device, hex16(f.device));
  put(out, member::subsystem_vendor, hex16(f.subsystem_vendor));
  put(out, member::subsystem, hex16(f.subsystem));
  return out;
}

Json registry_json(const Dump& dump) {
  Json out = Json::object();
  if (dump.service) {
    put(out, member::service, *dump.service);
    Json properties = Json::array();
    for (const PropertyRecord& p : dump.properties) properties.push_back(property_json(p));
    put(out, member::properties, std::move(properties));
  }
  // null where the registry could not be asked.
  if (dump.pci_asked) {
    Json functions = nullptr;
    if (dump.pci_functions) {
      functions = Json::array();
      for (const PciFunction& f : *dump.pci_functions) functions.push_back(pci_function_json(f));
    }
    put(out, member::pci_functions, std::move(functions));
  }
  return out;
}

Json timing_json(const Dump& dump) {
  Json samples = Json::array();
  for (std::size_t i = 0; i < dump.timestamps.size(); i += 4) {
    Json sample = Json::array();
    for (std::size_t j = i; j < i + 4 && j < dump.timestamps.size(); ++j)
      sample.push_back(dump.timestamps[j]);
    samples.push_back(std::move(sample));
  }
  Json out = Json::object();
  put(out, member::samples, std::move(samples));
  if (dump.timing) {
    Json record = Json::object();
    put(record, member::available, dump.timing->available);
    put(record, member::valid, dump.timing->valid);
    put(record, member::cycles_over_baseline, dump.timing->cycles_over_baseline);
    put(out, member::record, std::move(record));
  }
  return out;
}

// One answer of a Linux path question, by the shape of its answer.
Json answer_json(const PathAnswer<PathKind>& a) {
  Json entry = Json::object();
  put(entry, member::path, a.path);
  put(entry, member::kind, std::string(capture::path_kind_name(a.answer)));
  return entry;
}

Json answer_json(const PathAnswer<std::optional<std::string>>& a) {
  Json entry = Json::object();
  put(entry, member::path, a.path);
  put(entry, member::read, a.answer.has_value());
  if (a.answer) put(entry, member::hex, hex_bytes(*a.answer));
  return entry;
}

Json linux_json(const LinuxRecord& signs) {
  Json out = Json::object();
  if (signs.documented) put(out, member::documented, true);
  // A question's list only where it was asked.
  const auto answers = [&](const char* name, const auto& asked) {
    if (asked.empty()) return;
    Json list = Json::array();
    for (const auto& a : asked) list.push_back(answer_json(a));
    put(out, name, std::move(list));
  };
#define OXA_WRITE_ANSWERS_(method, Answer, answers_of, noun, most, ...) \
  answers(member::answers_of, signs.answers_of);
  OXA_LINUX_PATH_QUESTIONS(OXA_WRITE_ANSWERS_)
#undef OXA_WRITE_ANSWERS_
  if (signs.release_asked) {
    Json release = Json::object();
    put(release, member::read, signs.kernel_release.has_value());
    if (signs.kernel_release) put(release, member::hex, hex_bytes(*signs.kernel_release));
    put(out, member::kernel_release, std::move(release));
  }
  return out;
}

void quoted(std::string& out, std::string_view text) {
  out += '"';
  append_escaped(out, text);
  out += '"';
}

// The dump's layout: a container that holds a container puts each member or
// item on a line of its own, indented two spaces a level; any other is
// written on one line, with ", " and ": " between its parts. Strings keep
// every byte, as the report does: printable ASCII as itself, the rest as
// \u00XX (nlohmann's dump() writes \n for a newline and refuses bytes that
// are not UTF-8).
void layout(std::string& out, const Json& value, std::size_t indent) {
  if (value.is_string()) {
    quoted(out, value.get_ref<const std::string&>());
    return;
  }
  if (!value.is_structured()) {
    out += value.dump();
    return;
  }
  const bool object = value.is_object();
  const bool lines = std::any_of(value.begin(), value.end(), [](const Json& v) { return v.is_structured(); });
  out += object ? '{' : '[';
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (it != value.begin()) out += ',';
    if (lines) {
      out += '\n';
      out.append(indent + 2, ' ');
    } else if (it != value.begin()) {
      out += ' ';
    }
    if (object) {
      quoted(out, it.key());
      out += ": ";
    }
    layout(out, *it, indent + 2);
  }
  if (lines) {
    out += '\n';
    out.append(indent, ' ');
  }
  out += object ? '}' : ']';
}

// --- Reading ---

// A member's name as the reader's errors quote it: 'name'.
std::string quoted_name(std::string_view member) {
  std::string text = "'";
  text += member;
  text += '\'';
  return text;
}

// A member of something the error names: "registry 'service'".
std::string named(std::string_view where, std::string_view member) {
  std::string text(where);
  text += ' ';
  return text + quoted_name(member);
}

// Record i of a question's answers: "cpuid entry 3".
std::string entry(Input input, std::size_t i) {
  std::string text(info(input).entry);
  text += ' ';
  return text + std::to_string(i);
}

// The bytes of a string value (read_json has decoded its escapes).
const std::string& string_of(const Json& string) { return string.get_ref<const std::string&>(); }

class Reader {
 public:
  std::string error;

  bool fail(std::string what) {
    if (error.empty()) error = std::move(what);
    return false;
  }

  bool expect(const Json* v, Json::value_t kind, const std::string& where, const char* what) {
    if (v == nullptr) return fail(where + " is missing");
    if (v->type() != kind) return fail(where + " is not " + what);
    return true;
  }

  // "0x" and 1 to as many hexadecimal digits as the word has.
  template <class Word>
  bool hex_word(const Json& object, std::string_view key, const std::string& where, Word& out) {
    constexpr std::size_t kDigits = 2 * sizeof(Word);
    const std::string name = where + " '" + std::string(key) + "'";
    const auto not_hex = [&] {
      return fail(name + " is not a " + std::to_string(8 * sizeof(Word)) + "-bit hex number (0x and 1 to " +
                  std::to_string(kDigits) + " digits)");
    };
    const Json* v = find_member(object, key);
    if (!expect(v, Json::value_t::string, name, "a string")) return false;
    const std::string& t = string_of(*v);
    if (t.size() < 3 || t.size() > 2 + kDigits || t[0] != '0' || (t[1] != 'x' && t[1] != 'X'))
      return not_hex();
    const auto [end, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), out, 16);
    if (ec != std::errc() || end != t.data() + t.size()) return not_hex();
    return true;
  }

  bool number(const Json* v, const std::string& name, std::int64_t min, std::int64_t max, std::int64_t& out) {
    if (!expect(v, Json::value_t::number_integer, name, "a number")) return false;
    const auto value = v->get<std::int64_t>();
    if (value < min || value > max) return fail(name + " is out of range (" + std::to_string(value) + ")");
    out = value;
    return true;
  }

  bool flag(const Json* v, const std::string& name, bool& out) {
    if (!expect(v, Json::value_t::boolean, name, "true or false")) return false;
    out = v->get<bool>();
    return true;
  }

  bool bytes(const Json* v, const std::string& name, std::string& out) {
    if (!expect(v, Json::value_t::string, name, "a string")) return false;
    const std::string& t = string_of(*v);
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

  const Json* array(const Json& object, std::string_view key) {
    const Json* v = find_member(object, key);
    if (v != nullptr && !v->is_array()) {
      // Appended, not concatenated: g++ 12 at -O3 misreads "'" + std::string
      // as an overlapping copy (-Wrestrict).
      std::string what = "'";
      what += key;
      fail(what + "' is not an array");
      return nullptr;
    }
    return v;
  }

  bool cpuid(const Json& root, Dump& dump) {
    const Json* list = array(root, member::cpuid);
    if (list == nullptr) return error.empty();
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Json& e = (*list)[i];
      const std::string where = entry(Input::cpuid, i);
      if (!e.is_object()) return fail(where + " is not an object");
      CpuidRecord r;
      if (!hex_word(e, member::leaf, where, r.leaf) || !hex_word(e, member::subleaf, where, r.subleaf) ||
          !hex_word(e, member::eax, where, r.regs.eax) || !hex_word(e, member::ebx, where, r.regs.ebx) ||
          !hex_word(e, member::ecx, where, r.regs.ecx) || !hex_word(e, member::edx, where, r.regs.edx)) {
        return false;
      }
      dump.cpuid.push_back(r);
    }
    return true;
  }

  bool sysctl(const Json& root, Dump& dump) {
    const Json* list = array(root, member::sysctl);
    if (list == nullptr) return error.empty();
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Json& e = (*list)[i];
      const std::string where = entry(Input::kernel_flag, i);
      if (!e.is_object()) return fail(where + " is not an object");
      SysctlRecord r;
      const Json* name = find_member(e, member::name);
      if (!expect(name, Json::value_t::string, named(where, member::name), "a string")) return false;
      r.name = string_of(*name);
      if (!flag(find_member(e, member::read), named(where, member::read), r.read)) return false;
      if (r.read) {
        std::int64_t value = 0;
        if (!number(find_member(e, member::value), named(where, member::value),
                    std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                    value)) {
          return false;
        }
        r.value = static_cast<std::int32_t>(value);
      }
      dump.sysctl.push_back(std::move(r));
    }
    return true;
  }

  bool property(const Json& e, const std::string& where, PropertyRecord& p) {
    if (!e.is_object()) return fail(where + " is not an object");
    const Json* key = find_member(e, member::key);
    if (!expect(key, Json::value_t::string, named(where, member::key), "a string")) return false;
    bool known = false;
    for (const RegistryKey k : kIdentityKeys) {
      if (string_of(*key) == key_name(k)) {
        p.key = k;
        known = true;
      }
    }
    if (!known) return fail(where + " has an unknown key");
    const std::string name = named(info(Input::registry_value).entry, string_of(*key));
    const Json* kind = find_member(e, member::kind);
    if (!expect(kind, Json::value_t::string, named(name, member::kind), "a string")) return false;
    if (string_of(*kind) == capture::value_kind_name(ValueKind::absent)) {
      p.kind = ValueKind::absent;
    } else if (string_of(*kind) == capture::value_kind_name(ValueKind::other)) {
      p.kind = ValueKind::other;
    } else if (string_of(*kind) == capture::value_kind_name(ValueKind::string)) {
      p.kind = ValueKind::string;
      p.converted = true;
      if (const Json* c = find_member(e, member::converted);
          c != nullptr && !flag(c, named(name, member::converted), p.converted)) {
        return false;
      }
      if (p.converted) {
        if (!bytes(find_member(e, member::hex), named(name, member::hex), p.bytes)) return false;
        p.has_bytes = true;
        // What a conversion into the buffer gives: text up to its NUL.
        if (p.bytes.find('\0') != std::string::npos)
          return fail(named(name, member::hex) + " holds a NUL byte");
        if (p.bytes.size() >= kIdentityBufferSize) {
          return fail(named(name, member::hex) + " is longer than " +
                      std::to_string(kIdentityBufferSize - 1) + " bytes");
        }
      }
    } else if (string_of(*kind) == capture::value_kind_name(ValueKind::data)) {
      p.kind = ValueKind::data;
      const Json* hex = find_member(e, member::hex);
      if (hex != nullptr) {
        if (!bytes(hex, named(name, member::hex), p.bytes)) return false;
        p.has_bytes = true;
      }
      p.length = static_cast<std::int64_t>(p.bytes.size());
      const Json* length = find_member(e, member::length);
      if (length == nullptr && hex == nullptr)
        return fail(name + " has neither " + quoted_name(member::length) + " nor " +
                    quoted_name(member::hex));
      if (length != nullptr &&
          !number(length, named(name, member::length), std::numeric_limits<std::int64_t>::min(),
                  std::numeric_limits<std::int64_t>::max(), p.length)) {
        return false;
      }
      // The probe reads exactly that many bytes: they must all be there.
      if (data_length_is_read(p.length) && p.bytes.size() != static_cast<std::size_t>(p.length)) {
        return fail(name + " reports " + std::to_string(p.length) + " bytes but holds " +
                    std::to_string(p.bytes.size()));
      }
    } else {
      return fail(name + " has an unknown kind '" + string_of(*kind) + "'");
    }
    return true;
  }

  // A dump without them was taken before runs asked for them; null: the
  // registry could not be asked. No registry lists more than its bound.
  bool pci_functions(const Json& registry, Dump& dump) {
    const Json* list = find_member(registry, member::pci_functions);
    if (list == nullptr) return true;
    dump.pci_asked = true;
    if (list->is_null()) return true;
    const std::string name = named(member::registry, member::pci_functions);
    if (!list->is_array()) return fail(name + " is not an array or null");
    if (list->size() > kMaxPciFunctions) {
      return fail(name + " holds more than " + std::to_string(kMaxPciFunctions) + " functions");
    }
    PciFunctions functions;
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Json& e = (*list)[i];
      const std::string where = entry(Input::pci_functions, i);
      if (!e.is_object()) return fail(where + " is not an object");
      PciFunction f;
      if (!hex_word(e, member::vendor, where, f.vendor) || !hex_word(e, member::device, where, f.device) ||
          !hex_word(e, member::subsystem_vendor, where, f.subsystem_vendor) ||
          !hex_word(e, member::subsystem, where, f.subsystem)) {
        return false;
      }
      functions.add(f);
    }
    dump.pci_functions = functions;
    return true;
  }

  bool registry(const Json& root, Dump& dump) {
    const Json* reg = find_member(root, member::registry);
    if (reg == nullptr) return true;
    if (!reg->is_object()) return fail(quoted_name(member::registry) + " is not an object");
    if (!pci_functions(*reg, dump)) return false;
    if (const Json* service = find_member(*reg, member::service); service != nullptr) {
      bool present = false;
      if (!flag(service, named(info(Input::registry_device).entry, info(Input::registry_device).member),
                present))
        return false;
      dump.service = present;
    }
    const Json* list = find_member(*reg, member::properties);
    if (list == nullptr) return true;
    if (!list->is_array()) return fail(named(member::registry, member::properties) + " is not an array");
    for (std::size_t i = 0; i < list->size(); ++i) {
      PropertyRecord p;
      if (!property((*list)[i], entry(Input::registry_value, i), p)) return false;
      for (const PropertyRecord& seen : dump.properties) {
        if (seen.key == p.key)
          return fail(named(info(Input::registry_value).entry, key_name(p.key)) + " appears twice");
      }
      dump.properties.push_back(std::move(p));
    }
    return true;
  }

  bool timing(const Json& root, Dump& dump) {
    const Json* t = find_member(root, member::timing);
    if (t == nullptr) return true;
    if (!t->is_object()) return fail(quoted_name(member::timing) + " is not an object");
    if (const Json* samples = find_member(*t, member::samples); samples != nullptr) {
      if (!samples->is_array()) return fail(named(member::timing, member::samples) + " is not an array");
      for (std::size_t i = 0; i < samples->size(); ++i) {
        const Json& s = (*samples)[i];
        const std::string where = entry(Input::timestamp, i);
        // Only the last may be short: write_dump groups whatever was read.
        const bool last = i + 1 == samples->size();
        if (!s.is_array() || s.size() > 4 || (s.size() < 4 && !last) || s.empty()) {
          return fail(where + " is not an array of four timestamps");
        }
        for (const Json& tick : s) {
          std::int64_t value = 0;
          if (!number(&tick, where, 0, std::numeric_limits<std::int64_t>::max(), value)) return false;
          dump.timestamps.push_back(static_cast<std::uint64_t>(value));
        }
      }
    }
    if (const Json* r = find_member(*t, member::record); r != nullptr) {
      if (!r->is_object()) return fail(named(member::timing, member::record) + " is not an object");
      Timing record;
      std::int64_t cycles = 0;
      const std::string where = std::string(member::timing) + ' ' + member::record;
      if (!flag(find_member(*r, member::available), named(where, member::available), record.available) ||
          !flag(find_member(*r, member::valid), named(where, member::valid), record.valid) ||
          !number(find_member(*r, member::cycles_over_baseline), named(where, member::cycles_over_baseline),
                  0, std::numeric_limits<std::int64_t>::max(), cycles)) {
        return false;
      }
      record.cycles_over_baseline = static_cast<std::uint64_t>(cycles);
      dump.timing = record;
    }
    return true;
  }

  // A path as the probes name one: absolute, no NUL.
  bool sign_path(const Json& entry, const std::string& where, std::string& out) {
    const Json* path = find_member(entry, member::path);
    if (!expect(path, Json::value_t::string, named(where, member::path), "a string")) return false;
    out = string_of(*path);
    if (out.empty() || out.front() != '/' || out.find('\0') != std::string::npos) {
      return fail(where + " 'path' is not an absolute path");
    }
    return true;
  }

  // One answer of a Linux path question, by the shape of its answer.
  bool answer(const Json& e, const std::string& where, std::size_t /*most*/, PathAnswer<PathKind>& a) {
    const Json* kind = find_member(e, member::kind);
    if (!expect(kind, Json::value_t::string, named(where, member::kind), "a string")) return false;
    for (const PathKind k : capture::kPathKinds) {
      if (string_of(*kind) == capture::path_kind_name(k)) {
        a.answer = k;
        return true;
      }
    }
    return fail(where + " has an unknown kind '" + string_of(*kind) + "'");
  }

  // A text: none longer than an answer of the system can be.
  bool answer(const Json& e, const std::string& where, std::size_t most,
              PathAnswer<std::optional<std::string>>& a) {
    bool read = false;
    if (!flag(find_member(e, member::read), named(where, member::read), read)) return false;
    if (!read) return true;
    std::string text;
    if (!bytes(find_member(e, member::hex), named(where, member::hex), text)) return false;
    if (text.size() > most) return fail(where + " holds more than " + std::to_string(most) + " bytes");
    a.answer = std::move(text);
    return true;
  }

  // The answers of a Linux path question, each path once.
  template <class Answer>
  bool answers(const Json& signs, Input input, std::size_t most, std::vector<PathAnswer<Answer>>& out) {
    const char* section = info(input).member;
    const Json* list = find_member(signs, section);
    if (list == nullptr) return true;
    if (!list->is_array()) return fail(named(member::linux_signs, section) + " is not an array");
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Json& e = (*list)[i];
      const std::string where = entry(input, i);
      if (!e.is_object()) return fail(where + " is not an object");
      PathAnswer<Answer> a;
      if (!sign_path(e, where, a.path) || !answer(e, where, most, a)) return false;
      for (const PathAnswer<Answer>& seen : out) {
        if (seen.path == a.path) return fail(where + " repeats '" + a.path + "'");
      }
      out.push_back(std::move(a));
    }
    return true;
  }

  bool linux_signs(const Json& root, Dump& dump) {
    const Json* signs = find_member(root, member::linux_signs);
    if (signs == nullptr) return true;
    if (!signs->is_object()) return fail(quoted_name(member::linux_signs) + " is not an object");
    LinuxRecord record;
    if (const Json* documented = find_member(*signs, member::documented); documented != nullptr) {
      if (!flag(documented, named(member::linux_signs, member::documented), record.documented)) return false;
    }
#define OXA_READ_ANSWERS_(method, Answer, answers_of, noun, most, ...) \
  if (!answers(*signs, Input::method, most, record.answers_of)) return false;
    OXA_LINUX_PATH_QUESTIONS(OXA_READ_ANSWERS_)
#undef OXA_READ_ANSWERS_
    if (const Json* release = find_member(*signs, member::kernel_release); release != nullptr) {
      if (!release->is_object())
        return fail(named(member::linux_signs, member::kernel_release) + " is not an object");
      bool read = false;
      if (!flag(find_member(*release, member::read), named(info(Input::kernel_release).entry, member::read),
                read))
        return false;
      record.release_asked = true;
      if (read) {
        std::string text;
        if (!bytes(find_member(*release, member::hex), named(info(Input::kernel_release).entry, member::hex),
                   text))
          return false;
        record.kernel_release = std::move(text);
      }
    }
    dump.linux_signs = std::move(record);
    return true;
  }

  bool clock(const Json& root, Dump& dump) {
    const Json* list = array(root, member::clock_ns);
    if (list == nullptr) return error.empty();
    for (std::size_t i = 0; i < list->size(); ++i) {
      std::int64_t value = 0;
      // Non-negative, as a steady clock reads: the run's difference of two
      // readings then cannot overflow.
      if (!number(&(*list)[i], entry(Input::clock_reading, i), 0, std::numeric_limits<std::int64_t>::max(),
                  value)) {
        return false;
      }
      // A steady clock never goes back; a run's duration is never negative.
      if (!dump.clock.empty() && value < dump.clock.back()) {
        return fail(entry(Input::clock_reading, i) + " is earlier than the one before it");
      }
      dump.clock.push_back(value);
    }
    return true;
  }
};

}  // namespace

std::string write_dump(const Dump& dump) {
  struct Document {
    Json json = Json::object();
    ~Document() { dismantle(json); }
  } doc;
  put(doc.json, member::dump_version, kDumpVersion);
  put(doc.json, member::architecture, std::string(capture::architecture_name(dump.architecture)));
  Json cpuid = Json::array();
  for (const CpuidRecord& r : dump.cpuid) cpuid.push_back(cpuid_json(r));
  put(doc.json, member::cpuid, std::move(cpuid));
  Json sysctl = Json::array();
  for (const SysctlRecord& r : dump.sysctl) sysctl.push_back(sysctl_json(r));
  put(doc.json, member::sysctl, std::move(sysctl));
  put(doc.json, member::registry, registry_json(dump));
  put(doc.json, member::timing, timing_json(dump));
  put(doc.json, member::clock_ns, dump.clock);
  if (dump.linux_signs) put(doc.json, member::linux_signs, linux_json(*dump.linux_signs));
  if (dump.report) put(doc.json, member::report, *dump.report);

  std::string out;
  layout(out, doc.json, 0);
  return out + '\n';
}

DumpRead read_dump(std::string_view text) {
  const JsonRead read = read_json(text, capture::kDumpMembers);
  if (read.fault == JsonRead::Fault::too_many) {
    return {std::nullopt, "more than " + std::to_string(kMaxJsonValues) + " JSON values"};
  }
  if (read.fault != JsonRead::Fault::none) {
    return {std::nullopt, "not valid JSON (numbers must be integers of at most 64 bits)"};
  }
  const Json& root = read.value;
  if (!root.is_object()) return {std::nullopt, "not a dump: not a JSON object"};
  const Json* version = find_member(root, member::dump_version);
  if (version == nullptr) return {std::nullopt, "not a dump: no " + quoted_name(member::dump_version)};
  if (!version->is_number_integer() || version->get<std::int64_t>() != kDumpVersion) {
    return {std::nullopt, "not a dump this tool reads: " + quoted_name(member::dump_version) + " is not " +
                              std::to_string(kDumpVersion)};
  }

  Reader reader;
  Dump dump;
  // Dumps from before arm64 name no architecture: they are x86-64's.
  if (const Json* architecture = find_member(root, member::architecture); architecture != nullptr) {
    const auto known = [&] {
      for (const Architecture a : capture::kArchitectures) {
        if (architecture->is_string() && string_of(*architecture) == capture::architecture_name(a)) {
          dump.architecture = a;
          return true;
        }
      }
      return false;
    };
    if (!known()) {
      std::string names;
      for (const Architecture a : capture::kArchitectures) {
        names += names.empty() ? "" : " or ";
        names += capture::architecture_name(a);
      }
      return {std::nullopt, quoted_name(member::architecture) + " is not " + names};
    }
  }
  if (!reader.cpuid(root, dump) || !reader.sysctl(root, dump) || !reader.registry(root, dump) ||
      !reader.timing(root, dump) || !reader.clock(root, dump) || !reader.linux_signs(root, dump)) {
    return {std::nullopt, reader.error};
  }
  if (const Json* report = find_member(root, member::report); report != nullptr) {
    if (!report->is_string()) return {std::nullopt, quoted_name(member::report) + " is not a string"};
    dump.report = string_of(*report);
  }
  return {std::move(dump), {}};
}

}  // namespace oxa::tool
