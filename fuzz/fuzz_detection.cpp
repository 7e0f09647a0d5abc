// SPDX-License-Identifier: MIT
// Input: the whole world of one detection run, over the test layers. Layout,
// front to back (ByteReader: past the end everything reads as zero):
//   u8  flags: bit 0 "kern.hv_vmm_present" readable, bit 1
//       "sysctl.proc_translated" readable, bit 2 no registry service
//   i32 kern.hv_vmm_present, i32 sysctl.proc_translated
//   u64 clock start (kept below 2^62), u64 elapsed ns (kept below 2^40)
//   CPUID leaves 0x0, 0x1, 0x40000000, 0x40000001, 0x40000003, 0x40000100:
//       eax, ebx, ecx, edx as u32 each
//   timestamps: u64 first, u32 scale, then 159 i8 steps (next = previous +
//       step * scale, wrapping): all 160 that one measurement reads
//   registry properties "manufacturer", "model", "product-name", each led by
//   a kind byte (% 6): 0 absent, 1 string, 2 unconvertible string, 3 data,
//   4 data reporting a length outside 1..4096 (i64; negative ones too),
//   5 another type. Strings and data: u16 n, n bytes, then u16 pad (% 8192)
//   and a fill byte appended pad times, to reach past 4096 bytes cheaply.
//   CPUID leaves 0x80000000, 0x80000002-0x80000004 as the first ones (the
//   brand string's)
//   the registry's PCI functions: u8 matching (% 3): 0 fails, 1 no
//   iterator, 2 succeeds; u16 services (% 512, past the binding's bound);
//   per service its "vendor-id", "device-id", "subsystem-vendor-id",
//   "subsystem-id", each led by a kind byte (% 5): 0 absent, 1 data of 4
//   bytes (u32), 2 data of u8 n % 9 bytes (4 taken as 8), 3 a string of u8
//   n bytes, 4 another type
// The run must succeed with a report that parses, probes cpu, system,
// firmware, timing, devices, compatibility in that order, evidence grouped
// by probe in that order,
// the probes' own words and weights only, the devices' PCI findings those
// of the rows that the functions the binding reads meet, and every
// registry object released exactly once.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/detection_run.h"
#include "byte_reader.h"
#include "probes/devices_probe.h"
#include "report_check.h"
#include "support/fake_iokit.h"
#include "support/fake_system.h"
#include "support/scripted_processor.h"

namespace {

using oxa::fuzz::ByteReader;
using oxa::fuzz::check;
using oxa::fuzz::Json;
using oxa::test::FakeRegistry;

constexpr std::uint32_t kLeaves[] = {0x0u, 0x1u, 0x40000000u, 0x40000001u, 0x40000003u, 0x40000100u};
constexpr std::size_t kTimestamps = 160;
constexpr std::uint32_t kBrandLeaves[] = {0x80000000u, 0x80000002u, 0x80000003u, 0x80000004u};
constexpr std::string_view kSources[] = {"cpu", "system", "firmware", "timing", "devices", "compatibility"};

std::string property_text(ByteReader& in) {
  std::string text(in.bytes(in.number<std::uint16_t>()));
  const std::size_t pad = in.number<std::uint16_t>() % 8192u;
  text.append(pad, static_cast<char>(in.u8()));
  return text;
}

// Sets one property; true when the probe can read text from it: a string
// that fits the identity buffer with its NUL, or data of 1 to that many bytes.
bool set_property(FakeRegistry& registry, oxa::RegistryKey key, ByteReader& in) {
  switch (in.u8() % 6) {
    case 0:
      registry.set_absent(key);
      break;
    case 1: {
      std::string text = property_text(in);
      const bool fits = text.size() < oxa::kIdentityBufferSize;
      registry.set_string(key, std::move(text));
      return fits;
    }
    case 2:
      registry.set_unconvertible_string(key);
      break;
    case 3: {
      std::string bytes = property_text(in);
      const bool fits = !bytes.empty() && bytes.size() <= oxa::kIdentityBufferSize;
      registry.set_data(key, std::move(bytes));
      return fits;
    }
    case 4: {
      // A reported length that is read would promise bytes the fake does
      // not have; mirror it to the negative side instead.
      auto length = in.number<std::int64_t>();
      if (length >= 1 && length <= static_cast<std::int64_t>(oxa::kIdentityBufferSize)) length = -length;
      registry.set_data_length(key, static_cast<FakeRegistry::Index>(length));
      break;
    }
    default:
      registry.set_other(key);
      break;
  }
  return false;
}

// Scripts one PCI ID property; the ID the binding must read from it, where
// it is one: 4 bytes of data, the ID in the low half.
std::optional<std::uint16_t> set_pci_id(FakeRegistry& registry, std::size_t service, oxa::PciKey key,
                                        ByteReader& in) {
  switch (in.u8() % 5) {
    case 0:
      break;
    case 1: {
      const auto value = in.number<std::uint32_t>();
      std::string bytes;
      for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFFu);
      registry.set_pci_data(service, key, bytes);
      return static_cast<std::uint16_t>(value & 0xFFFFu);
    }
    case 2: {
      std::size_t length = in.u8() % 9u;
      if (length == 4) length = 8;
      std::string bytes(in.bytes(length));
      bytes.resize(length, '\0');
      registry.set_pci_data(service, key, bytes);
      break;
    }
    case 3:
      registry.set_pci_string(service, key, std::string(in.bytes(in.u8())));
      break;
    default:
      registry.set_pci_other(service, key);
      break;
  }
  return std::nullopt;
}

