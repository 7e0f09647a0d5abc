// SPDX-License-Identifier: MIT
#include "probes/devices_probe.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace oxa {
namespace {

using namespace std::string_view_literals;

constexpr std::uint32_t kAnyDevice = PciRow::kAnyDevice;

// From the PCI ID registry and the hypervisors' own sources.
constexpr PciRow kPciRows[] = {
    // Vendors whose every function is virtual hardware of their product:
    // VMware's SVGA, VMXNET3, PVSCSI and VMCI; VirtualBox's guest service
    // and graphics; Parallels' tools device; Xen's platform device, which
    // HVM guests have and dom0 has not; Red Hat's devices of QEMU (pci
    // bridge, xHCI, pvpanic). None is known on bare metal.
    {.vendor = 0x15ad, .word = "vmware", .weight = weights::marked},
    {.vendor = 0x80ee, .word = "virtualbox", .weight = weights::marked},
    {.vendor = 0x1ab8, .word = "parallels", .weight = weights::marked},
    {.vendor = 0x5853, .word = "xen", .weight = weights::marked},
    {.vendor = 0x1b36, .word = "qemu", .weight = weights::named},
    // Hyper-V's synthetic video of a Generation 1 machine (Generation 2
    // machines have no PCI function of Hyper-V's own).
    {.vendor = 0x1414, .device = 0x5353, .word = "hyperv", .weight = weights::marked},
    // Host bridges no machine has built for decades or ever: Intel's 440FX,
    // as QEMU's pc machine and VirtualBox emulate it; the virtual host
    // bridge of Cloud Hypervisor and Firecracker (0x0d57).
    {.vendor = 0x8086, .device = 0x1237, .word = kNoVendor, .weight = weights::indirect},
    {.vendor = 0x8086, .device = 0x0d57, .word = kNoVendor, .weight = weights::indirect},
    // Virtio: every virtual machine monitor offers it, and so do physical
    // cards (DPUs that give bare-metal cloud servers their disks and
    // network): suggestive only.
    {.vendor = 0x1af4, .word = kNoVendor, .weight = weights::suggestive},
    // The clouds' own NICs and disks, in their virtual machines and on their
    // bare-metal machines alike: the cloud, never a guest. Amazon's ENA and
    // EBS NVMe; Google's gVNIC and NVMe.
    {.vendor = 0x1d0f,
     .device = 0xec20,
     .category = categories::cloud,
     .word = "aws",
     .weight = weights::none},
    {.vendor = 0x1d0f,
     .device = 0xec21,
     .category = categories::cloud,
     .word = "aws",
     .weight = weights::none},
    {.vendor = 0x1d0f,
     .device = 0x8061,
     .category = categories::cloud,
     .word = "aws",
     .weight = weights::none},
    {.vendor = 0x1ae0,
     .device = 0x0042,
     .category = categories::cloud,
     .word = "gcp",
     .weight = weights::none},
    {.vendor = 0x1ae0,
     .device = 0x001f,
     .category = categories::cloud,
     .word = "gcp",
     .weight = weights::none},
};

// "<bus and function>\t<vendor><device>\t...": the kernel writes the second
// field as eight hex digits (drivers/pci/proc.c). Nothing for a line that is
// not of that shape.
std::optional<std::uint32_t> vendor_and_device(std::string_view line) {
  const std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos || line.size() < tab + 1 + 8) return std::nullopt;
  const std::string_view id = line.substr(tab + 1, 8);
  if (line.size() > tab + 9 && line[tab + 9] != '\t') return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), value, 16);
  if (error != std::errc() || end != id.data() + id.size()) return std::nullopt;
  return value;
}

void pci_findings(Result& result, const std::vector<PciFunction>& functions) {
  std::array<bool, std::size(kPciRows)> found{};
  for (const PciFunction& function : functions) {
    for (std::size_t i = 0; i < std::size(kPciRows); ++i) {
      const PciRow& row = kPciRows[i];
      if (row.vendor != function.vendor || (row.device != kAnyDevice && row.device != function.device))
        continue;
      found[i] = true;
      break;
    }
  }
  for (std::size_t i = 0; i < std::size(kPciRows); ++i) {
    if (!found[i]) continue;
    const PciRow& row = kPciRows[i];
    char id[16];
    if (row.device == kAnyDevice) {
      std::snprintf(id, sizeof id, "%04x", static_cast<unsigned>(row.vendor));
    } else {
      std::snprintf(id, sizeof id, "%04x:%04x", static_cast<unsigned>(row.vendor),
                    static_cast<unsigned>(row.device));
    }
    std::string detail = "PCI ";
    detail += id;
    result.add(sources::devices, row.category, row.word, row.weight, detail);
  }
}

