// SPDX-License-Identifier: MIT
#include "probes/cpuid_probe.h"

#include <string_view>
#include <utility>

#include "core/vocabulary.h"

namespace oxa {
namespace {

// The vendor word of a hypervisor signature; "unknown" when no row matches.
std::string_view vendor(std::string_view signature) {
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

}  // namespace

void detect_cpu(Result& result, const Cpu& cpu) {
  result.probe(sources::cpu, cpu.available ? statuses::ok : statuses::unavailable);
  if (!cpu.available || !cpu.hypervisor) return;

  const std::string_view name = vendor(cpu.signature);
  if (cpu.root_partition && name == "hyperv") {
    result.add(sources::cpu, categories::host, "hyperv", weights::none, "root partition privileges");
  } else {
    // Hyper-V's interface is also offered by other hypervisors, so it weighs less.
    result.add(sources::cpu, categories::guest, name,
               name == "hyperv" ? weights::suggestive : weights::declared, cpu.signature);
  }
  if (vendor(cpu.alternate_signature) == "kvm") {
    result.add(sources::cpu, categories::guest, "kvm", weights::declared, "KVM interface at 0x40000100");
  }
}

}  // namespace oxa