// The devices findings the rows give these functions, worked out from the
// rows alone: each row once, in the rows' order, when it is the first row
// one of the functions meets.
std::vector<oxa::Evidence> expected_pci_findings(const std::vector<oxa::PciFunction>& functions) {
  const auto first_row = [](const oxa::PciFunction& f) -> const oxa::PciRow* {
    for (const oxa::PciRow& row : oxa::pci_rows()) {
      if (row.vendor == f.vendor && (row.device == oxa::PciRow::kAnyDevice || row.device == f.device))
        return &row;
    }
    return nullptr;
  };
  std::vector<oxa::Evidence> expected;
  for (const oxa::PciRow& row : oxa::pci_rows()) {
    if (std::none_of(functions.begin(), functions.end(),
                     [&](const auto& f) { return first_row(f) == &row; })) {
      continue;
    }
    char id[16];
    if (row.device == oxa::PciRow::kAnyDevice) {
      std::snprintf(id, sizeof id, "%04x", static_cast<unsigned>(row.vendor));
    } else {
      std::snprintf(id, sizeof id, "%04x:%04x", static_cast<unsigned>(row.vendor),
                    static_cast<unsigned>(row.device));
    }
    expected.push_back(
        {"devices", std::string(row.category), std::string(row.word), std::string("PCI ") + id, row.weight});
  }
  return expected;
}

std::size_t rank(std::string_view source) {
  for (std::size_t i = 0; i < std::size(kSources); ++i) {
    if (kSources[i] == source) return i;
  }
  oxa::fuzz::fail("an evidence source that is not one of the run's probes");
}

