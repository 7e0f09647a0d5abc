// SPDX-License-Identifier: MIT
#include "probes/cpuid_probe.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <utility>

#include "core/vocabulary.h"

namespace oxa {

std::string_view hypervisor_vendor(std::string_view signature) {
  using namespace std::string_view_literals;
  static constexpr std::pair<std::string_view, std::string_view> entries[] = {
      {"KVMKVMKVM"sv, "kvm"sv},           {"Linux KVM Hv"sv, "kvm"sv},
      {"TCGTCGTCGTCG"sv, "qemu"sv},       {"VMwareVMware"sv, "vmware"sv},
      {"VBoxVBoxVBox"sv, "virtualbox"sv}, {"XenVMMXenVMM"sv, "xen"sv},
      {"Microsoft Hv"sv, "hyperv"sv},     {"bhyve bhyve "sv, "bhyve"sv},
      {"BHyVE BHyVE "sv, "bhyve"sv},      {"ACRNACRNACRN"sv, "acrn"sv},
      {"QNXQVMBSQG"sv, "qnx"sv},          {"SRESRESRESRE"sv, "sre"sv},
      {"___ NVMM ___"sv, "nvmm"sv},       {"Apple VZ"sv, "apple"sv},
      {" prl hyperv "sv, "parallels"sv},  {"prl hyperv  "sv, "parallels"sv},
  };
  for (const auto& [text, word] : entries) {
    if (text == signature) return word;
  }
  return kNoVendor;
}

namespace {

// MIDR_EL1 values no physical core carries, each the mark of the software
// that made up the virtual processor: X(implementer, part, vendor).
//   0x00 0x051  QEMU's "max" processor under TCG: implementer 0, which Arm
//               reserves for software use, and part 0x051, 'Q' (QEMU,
//               target/arm/tcg/cpu64.c, aarch64_max_tcg_initfn; Trusted
//               Firmware-A names the whole value, 0x000f0510, QEMU_MAX_MIDR).
//   0x61 0x000  Apple's hypervisor on Apple silicon: Apple's implementer 'a'
//               with part 0 (a Linux guest of Virtualization.framework shows
//               "CPU implementer 0x61", "CPU part 0x000"), where Apple's own
//               cores number from 0x001 (Cyclone) up (m1n1's MIDR part table).
//   0x00 any    Any other value of implementer 0: no physical core carries
//               it, and the hypervisors on Apple silicon make such values up
//               (an all-zero MIDR in Virtualization.framework's M1 and M2
//               guests, 0x000f0000 and the like in others), naming no one.
// Under KVM and other hypervisors that pass the host's value through, the
// register names a real core and says nothing. The first row that matches
// counts.
inline constexpr std::uint32_t kAnyPart = 0xFFFFFFFFu;
struct MidrMark {
  std::uint32_t implementer;
  std::uint32_t part;  // or kAnyPart
  std::string_view vendor;
};
constexpr MidrMark kMidrMarks[] = {
    {0x00u, 0x051u, "qemu"},
    {0x61u, 0x000u, "apple"},
    {0x00u, kAnyPart, kNoVendor},
};

void detect_midr(Result& result, std::uint32_t midr) {
  const std::uint32_t implementer = midr >> 24;
  const std::uint32_t part = (midr >> 4) & 0xFFFu;
  for (const MidrMark& mark : kMidrMarks) {
    if (mark.implementer != implementer || (mark.part != kAnyPart && mark.part != part)) continue;
    char detail[32];
    std::snprintf(detail, sizeof detail, "MIDR_EL1 0x%08x", static_cast<unsigned>(midr));
    result.add(sources::cpu, categories::guest, mark.vendor, weights::marked, detail);
    return;
  }
}

}  // namespace

std::optional<std::uint32_t> parse_midr(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (text.size() < 3 || text.size() > 18 || text[0] != '0' || text[1] != 'x') return std::nullopt;
  std::uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + 2, end, value, 16);
  // Bits 63:32 are reserved, zero on every core.
  if (error != std::errc() || stop != end || value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

void detect_cpu(Result& result, const Cpu& cpu) {
  result.probe(sources::cpu, cpu.available ? statuses::ok : statuses::unavailable);
  if (cpu.available && cpu.midr) {
    detect_midr(result, *cpu.midr);
    return;
  }
  if (!cpu.available || !cpu.hypervisor) return;

  const std::string_view name = hypervisor_vendor(cpu.signature);
  if (cpu.root_partition && name == "hyperv") {
    result.add(sources::cpu, categories::host, "hyperv", weights::none, "root partition privileges");
  } else {
    // Hyper-V's interface is also offered by other hypervisors, so it weighs less.
    result.add(sources::cpu, categories::guest, name,
               name == "hyperv" ? weights::suggestive : weights::declared, cpu.signature);
  }
  if (hypervisor_vendor(cpu.alternate_signature) == "kvm") {
    result.add(sources::cpu, categories::guest, "kvm", weights::declared, "KVM interface at 0x40000100");
  }
}

}  // namespace oxa
