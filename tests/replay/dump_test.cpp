// SPDX-License-Identifier: MIT
// The dump format, the recording layers and replay, in process: hostile
// dumps, dumps that lack an input the run asks for, and capture over the
// scripted layers followed by replay.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "api/run_fixture.h"
#include "capture/dump_replay.h"
#include "capture/inputs.h"
#include "capture/recording_layers.h"
#include "dump_format.h"
#include "json_text.h"

namespace oxa::test {
namespace {

using capture::Dump;
using capture::PropertyRecord;

// Reads and replays a dump text: the report, or the error of the first step
// that failed.
struct Played {
  std::string report;
  std::string error;
};
// The report of a replayed run; empty where the replay failed.
std::string report_of(const capture::Replay& replay) {
  return replay.run ? to_json(replay.run->result, replay.run->duration_us) : std::string();
}
Played play(const std::string& text) {
  const tool::DumpRead read = tool::read_dump(text);
  if (!read.dump) return {{}, read.error};
  const capture::Replay replay = capture::replay_dump(*read.dump);
  return {report_of(replay), replay.error};
}

const std::string V = "{\"dump_version\": 1, ";
const std::string kLeaf0 =
    "{\"leaf\": \"0x0\", \"subleaf\": \"0x0\", \"eax\": \"0x0\", \"ebx\": \"0x0\", \"ecx\": \"0x0\", "
    "\"edx\": \"0x0\"}";
// Leaf 0 reports no basic leaves: the run then reads no timestamps.
const std::string kNothingMeasured =
    "\"cpuid\": [" + kLeaf0 + "], \"sysctl\": [{\"name\": \"kern.hv_vmm_present\", \"read\": false}], ";

std::string registry_with(const std::string& property) {
  return V + kNothingMeasured + "\"registry\": {\"service\": true, \"properties\": [" + property +
         "]}, \"clock_ns\": [0, 0]}";
}

// A dump whose registry lists these PCI functions (a JSON value).
std::string pci_functions(const std::string& functions) {
  return V + "\"registry\": {\"pci_functions\": " + functions + "}}";
}
std::string pci_function(const char* vendor, const char* device = "\"0x0405\"") {
  return std::string("{\"vendor\": ") + vendor + ", \"device\": " + device +
         ", \"subsystem_vendor\": \"0x15ad\", \"subsystem\": \"0x0405\"}";
}

TEST(ReadDump, HostileDumpsGiveOneLineErrors) {
  const std::string deep = std::string(200, '[') + std::string(200, ']');
  std::string zeros;
  for (std::size_t i = 0; i < tool::kMaxJsonValues; ++i) zeros += "0,";
  std::string too_many_functions;
  for (std::size_t i = 0; i <= kMaxPciFunctions; ++i) too_many_functions += pci_function("\"0x15ad\"") + ",";
  too_many_functions.pop_back();
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"", "not valid JSON (numbers must be integers of at most 64 bits)"},
      {V + "\"cpuid\": [" + kLeaf0, "not valid JSON (numbers must be integers of at most 64 bits)"},
      {V + "\"clock_ns\": [1.5]}", "not valid JSON (numbers must be integers of at most 64 bits)"},
      {V + "\"clock_ns\": [99999999999999999999]}",
       "not valid JSON (numbers must be integers of at most 64 bits)"},
      {V + "\"x\": " + deep + "}", "not valid JSON (numbers must be integers of at most 64 bits)"},
      {"[1]", "not a dump: not a JSON object"},
      {"{}", "not a dump: no 'dump_version'"},
      {"{\"dump_version\": 2}", "not a dump this tool reads: 'dump_version' is not 1"},
      {"{\"dump_version\": \"1\"}", "not a dump this tool reads: 'dump_version' is not 1"},
      {V + "\"cpuid\": {}}", "'cpuid' is not an array"},
      {V + "\"cpuid\": [7]}", "cpuid entry 0 is not an object"},
      {V + "\"cpuid\": [{\"leaf\": 0}]}", "cpuid entry 0 'leaf' is not a string"},
      {V + "\"cpuid\": [{\"leaf\": \"0x0\"}]}", "cpuid entry 0 'subleaf' is missing"},
      {V + "\"cpuid\": [{\"leaf\": \"0x123456789\"}]}",
       "cpuid entry 0 'leaf' is not a 32-bit hex number (0x and 1 to 8 digits)"},
      {V + "\"cpuid\": [{\"leaf\": \"0xZZ\"}]}",
       "cpuid entry 0 'leaf' is not a 32-bit hex number (0x and 1 to 8 digits)"},
      {V + "\"cpuid\": [{\"leaf\": \"12\"}]}",
       "cpuid entry 0 'leaf' is not a 32-bit hex number (0x and 1 to 8 digits)"},
      {V + "\"cpuid\": [{\"leaf\": \"0x\"}]}",
       "cpuid entry 0 'leaf' is not a 32-bit hex number (0x and 1 to 8 digits)"},
      {V + "\"cpuid\": [{\"leaf\": \"0x-1\"}]}",
       "cpuid entry 0 'leaf' is not a 32-bit hex number (0x and 1 to 8 digits)"},
      {V + "\"sysctl\": [{\"name\": \"a\", \"read\": \"yes\"}]}",
       "sysctl entry 0 'read' is not true or false"},
      {V + "\"sysctl\": [{\"name\": \"a\", \"read\": true, \"value\": 2147483648}]}",
       "sysctl entry 0 'value' is out of range (2147483648)"},
      {V + "\"sysctl\": [{\"read\": false}]}", "sysctl entry 0 'name' is missing"},
      {V + "\"registry\": []}", "'registry' is not an object"},
      {V + "\"registry\": {\"service\": 1}}", "registry 'service' is not true or false"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"serial\", \"kind\": \"absent\"}]}}",
       "registry property 0 has an unknown key"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"blob\"}]}}",
       "registry property 'model' has an unknown kind 'blob'"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"string\"}]}}",
       "registry property 'model' 'hex' is missing"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"string\", \"hex\": \"abc\"}]}}",
       "registry property 'model' 'hex' has an odd number of hex digits"},
      // A converted string is text up to its NUL, and fits the buffer with it.
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"string\", \"hex\": "
           "\"410042\"}]}}",
       "registry property 'model' 'hex' holds a NUL byte"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"string\", \"hex\": \"" +
           std::string(2 * kIdentityBufferSize, 'a') + "\"}]}}",
       "registry property 'model' 'hex' is longer than 4095 bytes"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"data\", \"hex\": \"0g\"}]}}",
       "registry property 'model' 'hex' is not hex digits"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"data\", \"hex\": \"+f\"}]}}",
       "registry property 'model' 'hex' is not hex digits"},
      // The probe would read ten bytes where two are recorded.
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"data\", \"length\": 10, "
           "\"hex\": "
           "\"4142\"}]}}",
       "registry property 'model' reports 10 bytes but holds 2"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"data\", \"length\": 1}]}}",
       "registry property 'model' reports 1 bytes but holds 0"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"data\"}]}}",
       "registry property 'model' has neither 'length' nor 'hex'"},
      {V + "\"registry\": {\"properties\": [{\"key\": \"model\", \"kind\": \"absent\"}, {\"key\": \"model\", "
           "\"kind\": \"other\"}]}}",
       "registry property 'model' appears twice"},
      {pci_functions("{}"), "registry 'pci_functions' is not an array or null"},
      {pci_functions("true"), "registry 'pci_functions' is not an array or null"},
      {pci_functions("[7]"), "PCI function 0 is not an object"},
      {pci_functions("[" + pci_function("5549") + "]"), "PCI function 0 'vendor' is not a string"},
      {pci_functions("[{\"vendor\": \"0x15ad\"}]"), "PCI function 0 'device' is missing"},
      {pci_functions("[" + pci_function("\"0x15ad\"") + ", " + pci_function("\"0x15ad\"", "\"0x10000\"") +
                     "]"),
       "PCI function 1 'device' is not a 16-bit hex number (0x and 1 to 4 digits)"},
      {pci_functions("[" + pci_function("\"0x-1\"") + "]"),
       "PCI function 0 'vendor' is not a 16-bit hex number (0x and 1 to 4 digits)"},
      {pci_functions("[" + pci_function("\"15ad\"") + "]"),
       "PCI function 0 'vendor' is not a 16-bit hex number (0x and 1 to 4 digits)"},
      {pci_functions("[" + pci_function("\"0x\"") + "]"),
       "PCI function 0 'vendor' is not a 16-bit hex number (0x and 1 to 4 digits)"},
      // No registry lists more than the binding reads.
      {pci_functions("[" + too_many_functions + "]"),
       "registry 'pci_functions' holds more than 256 functions"},
      {V + "\"timing\": {\"samples\": [[1, 2, 3], [4, 5, 6, 7]]}}",
       "timing sample 0 is not an array of four timestamps"},
      {V + "\"timing\": {\"samples\": [[1, 2, 3, 4, 5]]}}",
       "timing sample 0 is not an array of four timestamps"},
      {V + "\"timing\": {\"samples\": [[]]}}", "timing sample 0 is not an array of four timestamps"},
      {V + "\"timing\": {\"samples\": [[1, 2, 3, -4]]}}", "timing sample 0 is out of range (-4)"},
      {V + "\"timing\": {\"samples\": [[1, 2, 3, \"4\"]]}}", "timing sample 0 is not a number"},
      {V + "\"timing\": {\"record\": {\"available\": true}}}", "timing record 'valid' is missing"},
      {V + "\"clock_ns\": [-1, 5]}", "clock reading 0 is out of range (-1)"},
      // Replayed, it would give a negative duration.
      {V + "\"clock_ns\": [5, 4]}", "clock reading 1 is earlier than the one before it"},
      {V + "\"linux\": []}", "'linux' is not an object"},
      {V + "\"linux\": {\"paths\": [{\"path\": \"run/x\", \"kind\": \"file\"}]}}",
       "linux path 0 'path' is not an absolute path"},
      {V + "\"linux\": {\"paths\": [{\"path\": \"/x\", \"kind\": \"fifo\"}]}}",
       "linux path 0 has an unknown kind 'fifo'"},
      {V + "\"linux\": {\"paths\": [{\"path\": \"/x\", \"kind\": \"file\"}, {\"path\": \"/x\", \"kind\": "
           "\"absent\"}]}}",
       "linux path 1 repeats '/x'"},
      {V + "\"linux\": {\"files\": [{\"path\": \"/x\", \"read\": true}]}}", "linux file 0 'hex' is missing"},
      {V + "\"linux\": {\"files\": [{\"path\": \"/x\", \"read\": true, \"hex\": \"" +
           std::string(2 * (kSignReadLimit + 1), 'a') + "\"}]}}",
       "linux file 0 holds more than 16384 bytes"},
      {V + "\"linux\": {\"kernel_release\": {\"read\": 1}}}",
       "linux kernel release 'read' is not true or false"},
      {V + "\"linux\": {\"documented\": \"yes\"}}", "linux 'documented' is not true or false"},
      // Parsed whole, it would take far more memory than its bytes.
      {V + "\"ignored\": [" + zeros + "0]}", "more than 100000 JSON values"},
      {V + "\"clock_ns\": 5}", "'clock_ns' is not an array"},
      {V + "\"report\": 5}", "'report' is not a string"},
      {V + "\"architecture\": \"aarch64\"}", "'architecture' is not x86_64 or arm64"},
      {V + "\"architecture\": 1}", "'architecture' is not x86_64 or arm64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    const tool::DumpRead read = tool::read_dump(c.text);
    EXPECT_FALSE(read.dump);
    EXPECT_EQ(read.error, c.error);
  }
}