bool one_of(std::string_view word, std::initializer_list<std::string_view> words) {
  for (const std::string_view w : words) {
    if (w == word) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  oxa::test::ScriptedProcessor processor;
  oxa::test::FakeSystem system;
  FakeRegistry registry;

  const std::uint8_t flags = in.u8();
  const auto hv_vmm_present = in.number<std::int32_t>();
  const auto translated = in.number<std::int32_t>();
  if ((flags & 1u) != 0) system.set_sysctl("kern.hv_vmm_present", hv_vmm_present);
  if ((flags & 2u) != 0) system.set_sysctl("sysctl.proc_translated", translated);
  // A steady clock: non-negative and never going back.
  const auto start = static_cast<std::int64_t>(in.number<std::uint64_t>() & ((std::uint64_t{1} << 62) - 1));
  const auto elapsed = static_cast<std::int64_t>(in.number<std::uint64_t>() & ((std::uint64_t{1} << 40) - 1));
  system.clock({start, start + elapsed});

  const auto set_leaf = [&](std::uint32_t leaf) {
    oxa::CpuidRegisters regs{};
    regs.eax = in.number<std::uint32_t>();
    regs.ebx = in.number<std::uint32_t>();
    regs.ecx = in.number<std::uint32_t>();
    regs.edx = in.number<std::uint32_t>();
    processor.set(leaf, regs);
  };
  for (const std::uint32_t leaf : kLeaves) set_leaf(leaf);
  std::vector<std::uint64_t> ticks(kTimestamps);
  ticks[0] = in.number<std::uint64_t>();
  const auto scale = in.number<std::uint32_t>();
  for (std::size_t i = 1; i < kTimestamps; ++i) {
    ticks[i] = ticks[i - 1] +
               static_cast<std::uint64_t>(static_cast<std::int64_t>(in.number<std::int8_t>()) * scale);
  }
  processor.timestamps(ticks);

  const bool service = (flags & 4u) == 0;
  if (!service) registry.remove_service();
  bool readable = false;
  for (const oxa::RegistryKey key :
       {oxa::RegistryKey::manufacturer, oxa::RegistryKey::model, oxa::RegistryKey::product_name}) {
    readable = set_property(registry, key, in) || readable;
  }
  for (const std::uint32_t leaf : kBrandLeaves) set_leaf(leaf);

  // The functions the binding must list: those of the first entries it
  // reads that have a vendor.
  const auto matching = static_cast<FakeRegistry::PciMatching>(in.u8() % 3);
  const std::size_t services = in.number<std::uint16_t>() % 512u;
  std::vector<oxa::PciFunction> listed;
  for (std::size_t s = 0; s < services; ++s) {
    const std::size_t service = registry.add_pci_service();
    std::optional<std::uint16_t> ids[4];
    for (std::size_t k = 0; k < 4; ++k)
      ids[k] = set_pci_id(registry, service, static_cast<oxa::PciKey>(k), in);
    if (s < oxa::kMaxPciFunctions && ids[0]) {
      constexpr std::uint16_t kNone = oxa::PciFunction::kNone;
      listed.push_back({*ids[0], ids[1].value_or(kNone), ids[2].value_or(kNone), ids[3].value_or(kNone)});
    }
  }
  registry.set_pci_matching(matching);
  const bool pci_listed = matching == FakeRegistry::PciMatching::succeeds;
  if (!pci_listed) listed.clear();

  char* out = nullptr;
  const int status = oxa::detect_json(&out, processor, system, registry);
  check(status == OXA_OK, "the detection run did not return status 0");
  check(out != nullptr, "status 0 without a document");
  const std::string document(out);
  std::free(out);
  check(system.last_allocation() == document.size() + 1,
        "the returned block is not the document plus its NUL");
  check(registry.balance().empty(), "registry objects not released exactly once");
  check(processor.timestamps_read() == 0 || processor.timestamps_read() == kTimestamps,
        "the timing probe read neither none nor all of its timestamps");

  const Json report = oxa::fuzz::parse_report(document);
  check(report["duration_us"].get<std::int64_t>() == elapsed / 1000,
        "duration_us is not the whole microseconds");
  const oxa::Result entries = oxa::fuzz::entries_of(report);
  oxa::fuzz::check_record(entries);

  check(entries.probes.size() == std::size(kSources), "the run did not record its six probes");
  for (std::size_t i = 0; i < std::size(kSources); ++i) {
    check(entries.probes[i].source == kSources[i],
          "the probes are not cpu, system, firmware, timing, devices, compatibility");
    check(one_of(entries.probes[i].status, {"ok", "unavailable", "error"}),
          "a probe status outside the vocabulary");
  }
  const auto status_of = [&](std::size_t i) { return entries.probes[i].status; };
  check((status_of(0) == "ok") == (processor.cpuid(0x0u, 0u).eax != 0),
        "cpu probe status does not follow leaf 0x0");
  check((status_of(1) == "ok") == ((flags & 1u) != 0), "system probe status does not follow the kernel flag");
  check((status_of(2) == "ok") == (service && readable),
        "firmware probe status does not follow the registry");
  // Translation is named exactly when the kernel's flag, asked by the
  // timing probe, says so.
  const auto& reads = system.sysctl_reads();
  const bool asked = std::find(reads.begin(), reads.end(), "sysctl.proc_translated") != reads.end();
  check((report["compatibility_layers"] == Json::array({"rosetta"})) ==
            (asked && (flags & 2u) != 0 && translated != 0),
        "rosetta named other than by the translation flag");
  check(std::count(reads.begin(), reads.end(), "sysctl.proc_translated") <= 1,
        "the translation flag asked more than once");
  check((status_of(3) == "unavailable") == (processor.timestamps_read() == 0),
        "timing probe unavailable although it measured, or the reverse");
  const std::uint32_t last_extended = processor.cpuid(0x80000000u, 0u).eax;
  // Leaf 0x40000000 is asked behind a hidden bit, and kept unless Rosetta
  // translates the process.
  const bool hidden_bit_asked = processor.cpuid(0x0u, 0u).eax != 0 &&
                                (processor.cpuid(0x1u, 0u).ecx >> 31) == 0 &&
                                report["compatibility_layers"] != Json::array({"rosetta"});
  check((status_of(4) == "ok") == (pci_listed || hidden_bit_asked ||
                                   (last_extended >= 0x80000004u && last_extended <= 0x8000FFFFu)),
        "devices probe status does not follow leaves 0x80000000 and 0x1 and the PCI matching");
  std::vector<oxa::Evidence> pci_findings;
  for (const oxa::Evidence& e : entries.evidence) {
    if (e.source == "devices" && e.detail.starts_with("PCI ")) pci_findings.push_back(e);
  }
  check(pci_findings == expected_pci_findings(listed),
        "the PCI findings are not those of the rows the listed functions meet");

  std::size_t previous = 0;
  bool guest_or_host_before_timing = false;
  bool system_evidence = false;
  for (const oxa::Evidence& e : entries.evidence) {
    const std::size_t r = rank(e.source);
    // A kernel flag that CPUID's bit does not back is weighed after the
    // timing; a processor without the bit records no "cpu" finding.
    const bool held_flag = e.source == "system" && r < previous;
    check(!held_flag || std::none_of(entries.evidence.begin(), entries.evidence.end(),
                                     [](const oxa::Evidence& c) { return c.source == "cpu"; }),
          "a kernel flag weighed late although CPUID showed a hypervisor");
    check(r >= previous || held_flag, "evidence is not grouped by probe in run order");
    if (!held_flag) previous = r;
    check(status_of(r) == "ok", "evidence from a probe that did not report \"ok\"");
    check(one_of(e.category, {"guest", "host", "cloud", "diagnostic", "compatibility"}),
          "an evidence category outside the vocabulary");
    check((e.category == "compatibility") == (e.source == "compatibility"),
          "a compatibility finding of another source, or the other way round");
    check(e.weight == 0 || e.weight == 50 || e.weight == 80 || e.weight == 85 || e.weight == 90 ||
              e.weight == 95,
          "an evidence weight outside 0, 50, 80, 85, 90, 95");
    if (e.source == "timing") {
      check(e.category == "diagnostic" || !guest_or_host_before_timing,
            "slow CPUID counted as guest evidence after a guest or host finding");
    } else if (e.category == "guest" || e.category == "host") {
      guest_or_host_before_timing = true;
    }
    if (e.source == "devices" && e.detail.starts_with("CPUID brand ")) {
      check(e.category == "guest" && one_of(e.vendor, {"qemu", "kvm"}) && e.weight == 85,
            "a brand-string finding other than QEMU's or KVM's model");
    } else if (e.source == "devices" && e.detail.starts_with("CPUID 0x40000000 ")) {
      // Only behind a hidden bit, only a known signature, only untranslated.
      const oxa::CpuidRegisters leaf1 = processor.cpuid(0x1u, 0u);
      const std::string signature = oxa::detail::signature_text(processor.cpuid(0x40000000u, 0u));
      check(e.category == "guest" && e.weight == 90 && (leaf1.ecx >> 31) == 0 &&
                e.vendor == oxa::hypervisor_vendor(signature) && e.vendor != "unknown" &&
                report["compatibility_layers"].empty(),
            "a hidden-signature finding other than a known signature's behind a hidden bit");
    } else if (e.source == "devices") {
      check(e.detail.starts_with("PCI "), "a devices finding of no kind the probe makes");
    }
    system_evidence = system_evidence || e.source == "system";
  }
  check(system_evidence == ((flags & 1u) != 0 && hv_vmm_present != 0),
        "system evidence does not follow the kernel flag's value");
  return 0;
}
