// SPDX-License-Identifier: MIT
// The replay layers on their own: each question's recorded answers handed
// out by its playback rule, and the input named when the dump has no more.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "capture/dump.h"
#include "capture/replay_layers.h"

namespace oxa::capture {
namespace {

// Every question answered, some of them more than once.
Dump answers() {
  Dump d;
  d.cpuid = {{0x1, 0, {1, 0, 0, 0}}, {0x1, 0, {2, 0, 0, 0}}, {0x1, 1, {3, 0, 0, 0}}};
  d.sysctl = {{kHypervisorFlagName, true, 1}, {kHypervisorFlagName, false, 0}};
  d.timestamps = {10, 20};
  d.clock = {5, 6};
  d.service = true;
  PropertyRecord model;
  model.key = RegistryKey::model;
  model.kind = ValueKind::string;
  model.converted = model.has_bytes = true;
  model.bytes = "A";
  PropertyRecord model_again;
  model_again.key = RegistryKey::model;
  d.properties = {model, model_again};
  d.pci_asked = true;
  d.pci_functions.emplace().add({0x15ad, 0x0405, 0x15ad, 0x0405});
  LinuxRecord& signs = d.linux_signs.emplace();
  // A path or file once per dump is what the reader lets in; were one
  // there twice, the first would answer.
  signs.paths = {{"/x", PathKind::file}, {"/x", PathKind::folder}};
  signs.files = {{"/f", "a"}, {"/f", std::nullopt}};
  signs.release_asked = true;
  signs.kernel_release = "r";
  return d;
}

struct Layers {
  explicit Layers(const Dump& d)
      : processor(d, missing), system(d, *d.linux_signs, missing), registry(d, missing) {}
  MissingInput missing;
  ReplayProcessor processor;
  ReplayLinuxSystem system;
  ReplayRegistry registry;
};

std::string text(std::optional<std::int32_t> flag) { return flag ? std::to_string(*flag) : "unread"; }
std::string text(std::optional<std::string> bytes) { return bytes ? *bytes : "unread"; }
std::string text(PathKind kind) { return std::string(path_kind_name(kind)); }
std::string text(const std::optional<PciFunctions>& functions) {
  if (!functions) return "unasked";
  // Appended piece by piece: g++ 12 at -O3 misreads "text" + a temporary
  // string as an overlapping copy.
  std::string out = std::to_string(functions->size());
  out += " of vendor";
  for (const PciFunction& f : *functions) {
    out += ' ';
    out += std::to_string(f.vendor);
  }
  return out;
}

TEST(ReplayLayers, EachQuestionPlaysBackByItsRule) {
  const struct {
    const char* name;
    std::function<std::string(Layers&)> ask;
    const char* answers;  // three asks; "no ..." where the dump ran out
  } cases[] = {
      {"CPUID: the n-th execution its n-th record, then the last",
       [](Layers& l) { return std::to_string(l.processor.cpuid(0x1, 0).eax); }, "1, 2, 2"},
      {"CPUID: each sub-leaf apart", [](Layers& l) { return std::to_string(l.processor.cpuid(0x1, 1).eax); },
       "3, 3, 3"},
      {"CPUID leaf not recorded", [](Layers& l) { return std::to_string(l.processor.cpuid(0x2, 0).eax); },
       "no CPUID leaf 0x2 sub-leaf 0"},
      {"kernel flag: the n-th read, then the last",
       [](Layers& l) { return text(l.system.hypervisor_flag()); }, "1, unread, unread"},
      {"kernel flag not recorded", [](Layers& l) { return text(l.system.translated_flag()); },
       "no sysctl read of 'sysctl.proc_translated'"},
      {"timestamps in order, each once", [](Layers& l) { return std::to_string(l.processor.rdtsc()); },
       "10, 20, no timestamp 3 (it holds 2)"},
      {"clock readings in order, each once", [](Layers& l) { return std::to_string(l.system.steady_ns()); },
       "5, 6, no clock reading 3 (it holds 2)"},
      {"path: its one record, every time", [](Layers& l) { return text(l.system.path_kind("/x")); },
       "file, file, file"},
      {"path not recorded", [](Layers& l) { return text(l.system.path_kind("/y")); }, "no linux path '/y'"},
      {"sign file: its one record, every time", [](Layers& l) { return text(l.system.read_sign("/f")); },
       "a, a, a"},
      {"sign file not recorded", [](Layers& l) { return text(l.system.read_sign("/g")); },
       "no linux file '/g'"},
      {"kernel release, every time", [](Layers& l) { return text(l.system.kernel_release()); }, "r, r, r"},
      {"registry device, every time",
       [](Layers& l) { return std::string(l.registry.platform_device() ? "found" : "none"); },
       "found, found, found"},
      {"registry value: its one record, every time",
       [](Layers& l) {
         const ReplayRegistry::Device device = l.registry.platform_device();
         return std::string(device.read(RegistryKey::model).get().text);
       },
       "A, A, A"},
      {"registry value not recorded",
       [](Layers& l) {
         const ReplayRegistry::Device device = l.registry.platform_device();
         return std::string(device.read(RegistryKey::product_name).get().text);
       },
       "no read of registry property 'product-name'"},
      {"PCI functions, every time", [](Layers& l) { return text(l.registry.pci_functions()); },
       "1 of vendor 5549, 1 of vendor 5549, 1 of vendor 5549"},
  };
  const Dump d = answers();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layers layers(d);
    std::string got;
    for (int i = 0; i < 3; ++i) {
      if (i > 0) got += ", ";
      try {
        got += c.ask(layers);
      } catch (const ReplayEnded&) {
        got += describe(layers.missing);
        break;
      }
    }
    EXPECT_EQ(got, c.answers);
  }
}

// A registry dump without a service record, and a Linux dump without the
// release: the questions asked once per run are missing as a whole.
TEST(ReplayLayers, QuestionsOfOneAnswerMissingAsAWhole) {
  Dump d = answers();
  d.service.reset();
  d.linux_signs->release_asked = false;
  Layers layers(d);
  EXPECT_THROW(static_cast<void>(layers.registry.platform_device()), ReplayEnded);
  EXPECT_EQ(describe(layers.missing), "no registry service record");
  // The first missing input is the one kept.
  EXPECT_THROW(layers.system.kernel_release(), ReplayEnded);
  EXPECT_EQ(describe(layers.missing), "no registry service record");
  EXPECT_EQ(describe(MissingInput{}), "");
}

// A dump without the PCI functions was taken before runs asked for them:
// its registry could not be asked, which is no missing input. One that
// recorded so says the same.
TEST(ReplayLayers, PciFunctionsNotRecordedCouldNotBeAsked) {
  for (const bool asked : {false, true}) {
    SCOPED_TRACE(asked ? "recorded as unasked" : "not recorded");
    Dump d = answers();
    d.pci_asked = asked;
    d.pci_functions.reset();
    Layers layers(d);
    EXPECT_EQ(layers.registry.pci_functions(), std::nullopt);
    EXPECT_EQ(layers.registry.pci_functions(), std::nullopt);
    EXPECT_FALSE(layers.missing);
  }
}

}  // namespace
}  // namespace oxa::capture
