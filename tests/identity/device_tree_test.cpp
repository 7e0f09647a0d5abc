// SPDX-License-Identifier: MIT
// The "firmware" probe on Linux: the DMI identity, the SMBIOS table root
// may read, and the device tree where both are mute, read from a fake root
// through the native files, hostile files in the table's and the tree's
// places.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/assessment.h"
#include "core/evidence.h"
#include "evidence_rows.h"
#include "identity/platform_probe.h"
#include "platform/posix/registry_dmi.h"
#include "smbios_structures.h"
#include "support/fake_root.h"
#include "support/rooted_system.h"

namespace oxa {
namespace {

using namespace std::string_literals;

constexpr char kCompatible[] = "/sys/firmware/devicetree/base/compatible";
constexpr char kHypervisor[] = "/sys/firmware/devicetree/base/hypervisor/compatible";
constexpr char kDmiVendor[] = "/sys/class/dmi/id/sys_vendor";
constexpr char kSmbiosTable[] = "/sys/firmware/dmi/tables/DMI";

class DeviceTreeTest : public test::FakeRootTest {
 protected:
  // After what the probes before the firmware found.
  Result run(Result result = {}) {
    const std::string root = root_.string();
    const std::string dmi = at("/sys/class/dmi/id").string();
    test::RootedSystem system(root.c_str());
    DmiRegistry registry(dmi.c_str());
    detect_firmware(result, registry, system);
    return result;
  }
};

Evidence finding(const char* vendor, std::int32_t weight, std::string detail) {
  return {"firmware", "guest", vendor, std::move(detail), weight};
}

TEST_F(DeviceTreeTest, CompatibleListsNameTheBoardAndXen) {
  const std::string virt = kCompatible + ": linux,dummy-virt"s;
  const std::string xen = kHypervisor + ": xen,xen"s;
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
    const char* status;
    std::vector<Evidence> evidence;
  };
  const Case cases[] = {
      {"QEMU's virt board", {{kCompatible, "linux,dummy-virt\0"s}}, "ok", {finding("unknown", 80, virt)}},
      {"an entry after the first",
       {{kCompatible, "vendor,board\0linux,dummy-virt\0"s}},
       "ok",
       {finding("unknown", 80, virt)}},
      {"a Xen guest",
       {{kCompatible, "xen,xenvm-4.17\0xen,xenvm\0"s}, {kHypervisor, "xen,xen-4.17\0xen,xen\0"s}},
       "ok",
       {finding("xen", 90, xen)}},
      {"a physical board", {{kCompatible, "raspberrypi,4-model-b\0brcm,bcm2711\0"s}}, "ok", {}},
      {"look-alikes", {{kCompatible, "linux,dummy-virtual\0xlinux,dummy-virt\0"s}}, "ok", {}},
      // The hypervisor node counts only in a tree whose root was read.
      {"a hypervisor node alone", {{kHypervisor, "xen,xen\0"s}}, "unavailable", {}},
      // Malformed lists are no identity: unended, cut at the read limit,
      // empty; and what is no plain file.
      {"no final NUL", {{kCompatible, "linux,dummy-virt"}}, "unavailable", {}},
      {"a megabyte",
       {{kCompatible, std::string(1 << 20, '\0').insert(0, "linux,dummy-virt")}},
       "unavailable",
       {}},
      {"empty", {{kCompatible, ""}}, "unavailable", {}},
      {"a FIFO", {{kCompatible, "fifo"}}, "unavailable", {}},
      {"a symlink to a device", {{kCompatible, "->/dev/zero"}}, "unavailable", {}},
      {"a folder", {{kCompatible + "/"s, ""}}, "unavailable", {}},
      // A system booted with ACPI shows DMI: the tree is not looked at.
      {"DMI speaks first",
       {{kDmiVendor, "QEMU\n"}, {kCompatible, "linux,dummy-virt\0"s}},
       "ok",
       {{"firmware", "guest", "qemu", "qemu", 85}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    populate(c.files);
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"firmware", c.status}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

// The table root may read: a guest that copied a real board's strings keeps
// the BIOS's "virtual machine" characteristic; what the identity said is not
// said twice; bare metal's table names nothing; a table that is no table is
// an error only where nothing else was read.
TEST_F(DeviceTreeTest, TheSmbiosTableCountsBesideTheIdentity) {
  using test::bios;
  using test::structure;
  const std::string end = structure(127, {});
  const std::string board = structure(1, {1, 2, 0}, {"ASUSTeK COMPUTER INC.", "PRIME B450M-A"});
  const std::string hidden = bios(0x18, 0x10, {"American Megatrends Inc."}) + board + end;
  const std::string metal =
      bios(0x18, 0x00, {"Dell Inc."}) + structure(1, {1, 2, 0}, {"Dell Inc.", "PowerEdge R650"}) + end;
  const std::string qemu =
      bios(0x18, 0x10, {"SeaBIOS"}) + structure(1, {1, 2, 0}, {"QEMU", "Standard PC"}) + end;
  std::string huge = hidden.substr(0, hidden.size() - end.size());
  while (huge.size() < (1u << 20)) huge += structure(17, {0, 0}, {"DIMM"});
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
    const char* status;
    std::vector<Evidence> evidence;
    const char* likelihood;
  };
  const Case cases[] = {
      {"a hidden guest (copied board strings)",
       {{kSmbiosTable, hidden}},
       "ok",
       {test::vm_bit()},
       "very_likely"},
      {"a default QEMU guest, DMI said it first",
       {{kDmiVendor, "QEMU\n"}, {kSmbiosTable, qemu}},
       "ok",
       {test::guest("qemu", "qemu"), test::vm_bit()},
       "very_likely"},
      {"a bare-metal server", {{kSmbiosTable, metal}}, "ok", {}, "not_detected"},
      // Read up to its limit: what its first structures said counts.
      {"a table past the read limit", {{kSmbiosTable, huge}}, "ok", {test::vm_bit()}, "very_likely"},
      {"a table cut inside a structure",
       {{kSmbiosTable, hidden.substr(0, hidden.size() - 3)}},
       "error",
       {test::vm_bit()},
       "very_likely"},
      {"NUL bytes", {{kSmbiosTable, std::string(64, '\0')}}, "error", {}, "unknown"},
      {"garbage beside DMI's identity",
       {{kDmiVendor, "Dell Inc.\n"}, {kSmbiosTable, "\x01"}},
       "ok",
       {},
       "not_detected"},
      // A table that could not be read leaves the tree to speak.
      {"a FIFO, then the tree",
       {{kSmbiosTable, "fifo"}, {kCompatible, "linux,dummy-virt\0"s}},
       "ok",
       {finding("unknown", 80, kCompatible + ": linux,dummy-virt"s)},
       "likely"},
      {"a walked table silences the tree",
       {{kSmbiosTable, metal}, {kCompatible, "linux,dummy-virt\0"s}},
       "ok",
       {},
       "not_detected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    populate(c.files);
    const Result result = run();
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"firmware", c.status}}));
    EXPECT_EQ(result.evidence, c.evidence);
    EXPECT_EQ(assess(result).likelihood, c.likelihood);
  }
}

// Xen puts its node in its control domain's tree too: where the kernel
// probe found that host, the node names no guest. Another vendor's host
// does not hide it.
TEST_F(DeviceTreeTest, XensNodeInItsControlDomainIsNoGuest) {
  populate({{kCompatible, std::string("xlnx,zynqmp-zcu102\0xlnx,zynqmp\0", 31)},
            {kHypervisor, std::string("xen,xen-4.17\0xen,xen\0", 21)}});
  Result dom0;
  dom0.add("system", "host", "xen", 90, "/sys/hypervisor/type: xen");
  EXPECT_EQ(run(dom0).evidence.size(), 1u);
  Result root_partition;
  root_partition.add("cpu", "host", "hyperv", 0, "root partition privileges");
  EXPECT_EQ(run(root_partition).evidence.back(), finding("xen", 90, std::string(kHypervisor) + ": xen,xen"));
}

}  // namespace
}  // namespace oxa