// The OEM IDs the virtual machine monitors write into their ACPI tables
// (offset 10 of every table's header, six bytes, blank-padded), as their
// sources and guests show them. A guest's owner may change them (QEMU's
// x-oem-id), so they name their vendor as firmware strings do (85). The
// clouds' own firmware writes theirs on bare-metal machines too: the cloud.
struct OemRow {
  std::string_view oem_id;  // without its padding
  std::string_view category = categories::guest;
  std::string_view word;
  std::int32_t weight = weights::named;
};
constexpr OemRow kOemRows[] = {
    {.oem_id = "FIRECK", .word = "firecracker"},
    {.oem_id = "CLOUDH", .word = "cloud-hypervisor"},
    {.oem_id = "BOCHS", .word = "qemu"},
    {.oem_id = "VBOX", .word = "virtualbox"},
    {.oem_id = "VRTUAL", .word = "hyperv"},
    {.oem_id = "Xen", .word = "xen"},
    {.oem_id = "AMAZON", .category = categories::cloud, .word = "aws", .weight = weights::none},
};

// An ACPI table header: signature, length (little-endian), revision,
// checksum, OEM ID, OEM table ID, ... 36 bytes in all.
constexpr std::size_t kAcpiHeaderSize = 36;
constexpr std::size_t kOemIdOffset = 10;
constexpr std::size_t kOemIdSize = 6;

// The Windows ACPI Emulated Devices Table, which Microsoft specified for
// guests (its RTC and PM timer need no workarounds when emulated); the
// monitors that emulate devices for Windows guests add it. Any user may see
// that it is there, though only root may read it. No physical firmware is
// known to carry it; no vendor is named by it.
void waet_finding(Result& result, PathKind table) {
  if (table != PathKind::file) return;
  result.add(sources::devices, categories::guest, kNoVendor, weights::indirect, sign_path(Sign::acpi_waet));
}

void fadt_findings(Result& result, std::string_view table) {
  // A header of its own signature, whose length is all there is: anything
  // else (cut short, or claiming more than the file) says nothing.
  if (table.size() < kAcpiHeaderSize || !table.starts_with("FACP"sv)) return;
  std::uint32_t length = 0;
  for (std::size_t i = 4; i-- > 0;) length = (length << 8) | static_cast<unsigned char>(table[4 + i]);
  if (length != table.size()) return;
  std::string_view oem = table.substr(kOemIdOffset, kOemIdSize);
  while (!oem.empty() && (oem.back() == ' ' || oem.back() == '\0')) oem.remove_suffix(1);
  for (const OemRow& row : kOemRows) {
    if (row.oem_id != oem) continue;
    std::string detail = "ACPI FACP OEM ";
    detail += oem;
    result.add(sources::devices, row.category, row.word, row.weight, detail);
    return;
  }
}

// The input devices a hypervisor gives its guest, by the names their
// drivers give them: the kernel calls a USB device "<maker> <product>" as
// the device says them, which QEMU, VirtualBox and VMware write into their
// virtual tablets, mice and keyboards; Hyper-V's and Xen's own drivers name
// theirs. Only a program that makes an input device of that name through
// uinput (which needs root) fakes one on bare metal; an owner who hides a
// guest may rename QEMU's USB devices, not its drivers' names: these name
// their vendor as firmware strings do (85). The VMware mouse protocol of
// the PS/2 mouse, which QEMU emulates too, names a guest of no vendor.
struct InputRow {
  std::string_view prefix;  // of the device's name
  std::string_view word;
  std::int32_t weight = weights::named;
};
constexpr InputRow kInputRows[] = {
    {.prefix = "QEMU ", .word = "qemu"},              // its USB and virtio tablets, mice, keyboards
    {.prefix = "VirtualBox ", .word = "virtualbox"},  // its USB tablet, its mouse integration
    {.prefix = "VMware VMware Virtual USB ", .word = "vmware"},
    {.prefix = "Microsoft Vmbus HID-compliant Mouse", .word = "hyperv"},  // hid-hyperv
    {.prefix = "Xen Virtual ", .word = "xen"},                            // xen-kbdfront
    {.prefix = "VirtualPS/2 VMware VMMouse", .word = kNoVendor, .weight = weights::indirect},
};