TEST(ReplayDump, OddButValidDumpsReplay) {
  const struct {
    const char* name;
    std::string text;
    const char* in_report;
  } cases[] = {
      // The largest readings the format holds: the run's difference cannot overflow.
      {"largest clock",
       V + kNothingMeasured +
           "\"registry\": {\"service\": false}, \"clock_ns\": [0, "
           "9223372036854775807]}",
       "\"duration_us\":9223372036854775}"},
      {"data longer than the probe reads",
       registry_with("{\"key\": \"manufacturer\", \"kind\": \"data\", \"length\": 4097, \"hex\": \"51\"}, "
                     "{\"key\": \"model\", \"kind\": \"data\", \"length\": -3}, "
                     "{\"key\": \"product-name\", \"kind\": \"absent\"}"),
       "{\"source\":\"firmware\",\"status\":\"unavailable\"}"},
      {"bytes of every value, a trailing NUL kept",
       registry_with("{\"key\": \"manufacturer\", \"kind\": \"string\", \"hex\": \"22ff5c\"}, "
                     "{\"key\": \"model\", \"kind\": \"data\", \"hex\": \"51454d5500\"}, "
                     "{\"key\": \"product-name\", \"kind\": \"string\", \"converted\": false}"),
       "{\"source\":\"firmware\",\"category\":\"guest\",\"vendor\":\"qemu\",\"weight\":85,\"detail\":"
       "\"qemu\"}"},
      {"PCI functions, their IDs in capitals and short",
       V + kNothingMeasured +
           "\"registry\": {\"service\": false, \"pci_functions\": [{\"vendor\": \"0X1AB8\", \"device\": "
           "\"0x4000\", \"subsystem_vendor\": \"0x0\", \"subsystem\": \"0xFFFF\"}]}, \"clock_ns\": [0, 0]}",
       "{\"source\":\"devices\",\"category\":\"guest\",\"vendor\":\"parallels\",\"weight\":90,"
       "\"detail\":\"PCI 1ab8\"}"},
      {"PCI functions the registry could not list",
       V + kNothingMeasured +
           "\"registry\": {\"service\": false, \"pci_functions\": null}, \"clock_ns\": [0, 0]}",
       "{\"source\":\"devices\",\"status\":\"unavailable\"}"},
      {"unknown members are ignored",
       V + kNothingMeasured +
           "\"registry\": {\"service\": false, \"x\": 1}, "
           "\"clock_ns\": [0, 0], \"comment\": [true, null]}",
       "\"vm_likelihood\":\"unknown\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Played p = play(c.text);
    EXPECT_EQ(p.error, "");
    EXPECT_NE(p.report.find(c.in_report), std::string::npos) << p.report;
  }
}

// Texts are bytes: each \u00XX escape reads back as the byte XX and is
// written again as itself. A code point above U+00FF, which no dump writer
// produces, is kept as its UTF-8 bytes.
TEST(ReadDump, TextsAreTheBytesTheirEscapesStandFor) {
  const std::string text =
      V + R"("sysctl": [{"name": "a\u00ffb\u0001", "read": false}], "report": "r\u00e9\u20ac"})";
  const tool::DumpRead read = tool::read_dump(text);
  ASSERT_TRUE(read.dump) << read.error;
  ASSERT_EQ(read.dump->sysctl.size(), 1u);
  EXPECT_EQ(read.dump->sysctl[0].name,
            "a\xff"
            "b\x01");
  EXPECT_EQ(read.dump->report, "r\xe9\xe2\x82\xac");
  const std::string written = tool::write_dump(*read.dump);
  EXPECT_NE(written.find(R"({"name": "a\u00ffb\u0001", "read": false, "value": 0})"), std::string::npos)
      << written;
  EXPECT_NE(written.find(R"("report": "r\u00e9\u00e2\u0082\u00ac")"), std::string::npos) << written;
}

// A Hyper-V guest whose run reads every kind of input.
// What a plain Linux system shows of every sign the probes ask for, PID 1's
// environment closed to us.
capture::LinuxRecord plain_linux() {
  capture::LinuxRecord r;
  // Each question's answers, each path once.
  const auto once = [](auto& answers, const char* path) -> auto& {
    for (auto& a : answers) {
      if (a.path == path) return a;
    }
    return answers.emplace_back(typename std::remove_reference_t<decltype(answers)>::value_type{path, {}});
  };
  for (const SignInfo& sign : kSigns) {
    switch (sign.question) {
#define OXA_PLAIN_ANSWER_(method, Answer, answers, noun, most, ...) \
  case PathQuestion::method:                                        \
    once(r.answers, sign.path);                                     \
    break;
      OXA_LINUX_PATH_QUESTIONS(OXA_PLAIN_ANSWER_)
#undef OXA_PLAIN_ANSWER_
    }
  }
  r.environments.front().answer = "";  // our own: none of the variables set
  once(r.files, "/proc/self/cgroup").answer = "0::/init.scope\n";
  r.release_asked = true;
  r.kernel_release = "6.1.0-18-amd64";
  return r;
}

Dump hyperv_dump() {
  Dump d;
  d.cpuid = {{0x0, 0, {0xd, 0, 0, 0}},
             {0x1, 0, {0, 0, kHypervisorBit, kTscAndSse2}},
             {0x40000000, 0, signature_registers(0x40000005, "Microsoft Hv")},
             {0x40000001, 0, {0x31237648, 0, 0, 0}},
             {0x40000003, 0, {0, 0, 0, 0}},
             {0x40000100, 0, {0, 0, 0, 0}}};
  d.sysctl = {{"kern.hv_vmm_present", true, 1}, {"sysctl.proc_translated", false, 0}};
  d.service = true;
  PropertyRecord manufacturer;
  manufacturer.key = RegistryKey::manufacturer;
  manufacturer.kind = ValueKind::string;
  manufacturer.converted = manufacturer.has_bytes = true;
  manufacturer.bytes = "Microsoft Corporation";
  PropertyRecord model;
  model.key = RegistryKey::model;
  model.kind = ValueKind::absent;
  PropertyRecord product;
  product.key = RegistryKey::product_name;
  product.kind = ValueKind::other;
  d.properties = {manufacturer, model, product};
  d.timestamps = samples(20, 1500);
  d.clock = {1000, 5000};
  return d;
}

void erase_leaf(Dump& d, std::uint32_t leaf) {
  std::erase_if(d.cpuid, [leaf](const capture::CpuidRecord& r) { return r.leaf == leaf; });
}
void erase_sysctl(Dump& d, const char* name) {
  std::erase_if(d.sysctl, [name](const capture::SysctlRecord& r) { return r.name == name; });
}
void erase_property(Dump& d, RegistryKey key) {
  std::erase_if(d.properties, [key](const PropertyRecord& p) { return p.key == key; });
}

TEST(ReplayDump, NamesTheFirstInputTheDumpLacks) {
  const struct {
    const char* name;
    std::function<void(Dump&)> change;
    const char* error;
  } cases[] = {
      {"complete", [](Dump&) {}, ""},
      {"no CPUID at all", [](Dump& d) { d.cpuid.clear(); }, "dump has no CPUID leaf 0x0 sub-leaf 0"},
      {"no Hyper-V root leaf", [](Dump& d) { erase_leaf(d, 0x40000003); },
       "dump has no CPUID leaf 0x40000003 sub-leaf 0"},
      {"no second range", [](Dump& d) { erase_leaf(d, 0x40000100); },
       "dump has no CPUID leaf 0x40000100 sub-leaf 0"},
      // A dump with no extended leaf predates them ("complete" above); one
      // that recorded 0x80000000 must hold the leaves it promises.
      {"a brand leaf short",
       [](Dump& d) {
         d.cpuid.push_back({.leaf = 0x80000000, .subleaf = 0, .regs = {0x80000008, 0, 0, 0}});
       },
       "dump has no CPUID leaf 0x80000002 sub-leaf 0"},
      {"no kernel flag", [](Dump& d) { erase_sysctl(d, "kern.hv_vmm_present"); },
       "dump has no sysctl read of 'kern.hv_vmm_present'"},
      {"no translation flag", [](Dump& d) { erase_sysctl(d, "sysctl.proc_translated"); },
       "dump has no sysctl read of 'sysctl.proc_translated'"},
      {"no service record", [](Dump& d) { d.service.reset(); }, "dump has no registry service record"},
      {"no model read", [](Dump& d) { erase_property(d, RegistryKey::model); },
       "dump has no read of registry property 'model'"},
      {"one timestamp short", [](Dump& d) { d.timestamps.pop_back(); },
       "dump has no timestamp 160 (it holds 159)"},
      {"no timestamps", [](Dump& d) { d.timestamps.clear(); }, "dump has no timestamp 1 (it holds 0)"},
      {"one clock reading", [](Dump& d) { d.clock.resize(1); }, "dump has no clock reading 2 (it holds 1)"},
      {"no clock", [](Dump& d) { d.clock.clear(); }, "dump has no clock reading 1 (it holds 0)"},
      {"Linux signs of a plain system", [](Dump& d) { d.linux_signs = plain_linux(); }, ""},
      {"no Linux path record",
       [](Dump& d) {
         d.linux_signs = plain_linux();
         d.linux_signs->paths.pop_back();
       },
       "dump has no linux path '/dev/incus/sock'"},
      {"no Linux file record",
       [](Dump& d) {
         d.linux_signs = plain_linux();
         std::erase_if(d.linux_signs->files, [](const auto& f) { return f.path == "/proc/self/cgroup"; });
       },
       "dump has no linux file '/proc/self/cgroup'"},
      {"no environment record",
       [](Dump& d) {
         d.linux_signs = plain_linux();
         d.linux_signs->environments.pop_back();
       },
       "dump has no linux environment '/proc/1/environ'"},
      {"no kernel release record",
       [](Dump& d) {
         d.linux_signs = plain_linux();
         d.linux_signs->release_asked = false;
       },
       "dump has no linux kernel release"},
      // A documented dump lists what its machine shows: a path it leaves
      // out is absent, of any question; the kernel release stays required.
      {"documented, only the signs shown",
       [](Dump& d) {
         d.linux_signs = plain_linux();
         d.linux_signs->documented = true;
         d.linux_signs->paths.clear();
         d.linux_signs->links.clear();
         d.linux_signs->environments.pop_back();
         std::erase_if(d.linux_signs->files, [](const auto& f) { return f.path != "/proc/self/cgroup"; });
       },
       ""},
      {"documented, no kernel release",
       [](Dump& d) {
         d.linux_signs = plain_linux();
         d.linux_signs->documented = true;
         d.linux_signs->release_asked = false;
       },
       "dump has no linux kernel release"},
      {"timing record as its samples give it",
       [](Dump& d) {
         d.timing = capture::replay_timing(d);
         ASSERT_TRUE(d.timing);
       },
       ""},
      {"timing record its samples contradict",
       [](Dump& d) {
         d.timing = Timing{true, true, 1};
       },
       "timing record does not match its samples"},
      // The registry is read before the timestamps: its gap is the one named.
      {"registry and timestamps missing",
       [](Dump& d) {
         erase_property(d, RegistryKey::product_name);
         d.timestamps.clear();
       },
       "dump has no read of registry property 'product-name'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dump d = hyperv_dump();
    c.change(d);
    const capture::Replay replay = capture::replay_dump(d);
    EXPECT_EQ(replay.error, c.error);
    EXPECT_EQ(!replay.run, *c.error != '\0');
    // What the writer makes of it reads back to the same outcome.
    EXPECT_EQ(play(tool::write_dump(d)).error, c.error);
  }
}

// The names of every member in `value`, at any depth.
void member_names(const nlohmann::json& value, std::set<std::string>& names) {
  if (value.is_object()) {
    for (const auto& [name, member] : value.items()) {
      names.insert(name);
      member_names(member, names);
    }
  } else if (value.is_array()) {
    for (const nlohmann::json& item : value) member_names(item, names);
  }
}

// The reader drops any member it does not know unread: one the writer
// writes and the reader's list lacks would vanish between --dump and
// --replay. A dump with every record, and every optional member, shows
// each name the writer has.
TEST(DumpFormat, TheReaderKeepsEveryMemberTheWriterWrites) {
  Dump d = hyperv_dump();
  d.linux_signs = plain_linux();
  d.linux_signs->documented = true;
  d.properties[1].kind = ValueKind::data;
  d.properties[1].length = 2;
  d.properties[1].has_bytes = true;
  d.properties[1].bytes = "QE";
  d.pci_asked = true;
  d.pci_functions.emplace().add({0x15ad, 0x0405, 0x15ad, 0x0405});
  d.timing = capture::replay_timing(d);
  d.report = "{}";
  std::set<std::string> written;
  member_names(nlohmann::json::parse(tool::write_dump(d)), written);
  const std::set<std::string> kept(std::begin(capture::kDumpMembers), std::end(capture::kDumpMembers));
  EXPECT_EQ(written, kept);
}

// The PCI functions keep through their text: a list, a registry that could
// not be asked (null), and none asked for (a dump from before the question).
TEST(DumpFormat, PciFunctionsKeepThroughTheirText) {
  const struct {
    const char* name;
    bool asked;
    std::optional<std::vector<PciFunction>> functions;
    const char* written;  // the member, or "" for none
  } cases[] = {
      {"listed", true,
       std::vector<PciFunction>{{0x8086, 0x7190, 0x15ad, 0x1976}, {0x15ad, 0x0405, PciFunction::kNone, 0}},
       "\"pci_functions\": [\n"
       "      {\"vendor\": \"0x8086\", \"device\": \"0x7190\", \"subsystem_vendor\": \"0x15ad\", "
       "\"subsystem\": "
       "\"0x1976\"},\n"
       "      {\"vendor\": \"0x15ad\", \"device\": \"0x0405\", \"subsystem_vendor\": \"0xffff\", "
       "\"subsystem\": "
       "\"0x0000\"}\n"
       "    ]"},
      {"none there", true, std::vector<PciFunction>{}, "\"pci_functions\": []"},
      {"the registry could not be asked", true, std::nullopt, "\"pci_functions\": null"},
      {"not asked", false, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dump d = hyperv_dump();
    d.pci_asked = c.asked;
    if (c.functions) {
      PciFunctions& functions = d.pci_functions.emplace();
      for (const PciFunction& f : *c.functions) functions.add(f);
    }
    const std::string text = tool::write_dump(d);
    if (*c.written != '\0') {
      EXPECT_NE(text.find(c.written), std::string::npos) << text;
    } else {
      EXPECT_EQ(text.find("pci_functions"), std::string::npos) << text;
    }
    const tool::DumpRead read = tool::read_dump(text);
    ASSERT_TRUE(read.dump) << read.error;
    EXPECT_EQ(read.dump->pci_asked, c.asked);
    EXPECT_EQ(read.dump->pci_functions, d.pci_functions);
    EXPECT_EQ(tool::write_dump(*read.dump), text);
  }
}

// Capture over the scripted layers, then write, read and replay: the dump
// holds what the run read, keeps it through its text, and replays to the
// captured report.
TEST(Capture, RecordsWhatTheRunReadAndReplaysToItsReport) {
  const struct {
    const char* name;
    std::function<void(ScriptedProcessor&, FakeSystem&, FakeRegistry&)> setup;
  } cases[] = {
      {"Hyper-V root partition with a KVM interface, bytes of every value",
       [](ScriptedProcessor& p, FakeSystem& s, FakeRegistry& r) {
         hypervisor_processor(p, "Microsoft Hv", 0x40000005);
         p.set(0x40000001, {0x31237648, 0, 0, 0});
         p.set(0x40000003, {0, 1, 0, 0});
         p.set(0x40000100, signature_registers(0x40000101, "KVMKVMKVM"));
         p.timestamps(samples(20, 1500));
         s.set_sysctl("kern.hv_vmm_present", 1);
         r.set_string(RegistryKey::manufacturer, "Caf\xc3\xa9 \"Q\\\" QEMU\x01");
         r.set_data(RegistryKey::model, std::string("VirtualMac2,1\0", 14));
         r.set_unconvertible_string(RegistryKey::product_name);
       }},
      {"no hypervisor, values the probe skips",
       [](ScriptedProcessor& p, FakeSystem& s, FakeRegistry& r) {
         p.set(0x0, {0xd, 0, 0, 0});
         p.set(0x1, {0, 0, 0, kTscAndSse2});
         p.timestamps(samples(10, 2000));
         s.set_sysctl("kern.hv_vmm_present", 0);
         r.set_data_length(RegistryKey::manufacturer, 5000);
         r.set_other(RegistryKey::model);
         r.set_data_length(RegistryKey::product_name, -1);
       }},
      {"data of 4096 bytes, unusable timing",
       [](ScriptedProcessor& p, FakeSystem&, FakeRegistry& r) {
         hypervisor_processor(p, "VMwareVMware");
         p.timestamps(samples(10, 0));
         std::string bytes(4096, 'x');
         bytes.replace(100, 5, " kvm ");
         r.set_data(RegistryKey::manufacturer, bytes);
       }},
      {"a hidden VMware Mac guest's PCI functions, one without a vendor",
       [](ScriptedProcessor& p, FakeSystem& s, FakeRegistry& r) {
         p.set(0x0, {0xd, 0, 0, 0});
         p.set(0x1, {0, 0, 0, kTscAndSse2});
         p.timestamps(samples(20, 1500));
         s.set_sysctl("kern.hv_vmm_present", 1);
         r.set_data(RegistryKey::model, std::string("MacPro7,1\0", 10));
         r.add_pci_function({0x8086, 0x7190, 0x15ad, 0x1976});
         r.add_pci_service();
         r.add_pci_function({0x15ad, 0x0405, 0x15ad, 0x0405});
       }},
      {"no service, translated process",
       [](ScriptedProcessor& p, FakeSystem& s, FakeRegistry& r) {
         hypervisor_processor(p, "Apple VZ");
         s.set_sysctl("sysctl.proc_translated", 1);
         r.remove_service();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedProcessor p;
    FakeSystem s;
    FakeRegistry r;
    s.clock({2'000'000, 2'123'456});
    c.setup(p, s, r);

    const capture::Capture capture = capture::capture(p, s, r);
    EXPECT_EQ(r.balance(), "");
    const Dump& d = capture.dump;
    ASSERT_EQ(d.cpuid.size(), p.executed().size());
    for (std::size_t i = 0; i < d.cpuid.size(); ++i) {
      EXPECT_EQ(ScriptedProcessor::Key(d.cpuid[i].leaf, d.cpuid[i].subleaf), p.executed()[i]);
    }
    EXPECT_EQ(d.timestamps.size(), p.timestamps_read());
    ASSERT_EQ(d.sysctl.size(), s.sysctl_reads().size());
    for (std::size_t i = 0; i < d.sysctl.size(); ++i) EXPECT_EQ(d.sysctl[i].name, s.sysctl_reads()[i]);
    EXPECT_EQ(d.clock, (std::vector<std::int64_t>{2'000'000, 2'123'456}));
    // What the registry lists again, asked once more.
    EXPECT_TRUE(d.pci_asked);
    EXPECT_EQ(d.pci_functions, r.pci_functions());
    ASSERT_TRUE(d.report);
    ASSERT_TRUE(d.timing);
    EXPECT_EQ(d.timing->available,
              d.report->find("\"source\":\"timing\",\"status\":\"unavailable\"") == std::string::npos);

    const std::string text = tool::write_dump(d);
    const tool::DumpRead read = tool::read_dump(text);
    ASSERT_TRUE(read.dump) << read.error;
    EXPECT_EQ(tool::write_dump(*read.dump), text);
    const capture::Replay replay = capture::replay_dump(*read.dump);
    EXPECT_EQ(replay.error, "");
    EXPECT_EQ(report_of(replay), *d.report);
  }
}

// An arm64 run asks no CPUID and times nothing; its cpu probe reads the
// MIDR_EL1 file among the Linux signs. The dump's architecture decides which
// processor replays it: the same inputs as x86-64 lack CPUID.
TEST(ReplayDump, Arm64DumpsReplayThroughTheirOwnProcessor) {
  const std::string midr = sign_path(Sign::midr);
  Dump d;
  d.architecture = Architecture::arm64;
  d.sysctl = {{"kern.hv_vmm_present", false, 0}};
  d.service = false;
  d.clock = {1000, 5000};
  d.linux_signs = plain_linux();
  for (auto& f : d.linux_signs->files) {
    if (f.path == midr) f.answer = "0x00000000000f0510\n";
  }
  d.timing = capture::replay_timing(d);
  ASSERT_TRUE(d.timing);
  EXPECT_FALSE(d.timing->available);

  const std::string text = tool::write_dump(d);
  EXPECT_EQ(text.rfind("{\n  \"dump_version\": 1,\n  \"architecture\": \"arm64\",\n", 0), 0u) << text;
  const Played played = play(text);
  EXPECT_EQ(played.error, "");
  EXPECT_NE(played.report.find(R"({"source":"cpu","category":"guest","vendor":"qemu","weight":90,)"
                               R"("detail":"MIDR_EL1 0x000f0510"})"),
            std::string::npos)
      << played.report;
  EXPECT_NE(played.report.find(R"({"source":"cpu","status":"ok"},{"source":"system","status":"unavailable"},)"
                               R"({"source":"firmware","status":"unavailable"},)"
                               R"({"source":"devices","status":"unavailable"},)"
                               R"({"source":"timing","status":"unavailable"})"),
            std::string::npos)
      << played.report;

  Dump x86 = d;
  x86.architecture = Architecture::x86_64;
  EXPECT_EQ(capture::replay_dump(x86).error, "dump has no CPUID leaf 0x0 sub-leaf 0");
  std::erase_if(d.linux_signs->files, [&](const auto& f) { return f.path == midr; });
  EXPECT_EQ(capture::replay_dump(d).error, "dump has no linux file '" + midr + "'");
}

// A dump from before arm64 names no architecture and is x86-64's; one the
// writer makes names it.
TEST(ReadDump, ADumpWithoutArchitectureIsOfX86) {
  const tool::DumpRead read = tool::read_dump(V + kNothingMeasured + "\"clock_ns\": [0, 0]}");
  ASSERT_TRUE(read.dump) << read.error;
  EXPECT_EQ(read.dump->architecture, Architecture::x86_64);
  EXPECT_NE(tool::write_dump(*read.dump).find("\"architecture\": \"x86_64\""), std::string::npos);
}

}  // namespace
}  // namespace oxa::test
