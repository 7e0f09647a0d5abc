// SPDX-License-Identifier: MIT
// The scan over real and QEMU-captured structure tables of the shared
// fixtures folder (read in place, never copied into the project).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "evidence_rows.h"
#include "identity/smbios_scan.h"

namespace oxa {
namespace {

using test::cloud;
using test::Evidences;
using test::guest;
using test::product;
using test::vm_bit;

const std::filesystem::path kFolder = std::filesystem::path(OXA_FIXTURES_DIR) / "smbios";

struct FixtureCase {
  const char* file;
  const char* status;
  Evidences expected;  // in structure order of the table
};

const FixtureCase kFixtures[] = {
    // Bare metal: no identity string names a hypervisor or cloud.
    {"real-smbioslib-microsoft-surface-laptop3.bin", "ok", {}},
    {"real-sidero-dell-poweredge-r630.bin", "ok", {}},
    {"real-infrasim-dell-poweredge-r640.bin", "ok", {}},
    {"real-uroot-lenovo-thinkpad-t480s.bin", "ok", {}},
    {"real-uroot-supermicro-x9dbl.bin", "ok", {}},
    {"real-uroot-gigabyte-ga-ma74gmt-s2.bin", "ok", {}},
    {"real-uroot-toshiba-satellite-pro-l70.bin", "ok", {}},
    {"real-sidero-asrockrack-x570d4u.bin", "ok", {}},
    {"real-uroot-synology-rs3614xsp.bin", "ok", {}},
    {"real-infrasim-intel-s2600kp.bin", "ok", {}},
    // System "VMware, Inc." / "VMware Virtual Platform"; the OEM strings
    // mentioning a virtual machine are stepped over.
    {"real-uroot-vmware-virtual-platform.bin", "ok", {guest("vmware", "vmware")}},
    // Product "Virtual Machine" in system and baseboard; the structure list
    // breaks (length byte 0) after the fifth structure.
    {"real-sidero-hyperv-gen1.bin", "error", {product()}},
    // SeaBIOS type 0 with the VM bit clear, system manufacturer "QEMU".
    {"qemu-pc-default.bin", "ok", {guest("qemu", "qemu")}},
    {"qemu-q35-default.bin", "ok", {guest("qemu", "qemu")}},
    // QEMU's own type 0 comes first, with no strings and the VM bit set.
    {"qemu-pc-type0-uefi-on.bin", "ok", {vm_bit(), guest("qemu", "qemu")}},
    // OVMF puts its type 0 near the end.
    {"qemu-q35-ovmf-default.bin", "ok", {guest("qemu", "qemu"), vm_bit()}},
    {"qemu-pc-aws-nitro-like.bin", "ok", {cloud("aws", "amazon ec2"), vm_bit()}},
    {"qemu-pc-aws-xen-like.bin", "ok", {guest("xen", "xen"), vm_bit(), guest("xen", "hvm domu")}},
    {"qemu-q35-ovmf-azure-gen2-like.bin",
     "ok",
     {vm_bit(), product(), guest("hyperv", "hyper-v"), cloud("azure", "7783-7084-3265-9085-8269-3286-77")}},
    {"qemu-q35-gce-like.bin", "ok", {cloud("gcp", "google compute engine")}},
    {"qemu-pc-virtualbox-like.bin",
     "ok",
     {guest("virtualbox", "innotek gmbh"), guest("virtualbox", "virtualbox")}},
    {"qemu-pc21-ovmf-alibaba-ecs-like.bin", "ok", {cloud("alibaba", "alibaba cloud"), vm_bit()}},
    // Chassis manufacturer "QEMU" is not examined: only the asset tag is.
    {"qemu-q35-openstack-nova-like.bin",
     "ok",
     {guest("openstack", "openstack"), cloud("openstack", "openstack")}},
    // Every string claims Dell; only the VM bit gives it away.
    {"qemu-q35-dell-poweredge-r640-like.bin", "ok", {vm_bit()}},
    {"qemu-pc-dell-poweredge-r640-like-seabios-type0.bin", "ok", {}},
};

bool fixtures_required() {
  const char* value = std::getenv("OXA_REQUIRE_FIXTURES");
  return value != nullptr && std::string(value) == "1";
}

std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot open " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SmbiosFixtures, EachTableYieldsItsFindings) {
  if (!std::filesystem::is_directory(kFolder)) {
    if (fixtures_required()) FAIL() << "fixtures folder missing: " << kFolder;
    GTEST_SKIP() << "fixtures folder missing: " << kFolder;
  }
  for (const FixtureCase& c : kFixtures) {
    SCOPED_TRACE(c.file);
    const std::string table = read_bytes(kFolder / c.file);
    ASSERT_FALSE(table.empty());
    Result r;
    smbios(r, table);
    EXPECT_EQ(r.evidence, c.expected);
    EXPECT_EQ(r.probes, (std::vector<Probe>{{"firmware", c.status}}));
  }
}

}  // namespace
}  // namespace oxa