// "N: Name=\"<name>\"" lines of the kernel's table (drivers/input/input.c),
// whole lines only.
void input_findings(Result& result, std::string_view table) {
  constexpr std::string_view kNameLine = "N: Name=\"";
  std::array<bool, std::size(kInputRows)> found{};
  for (std::size_t end = table.find('\n'); end != std::string_view::npos; end = table.find('\n')) {
    std::string_view line = table.substr(0, end);
    table.remove_prefix(end + 1);
    if (!line.starts_with(kNameLine) || !line.ends_with('"')) continue;
    line = line.substr(kNameLine.size(), line.size() - kNameLine.size() - 1);
    for (std::size_t i = 0; i < std::size(kInputRows); ++i) {
      if (found[i] || !line.starts_with(kInputRows[i].prefix)) continue;
      found[i] = true;
      std::string detail = "input device ";
      detail += line;
      result.add(sources::devices, categories::guest, kInputRows[i].word, kInputRows[i].weight, detail);
      break;
    }
  }
}

// The brand strings of the processor models QEMU defines for guests that
// are not given the host's (target/i386/cpu.c: qemu64 and qemu32, kvm64 and
// kvm32), which a guest that hides CPUID's bit keeps unless its owner also
// picks another model. No physical processor carries them. A translator's
// model (Rosetta's "VirtualApple") is no virtual machine's: not here.
struct BrandRow {
  std::string_view prefix;  // of the brand, its leading blanks skipped
  std::string_view word;
};
constexpr BrandRow kBrandRows[] = {
    {.prefix = "QEMU Virtual CPU", .word = "qemu"},
    {.prefix = "Common KVM processor", .word = "kvm"},
    {.prefix = "Common 32-bit KVM processor", .word = "kvm"},
};

void brand_findings(Result& result, std::string_view brand) {
  brand.remove_prefix(std::min(brand.find_first_not_of(' '), brand.size()));
  for (const BrandRow& row : kBrandRows) {
    if (!brand.starts_with(row.prefix)) continue;
    std::string detail = "CPUID brand ";
    detail += brand;
    result.add(sources::devices, categories::guest, row.word, weights::named, detail);
    return;
  }
}

// A known hypervisor's signature behind a hidden bit is its mark (90); a
// text no hypervisor writes says nothing (Intel's out-of-range answer).
void hidden_signature_finding(Result& result, std::string_view signature) {
  const std::string_view vendor = hypervisor_vendor(signature);
  if (vendor == kNoVendor) return;
  std::string detail = "CPUID 0x40000000 ";
  detail += signature;
  detail += " without the hypervisor bit";
  result.add(sources::devices, categories::guest, vendor, weights::marked, detail);
}

}  // namespace

std::span<const PciRow> pci_rows() noexcept { return kPciRows; }

std::optional<std::vector<PciFunction>> pci_table_functions(const std::optional<std::string>& table) {
  if (!table) return std::nullopt;
  std::vector<PciFunction> functions;
  std::string_view rest = *table;
  // Whole lines only: a read cut at its limit ends in a part of one.
  for (std::size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
    const std::optional<std::uint32_t> id = vendor_and_device(rest.substr(0, end));
    rest.remove_prefix(end + 1);
    if (id) {
      functions.push_back({.vendor = static_cast<std::uint16_t>(*id >> 16),
                           .device = static_cast<std::uint16_t>(*id & 0xFFFFu)});
    }
  }
  return functions;
}

void detect_devices(Result& result, const DeviceSigns& signs) {
  const bool read = signs.cpu_brand || signs.hidden_signature || signs.pci_functions || signs.acpi_fadt ||
                    signs.input_devices || signs.acpi_waet == PathKind::file;
  result.probe(sources::devices, read ? statuses::ok : statuses::unavailable);
  if (signs.cpu_brand) brand_findings(result, *signs.cpu_brand);
  if (signs.hidden_signature) hidden_signature_finding(result, *signs.hidden_signature);
  if (signs.pci_functions) pci_findings(result, *signs.pci_functions);
  if (signs.acpi_fadt) fadt_findings(result, *signs.acpi_fadt);
  waet_finding(result, signs.acpi_waet);
  if (signs.input_devices) input_findings(result, *signs.input_devices);
}

}  // namespace oxa
