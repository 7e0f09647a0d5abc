// SPDX-License-Identifier: MIT
// The "devices" probe: on Linux the kernel's PCI table read from a fake
// root, on macOS the PCI functions of the IOKit registry through its fake;
// hidden guests named by the functions their hypervisor gives them, and
// bare metal, real Macs, clouds' own hardware and hostile tables named as
// little as they should be.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/assessment.h"
#include "core/evidence.h"
#include "probes/devices_probe.h"
#include "support/fake_iokit.h"
#include "support/fake_root.h"
#include "support/rooted_system.h"
#include "support/scripted_processor.h"

namespace oxa {
namespace {

constexpr char kPci[] = "/proc/bus/pci/devices";
constexpr char kFadt[] = "/sys/firmware/acpi/tables/FACP";
constexpr char kInput[] = "/proc/bus/input/devices";

// The kernel's table of input devices (drivers/input/input.c): a block of
// lines per device, its name on the "N:" line.
std::string input_table(std::initializer_list<const char*> names) {
  std::string table;
  for (const char* name : names) {
    table += "I: Bus=0003 Vendor=0627 Product=0001 Version=0001\n";
    table += std::string("N: Name=\"") + name + "\"\n";
    table += "P: Phys=usb-0000:00:01.2-1/input0\nH: Handlers=mouse0 event2\nB: EV=1f\n\n";
  }
  return table;
}

// A FADT of `length` bytes (ACPI 6's is 276) whose header names `oem` and
// `table`, and whose length field says `claimed` (by default its own).
std::string fadt(const char* oem, const char* table, std::size_t length = 276, std::size_t claimed = 0) {
  std::string t(length, '\0');
  t.replace(0, 4, "FACP");
  const std::size_t said = claimed != 0 ? claimed : length;
  for (std::size_t i = 0; i < 4 && 4 + i < t.size(); ++i)
    t[4 + i] = static_cast<char>((said >> (8 * i)) & 0xFF);
  const std::string padded_oem = (std::string(oem) + "      ").substr(0, 6);
  const std::string padded_table = (std::string(table) + "        ").substr(0, 8);
  if (t.size() >= 24) {
    t.replace(10, 6, padded_oem);
    t.replace(16, 8, padded_table);
  }
  return t;
}

// The kernel's table: one line per function, "<bus and function>\t<vendor
// and device>\t<irq>\t..." (drivers/pci/proc.c), here with its first fields.
std::string pci_table(std::initializer_list<const char*> ids) {
  std::string table;
  unsigned slot = 0;
  for (const char* id : ids) {
    char line[64];
    std::snprintf(line, sizeof line, "%04x\t%s\t0\t       fe000000\t       0\n", slot, id);
    table += line;
    slot += 8;
  }
  return table;
}

Evidence device(const char* category, const char* vendor, std::int32_t weight, const char* detail) {
  return {"devices", category, vendor, detail, weight};
}

class DevicesProbe : public test::FakeRootTest {
 protected:
  // The tables of the fake root; the processor says no brand string.
  Result run() {
    const std::string root = root_.string();
    test::RootedSystem system(root.c_str());
    test::ScriptedProcessor processor;
    Result result;
    detect_devices(result, read_device_signs(processor, Cpu{}, system));
    return result;
  }
};

// A processor whose extended leaves go to `last` and spell `brand`.
test::ScriptedProcessor branded(std::uint32_t last, std::string_view brand) {
  test::ScriptedProcessor processor;
  processor.set(0x80000000, {last, 0, 0, 0});
  const std::string padded = (std::string(brand) + std::string(48, '\0')).substr(0, 48);
  for (std::uint32_t i = 0; i < 3; ++i) {
    const std::string_view part = std::string_view(padded).substr(16 * i, 16);
    const CpuidRegisters low = test::signature_registers(0, part.substr(0, 12));
    const CpuidRegisters high = test::signature_registers(0, part.substr(12));
    processor.set(0x80000002 + i, {low.ebx, low.ecx, low.edx, high.ebx});
  }
  return processor;
}

// The processor models QEMU defines for guests keep their brand when CPUID's
// bit is hidden; physical processors, a translator's model and processors
// whose extended leaves stop short name nothing.
TEST(DevicesBrand, QemusProcessorModelsNameTheirMonitor) {
  const struct {
    const char* name;
    test::ScriptedProcessor processor;
    const char* status;
    std::vector<Evidence> evidence;
  } cases[] = {
      {"qemu64",
       branded(0x80000008, "QEMU Virtual CPU version 2.5+"),
       "ok",
       {device("guest", "qemu", 85, "CPUID brand QEMU Virtual CPU version 2.5+")}},
      {"kvm64",
       branded(0x80000008, "Common KVM processor"),
       "ok",
       {device("guest", "kvm", 85, "CPUID brand Common KVM processor")}},
      {"kvm32, right-justified",
       branded(0x80000008, "    Common 32-bit KVM processor"),
       "ok",
       {device("guest", "kvm", 85, "CPUID brand Common 32-bit KVM processor")}},
      {"a physical processor", branded(0x80000008, "AMD EPYC 7R13 Processor"), "ok", {}},
      {"Rosetta's", branded(0x80000008, "VirtualApple @ 2.50GHz processor"), "ok", {}},
      {"a near miss", branded(0x80000008, "QEMU Virtual"), "ok", {}},
      {"leaves that stop short", branded(0x80000003, "QEMU Virtual CPU version 2.5+"), "unavailable", {}},
      {"no extended leaves", branded(0x00000016, "QEMU Virtual CPU version 2.5+"), "unavailable", {}},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    Result result;
    detect_devices(result, read_device_signs(c.processor, Cpu{}));
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", c.status}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
  Arm64Processor arm64;
  EXPECT_FALSE(read_device_signs(arm64, Cpu{}).cpu_brand);
}

// A guest that hides only CPUID's hypervisor bit still answers leaf
// 0x40000000 with its signature; bare metal answers there with another
// leaf's numbers (Intel) or zeros (AMD), and where the bit is shown the cpu
// probe reads the leaf, not this one.
TEST(DevicesHiddenSignature, AKnownSignatureBehindAHiddenBitNamesItsHypervisor) {
  const struct {
    const char* name;
    bool bit;
    CpuidRegisters leaf;
    bool asked;
    std::vector<Evidence> evidence;
  } cases[] = {
      {"KVM, -cpu host,-hypervisor",
       false,
       test::signature_registers(0x40000001, "KVMKVMKVM"),
       true,
       {device("guest", "kvm", 90, "CPUID 0x40000000 KVMKVMKVM without the hypervisor bit")}},
      {"VMware",
       false,
       test::signature_registers(0x40000010, "VMwareVMware"),
       true,
       {device("guest", "vmware", 90, "CPUID 0x40000000 VMwareVMware without the hypervisor bit")}},
      {"Intel bare metal: the highest basic leaf's numbers",
       false,
       {0x00000000, 0x00000064, 0x00000000, 0x00000000},
       true,
       {}},
      {"AMD bare metal: zeros", false, {}, true, {}},
      {"the bit shown: the cpu probe's to read",
       true,
       test::signature_registers(0x40000001, "KVMKVMKVM"),
       false,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedProcessor processor;
    processor.set(0x0, {0xd, 0, 0, 0});
    processor.set(0x1, {0, 0, c.bit ? 0x80000000u : 0u, 0});
    processor.set(0x40000000, c.leaf);
    Result result;
    // What the cpu probe read of leaves 0x0 and 0x1.
    Cpu cpu;
    cpu.available = true;
    cpu.hypervisor = c.bit;
    detect_devices(result, read_device_signs(processor, cpu));
    const std::vector<std::uint32_t> leaves = processor.leaves();
    EXPECT_EQ(std::count(leaves.begin(), leaves.end(), 0x40000000u), c.asked ? 1 : 0);
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", c.asked ? "ok" : "unavailable"}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

// Guests whose CPUID bit and firmware strings were hidden, each with the
// functions its hypervisor gives it by default.
TEST_F(DevicesProbe, HiddenGuestsAreNamedByTheirFunctions) {
  const struct {
    const char* name;
    std::string table;
    std::vector<Evidence> evidence;
    const char* likelihood;
  } cases[] = {
      {"QEMU/KVM, pc machine (kvm=off, copied SMBIOS)",
       pci_table({"80861237", "80867000", "80867010", "1b360100", "1af41000", "1af41001"}),
       {device("guest", "qemu", 85, "PCI 1b36"), device("guest", "unknown", 80, "PCI 8086:1237"),
        device("guest", "unknown", 50, "PCI 1af4")},
       "likely"},
      {"VMware (hypervisor.cpuid.v0 = FALSE)",
       pci_table({"80867190", "15ad0740", "15ad0405", "15ad07b0"}),
       {device("guest", "vmware", 90, "PCI 15ad")},
       "very_likely"},
      {"VirtualBox (DMI strings set by setextradata)",
       pci_table({"80861237", "80ee beef", "80eecafe", "80867113"}),
       {device("guest", "virtualbox", 90, "PCI 80ee"), device("guest", "unknown", 80, "PCI 8086:1237")},
       "very_likely"},
      {"Hyper-V, Generation 1",
       pci_table({"80867192", "14145353", "80867111"}),
       {device("guest", "hyperv", 90, "PCI 1414:5353")},
       "very_likely"},
      {"Xen HVM",
       pci_table({"80861237", "58530001"}),
       {device("guest", "xen", 90, "PCI 5853"), device("guest", "unknown", 80, "PCI 8086:1237")},
       "very_likely"},
      {"Firecracker or Cloud Hypervisor",
       pci_table({"80860d57", "1af41041", "1af41042"}),
       {device("guest", "unknown", 80, "PCI 8086:0d57"), device("guest", "unknown", 50, "PCI 1af4")},
       "likely"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    populate({{kPci, c.table}});
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", "ok"}}));
    EXPECT_EQ(result.evidence, c.evidence);
    EXPECT_EQ(assess(result).likelihood, c.likelihood);
  }
}

// Bare metal with look-alike functions stays below "likely": a physical
// Intel host bridge, real NICs and NVMe, a cloud's own NIC and disks on its
// .metal machines, a DPU's virtio functions.
TEST_F(DevicesProbe, BareMetalLookAlikesStayBelowLikely) {
  const struct {
    const char* name;
    std::string table;
    std::vector<Evidence> evidence;
    const char* likelihood;
  } cases[] = {
      {"a workstation",
       pci_table({"80863e0f", "80861533", "14e41657", "144da808", "10de1eb8"}),
       {},
       "not_detected"},
      {"an AWS .metal machine",
       pci_table({"80862020", "1d0fec20", "1d0f8061", "1d0fcd01"}),
       {device("cloud", "aws", 0, "PCI 1d0f:ec20"), device("cloud", "aws", 0, "PCI 1d0f:8061")},
       "not_detected"},
      {"a server with a DPU's virtio functions",
       pci_table({"80862020", "15b3a2d6", "1af41041", "1af41042"}),
       {device("guest", "unknown", 50, "PCI 1af4")},
       "possible"},
      {"no PCI at all", "", {}, "not_detected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    populate({{kPci, c.table}});
    const Result result = run();
    EXPECT_EQ(result.evidence, c.evidence);
    EXPECT_EQ(assess(result).likelihood, c.likelihood);
  }
}

// The FADT's OEM, which root may read: the monitors' own IDs name them, a
// cloud's firmware names the cloud, a board maker's nothing.
TEST_F(DevicesProbe, TheFadtsOemNamesTheMonitorThatWroteIt) {
  const struct {
    const char* name;
    std::string table;
    std::vector<Evidence> evidence;
  } cases[] = {
      {"Firecracker",
       fadt("FIRECK", "FCVMFADT"),
       {device("guest", "firecracker", 85, "ACPI FACP OEM FIRECK")}},
      {"QEMU", fadt("BOCHS", "BXPCFACP"), {device("guest", "qemu", 85, "ACPI FACP OEM BOCHS")}},
      {"Hyper-V", fadt("VRTUAL", "MICROSFT"), {device("guest", "hyperv", 85, "ACPI FACP OEM VRTUAL")}},
      {"VirtualBox", fadt("VBOX", "VBOXFACP"), {device("guest", "virtualbox", 85, "ACPI FACP OEM VBOX")}},
      {"Xen HVM", fadt("Xen", "HVM"), {device("guest", "xen", 85, "ACPI FACP OEM Xen")}},
      {"EC2, virtual or .metal",
       fadt("AMAZON", "AMZNFACP"),
       {device("cloud", "aws", 0, "ACPI FACP OEM AMAZON")}},
      {"a Dell server", fadt("DELL", "PE_SC3"), {}},
      {"an ASUS board", fadt("ALASKA", "A M I"), {}},
      {"a near miss", fadt("BOCHSX", "BXPCFACP"), {}},
      {"a header cut short", fadt("FIRECK", "FCVMFADT").substr(0, 35), {}},
      {"a length past the file", fadt("FIRECK", "FCVMFADT", 276, 4096), {}},
      {"another table's signature", "DSDT" + fadt("FIRECK", "FCVMFADT").substr(4), {}},
      {"NUL bytes", std::string(276, '\0'), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    populate({{kFadt, c.table}});
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", "ok"}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

// The names the hypervisors' virtual input devices carry, which any user
// may read; a real keyboard, mouse or touchpad names nothing, nor a name
// that only contains a maker's.
TEST_F(DevicesProbe, InputDevicesNameTheirMaker) {
  const struct {
    const char* name;
    std::string table;
    std::vector<Evidence> evidence;
  } cases[] = {
      {"QEMU's USB tablet and virtio keyboard",
       input_table({"AT Translated Set 2 keyboard", "QEMU QEMU USB Tablet", "QEMU Virtio Keyboard"}),
       {device("guest", "qemu", 85, "input device QEMU QEMU USB Tablet")}},
      {"VirtualBox",
       input_table({"VirtualBox USB Tablet", "VirtualBox mouse integration"}),
       {device("guest", "virtualbox", 85, "input device VirtualBox USB Tablet")}},
      {"VMware",
       input_table({"VMware VMware Virtual USB Mouse"}),
       {device("guest", "vmware", 85, "input device VMware VMware Virtual USB Mouse")}},
      {"Hyper-V",
       input_table({"AT Translated Set 2 keyboard", "Microsoft Vmbus HID-compliant Mouse"}),
       {device("guest", "hyperv", 85, "input device Microsoft Vmbus HID-compliant Mouse")}},
      {"Xen",
       input_table({"Xen Virtual Keyboard", "Xen Virtual Pointer"}),
       {device("guest", "xen", 85, "input device Xen Virtual Keyboard")}},
      // VMware's mouse protocol, which QEMU speaks too.
      {"the VMware mouse protocol",
       input_table({"ImPS/2 Generic Wheel Mouse", "VirtualPS/2 VMware VMMouse"}),
       {device("guest", "unknown", 80, "input device VirtualPS/2 VMware VMMouse")}},
      {"a laptop",
       input_table({"AT Translated Set 2 keyboard", "SynPS/2 Synaptics TouchPad", "Logitech USB Receiver",
                    "Power Button", "Video Bus"}),
       {}},
      {"makers' names inside others' names", input_table({"Not QEMU USB Tablet", "My VirtualBox Mouse"}), {}},
      {"a name line without its closing quote", "N: Name=\"QEMU QEMU USB Tablet\n", {}},
      {"a name line without its newline", "N: Name=\"QEMU QEMU USB Tablet\"", {}},
      {"a name past the first 16 KiB",
       std::string(1 << 20, '\n') + input_table({"QEMU QEMU USB Tablet"}),
       {}},
      {"NUL bytes", std::string(4096, '\0'), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    populate({{kInput, c.table}});
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", "ok"}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

// A Mac guest whose owner hid the hypervisor (VMware's
// hypervisor.cpuid.v0 = FALSE and SMBIOS.reflectHost, which copies the
// host's model) still has its hypervisor's PCI functions; a real Mac's
// functions (Apple's own, Intel's host bridges, Broadcom's Wi-Fi and
// Ethernet, AMD's GPUs) name nothing. IDs as the PCI ID registry and the
// hypervisors' sources give them, subsystems only where those say them.
TEST(DevicesMac, HiddenGuestsAreNamedByTheirFunctions) {
  constexpr std::uint16_t kNone = PciFunction::kNone;
  const struct {
    const char* name;
    std::vector<PciFunction> functions;
    std::vector<Evidence> evidence;
    const char* likelihood;
  } cases[] = {
      {"VMware Fusion, hidden: its 440BX chipset, VMCI, SVGA II, bridges, USB, e1000e, AHCI",
       {{0x8086, 0x7190, 0x15ad, 0x1976},
        {0x8086, 0x7191, kNone, kNone},
        {0x8086, 0x7110, 0x15ad, 0x1976},
        {0x8086, 0x7113, 0x15ad, 0x1976},
        {0x15ad, 0x0740, 0x15ad, 0x0740},
        {0x15ad, 0x0405, 0x15ad, 0x0405},
        {0x15ad, 0x0790, kNone, kNone},
        {0x15ad, 0x07a0, kNone, kNone},
        {0x15ad, 0x0774, 0x15ad, 0x1976},
        {0x15ad, 0x0770, 0x15ad, 0x0770},
        {0x15ad, 0x0779, 0x15ad, 0x0779},
        {0x8086, 0x10d3, 0x15ad, 0x07d0},
        {0x15ad, 0x07e0, 0x15ad, 0x07e0}},
       {device("guest", "vmware", 90, "PCI 15ad")},
       "very_likely"},
      {"Parallels Desktop: its tools device, video, balloon",
       {{0x1ab8, 0x4000, kNone, kNone}, {0x1ab8, 0x4005, kNone, kNone}, {0x1ab8, 0x4006, kNone, kNone}},
       {device("guest", "parallels", 90, "PCI 1ab8")},
       "very_likely"},
      {"VirtualBox: its graphics and guest service",
       {{0x80ee, 0xbeef, kNone, kNone}, {0x80ee, 0xcafe, kNone, kNone}},
       {device("guest", "virtualbox", 90, "PCI 80ee")},
       "very_likely"},
      {"QEMU or UTM on an Intel Mac, q35: xHCI, virtio network and disk",
       {{0x8086, 0x29c0, 0x1af4, 0x1100},
        {0x8086, 0x2918, 0x1af4, 0x1100},
        {0x1b36, 0x000d, 0x1af4, 0x1100},
        {0x1af4, 0x1041, 0x1af4, 0x1100},
        {0x1af4, 0x1042, 0x1af4, 0x1100}},
       {device("guest", "qemu", 85, "PCI 1b36"), device("guest", "unknown", 50, "PCI 1af4")},
       "likely"},
      {"QEMU with virtio alone",
       {{0x8086, 0x29c0, 0x1af4, 0x1100}, {0x1af4, 0x1041, 0x1af4, 0x1100}},
       {device("guest", "unknown", 50, "PCI 1af4")},
       "possible"},
      {"MacBook Pro 16-inch, 2019: Coffee Lake, T2, Apple's NVMe, Broadcom Wi-Fi, AMD GPU",
       {{0x8086, 0x3ec4, kNone, kNone},
        {0x8086, 0x1901, kNone, kNone},
        {0x1002, 0x7340, kNone, kNone},
        {0x106b, 0x1801, kNone, kNone},
        {0x106b, 0x1802, kNone, kNone},
        {0x106b, 0x2005, kNone, kNone},
        {0x14e4, 0x4464, kNone, kNone},
        {0x8086, 0x15ea, kNone, kNone}},
       {},
       "not_detected"},
      {"iMac, 2017: Kaby Lake, Broadcom Wi-Fi and Ethernet, AMD GPU",
       {{0x8086, 0x591f, kNone, kNone},
        {0x1002, 0x67ef, kNone, kNone},
        {0x14e4, 0x43ba, kNone, kNone},
        {0x14e4, 0x16b4, kNone, kNone}},
       {},
       "not_detected"},
      {"no PCI function", {}, {}, "not_detected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeRegistry registry;
    registry.set_pci_matching(test::FakeRegistry::PciMatching::succeeds);
    for (const PciFunction& f : c.functions) registry.add_pci_function(f);
    test::ScriptedProcessor processor;  // no brand string
    Result result;
    detect_devices(result, read_device_signs(processor, Cpu{}, registry));
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", "ok"}}));
    EXPECT_EQ(result.evidence, c.evidence);
    EXPECT_EQ(assess(result).likelihood, c.likelihood);
    EXPECT_EQ(registry.balance(), "");
  }
}

// "ok" where either the brand string or the PCI functions were read; a
// registry that cannot be asked leaves the brand string alone.
TEST(DevicesMac, EitherTheBrandOrTheFunctionsMakeTheProbeOk) {
  using Matching = test::FakeRegistry::PciMatching;
  const struct {
    const char* name;
    bool brand;
    Matching matching;
    const char* status;
    std::vector<Evidence> evidence;
  } cases[] = {
      {"both",
       true,
       Matching::succeeds,
       "ok",
       {device("guest", "qemu", 85, "CPUID brand QEMU Virtual CPU version 2.5+"),
        device("guest", "vmware", 90, "PCI 15ad")}},
      {"the functions alone", false, Matching::succeeds, "ok", {device("guest", "vmware", 90, "PCI 15ad")}},
      {"the brand alone",
       true,
       Matching::fails,
       "ok",
       {device("guest", "qemu", 85, "CPUID brand QEMU Virtual CPU version 2.5+")}},
      {"neither", false, Matching::fails, "unavailable", {}},
      {"neither, no iterator", false, Matching::null_iterator, "unavailable", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeRegistry registry;
    registry.add_pci_function({0x15ad, 0x0405, 0x15ad, 0x0405});
    registry.set_pci_matching(c.matching);
    test::ScriptedProcessor processor =
        c.brand ? branded(0x80000008, "QEMU Virtual CPU version 2.5+") : test::ScriptedProcessor();
    Result result;
    detect_devices(result, read_device_signs(processor, Cpu{}, registry));
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", c.status}}));
    EXPECT_EQ(result.evidence, c.evidence);
    EXPECT_EQ(registry.balance(), "");
  }
}

// The emulated devices' table, which any user sees listed: a guest of no
// named vendor; anything but a plain file there is not the table.
TEST_F(DevicesProbe, TheEmulatedDevicesTableIsAGuests) {
  const std::string waet = "/sys/firmware/acpi/tables/WAET";
  const struct {
    const char* name;
    std::map<std::string, std::string> files;
    std::vector<Evidence> evidence;
  } cases[] = {
      {"Hyper-V, VMware, QEMU", {{waet, "WAET"}}, {device("guest", "unknown", 80, waet.c_str())}},
      {"a folder in its place", {{waet + "/", ""}}, {}},
      {"a FIFO in its place", {{waet, "fifo"}}, {}},
      // Tables of Windows' own that physical firmware carries.
      {"a workstation's WSMT, WPBT and WDAT",
       {{"/sys/firmware/acpi/tables/WSMT", "WSMT"},
        {"/sys/firmware/acpi/tables/WPBT", "WPBT"},
        {"/sys/firmware/acpi/tables/WDAT", "WDAT"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    populate(c.files);
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", c.evidence.empty() ? "unavailable" : "ok"}}));
    EXPECT_EQ(result.evidence, c.evidence);
    EXPECT_EQ(assess(result).likelihood, c.evidence.empty() ? "unknown" : "likely");
  }
}

TEST_F(DevicesProbe, HostileTablesNameNothingOutsideTheirRows) {
  const std::string huge = [] {
    std::string lines;
    while (lines.size() < (1u << 20)) lines += pci_table({"80863e0f"});
    return lines + pci_table({"15ad0405"});
  }();
  const struct {
    const char* name;
    std::string content;
    const char* status;
    std::vector<Evidence> evidence;
  } cases[] = {
      // Only the first 16 KiB are read; the function past them is unseen.
      {"a megabyte of functions", huge, "ok", {}},
      {"a line cut short", "0000\t15ad04", "ok", {}},
      {"a last line without its newline", pci_table({"80863e0f"}) + "0008\t15ad0405\t0", "ok", {}},
      {"nine hex digits", "0000\t15ad04050\t0\n", "ok", {}},
      {"a sign in the number", "0000\t-5ad0405\t0\n", "ok", {}},
      {"NUL bytes", std::string("0000\t\0\0\0\0\0\0\0\0\t0\n", 13), "ok", {}},
      {"no tab", "000015ad0405\n", "ok", {}},
      {"a FIFO", "fifo", "unavailable", {}},
      {"a symlink to itself", "->devices", "unavailable", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    populate({{kPci, c.content}});
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"devices", c.status}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
  populate({});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"devices", "unavailable"}}));
}

}  // namespace
}  // namespace oxa
