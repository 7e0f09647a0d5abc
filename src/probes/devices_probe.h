// SPDX-License-Identifier: MIT
#pragma once

// The probe "devices": the hardware a hypervisor gives its guest, which a
// guest that hides CPUID's bit and copies a real board's firmware strings
// still shows. On x86-64 the processor's brand string, where the
// hypervisor's own processor model names it. On macOS the PCI functions the
// IOKit registry lists, which any user may read. On Linux the PCI
// functions, from the one table the kernel shows every user,
// /proc/bus/pci/devices: one read, however many functions; the OEM of the
// ACPI tables, from the header of the FADT (FACP), the small table every
// ACPI machine has, which only root may read; whether the emulated devices'
// table (WAET) is listed; and the names of the input devices, from the one
// table the kernel shows every user, /proc/bus/input/devices: a
// hypervisor's virtual tablet or mouse is named by its maker.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/evidence.h"
#include "core/vocabulary.h"
#include "platform/linux/signs.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "probes/cpuid_probe.h"

namespace oxa {

// One kind of PCI function and what it says. The first row a function
// matches counts.
struct PciRow {
  static constexpr std::uint32_t kAnyDevice = 0x10000;

  std::uint16_t vendor;
  std::uint32_t device = kAnyDevice;  // or one device of the vendor
  std::string_view category = categories::guest;
  std::string_view word;
  std::int32_t weight;
};

// The rows, in the order their findings are recorded.
std::span<const PciRow> pci_rows() noexcept;

struct DeviceSigns {
  std::optional<std::string> cpu_brand;  // CPUID's brand string, where it has one
  // Leaf 0x40000000's signature, where leaf 0x1 hides the hypervisor bit.
  std::optional<std::string> hidden_signature;
  std::optional<std::vector<PciFunction>> pci_functions;  // where listed
  std::optional<std::string> acpi_fadt;                   // the FADT, where read (root)
  PathKind acpi_waet = PathKind::absent;                  // the emulated devices' table (any user)
  std::optional<std::string> input_devices;               // the kernel's table, where read
};

// The processor's brand string, CPUID leaves 0x80000002-0x80000004 (no
// system call; on x86-64 leaf 0x80000000 always says how far the extended
// leaves go), up to its first NUL; nothing without CPUID or those leaves.
template <Processor P>
std::optional<std::string> read_cpu_brand(P& processor) {
  if constexpr (CpuidProcessor<P>) {
    constexpr std::uint32_t kExtended = 0x80000000;
    const std::uint32_t last = processor.cpuid(kExtended, 0).eax;
    if ((last & 0xFFFF0000u) != kExtended || last < kExtended + 4) return std::nullopt;
    std::string brand;
    for (std::uint32_t leaf = kExtended + 2; leaf <= kExtended + 4; ++leaf) {
      const CpuidRegisters r = processor.cpuid(leaf, 0);
      for (const std::uint32_t word : {r.eax, r.ebx, r.ecx, r.edx}) {
        for (int byte = 0; byte < 4; ++byte) brand += static_cast<char>((word >> (8 * byte)) & 0xFFu);
      }
    }
    return brand.substr(0, brand.find('\0'));
  } else {
    static_cast<void>(processor);
    return std::nullopt;
  }
}

// Leaf 0x40000000 where leaf 0x1 showed the cpu probe no hypervisor: a
// guest whose owner hid only the bit (QEMU's -cpu ...,-hypervisor) still
// answers there with its hypervisor's signature, which the cpu probe,
// trusting the bit, does not ask. On bare metal the leaf is out of range:
// Intel answers with its highest basic leaf's numbers, AMD with zeros,
// never a signature. `cpu` is what the cpu probe read, so that leaves 0x0
// and 0x1 are not executed again.
template <Processor P>
std::optional<std::string> read_hidden_signature(P& processor, const Cpu& cpu) {
  if constexpr (CpuidProcessor<P>) {
    if (!cpu.available || cpu.hypervisor) return std::nullopt;
    return detail::signature_text(processor.cpuid(0x40000000u, 0u));
  } else {
    static_cast<void>(processor);
    static_cast<void>(cpu);
    return std::nullopt;
  }
}

// Where the platform shows no devices a process may read (Windows for now):
// what the processor says, its brand string and a hidden signature.
template <Processor P>
DeviceSigns read_device_signs(P& processor, const Cpu& cpu) {
  DeviceSigns signs;
  signs.cpu_brand = read_cpu_brand(processor);
  signs.hidden_signature = read_hidden_signature(processor, cpu);
  return signs;
}

// Where the registry lists the PCI functions (macOS): the brand string and
// those functions.
template <Processor P, PciRegistry R>
DeviceSigns read_device_signs(P& processor, const Cpu& cpu, R& registry) {
  DeviceSigns signs;
  signs.cpu_brand = read_cpu_brand(processor);
  signs.hidden_signature = read_hidden_signature(processor, cpu);
  if (const std::optional<PciFunctions> listed = registry.pci_functions()) {
    signs.pci_functions.emplace(listed->begin(), listed->end());
  }
  return signs;
}

// The functions of the kernel's PCI table, /proc/bus/pci/devices, whose
// lines give a function's vendor and device but not its subsystem; nothing
// where it was not read.
std::optional<std::vector<PciFunction>> pci_table_functions(const std::optional<std::string>& table);

template <Processor P, LinuxSystem S>
DeviceSigns read_device_signs(P& processor, const Cpu& cpu, S& system) {
  return {.cpu_brand = read_cpu_brand(processor),
          .hidden_signature = read_hidden_signature(processor, cpu),
          .pci_functions = pci_table_functions(system.read_sign(sign_path(Sign::pci_devices))),
          .acpi_fadt = system.read_sign(sign_path(Sign::acpi_fadt)),
          .acpi_waet = system.path_kind(sign_path(Sign::acpi_waet)),
          .input_devices = system.read_sign(sign_path(Sign::input_devices))};
}

// Records the probe "devices": "ok" when the brand string, the PCI
// functions or one of its tables could be read, a finding for a brand
// string of a virtual processor model, one for each row of the PCI
// functions that one of them matches,
// one for the FADT's OEM where it names a vendor, and one for each row of
// the input names that one of the input devices matches.
void detect_devices(Result& result, const DeviceSigns& signs);

}  // namespace oxa
