// SPDX-License-Identifier: MIT
#include "identity/firmware_markers.h"

#include <gtest/gtest.h>

#include <string>

#include "evidence_rows.h"

namespace oxa {
namespace {

using test::cloud;
using test::Evidences;
using test::guest;
using test::product;

struct MarkerCase {
  std::string text;
  Evidences expected;
};

const MarkerCase kMarkerCases[] = {
    {"", {}},
    {"VMware, Inc.", {guest("vmware", "vmware")}},
    {"VMware7,1", {}},  // a digit right after the needle
    {"VirtualMac2,1", {guest("apple", "virtualmac")}},
    {"MyVirtualMac2,1", {}},  // the left test still applies to "virtualmac"
    {"innotek GmbH", {guest("virtualbox", "innotek gmbh")}},
    {"Xen HVM domU", {guest("xen", "xen"), guest("xen", "hvm domu")}},
    {"kvmkvm kvm", {guest("kvm", "kvm")}},
    {"kvmkvm", {}},
    {"QEMU_x", {guest("qemu", "qemu")}},
    {"QEMU64", {}},
    {"xQEMU", {}},
    // Table order, not text order.
    {"KVM/QEMU", {guest("qemu", "qemu"), guest("kvm", "kvm")}},
    {"Virtual Machine", {product()}},
    {"VIRTUAL MACHINE", {product()}},
    {"Microsoft Virtual Machine", {}},
    {"Virtual Machine ", {}},
    {"Virtual  Machine", {}},
    {std::string("Virtual Machine\0", 16), {}},
    {"OpenStack Nova", {guest("openstack", "openstack"), cloud("openstack", "openstack")}},
    {"Amazon EC2", {cloud("aws", "amazon ec2")}},
    {"xamazon ec2x", {cloud("aws", "amazon ec2")}},
    {"Google Compute Engine / Alibaba Cloud ECS",
     {cloud("gcp", "google compute engine"), cloud("alibaba", "alibaba cloud")}},
    {"7783-7084-3265-9085-8269-3286-77", {cloud("azure", "7783-7084-3265-9085-8269-3286-77")}},
    {"7783-7084-3265-9085-8269-3286-7", {}},
    {"Hyper-V UEFI Release v4.1", {guest("hyperv", "hyper-v")}},
    {"Cloud Hypervisor", {guest("cloud-hypervisor", "cloud hypervisor")}},
    {"Apple Virtualization Platform", {guest("apple", "apple virtualization")}},
    // Bytes from 0x80 up are boundaries and are not lower-cased.
    {"\x80qemu\xff", {guest("qemu", "qemu")}},
    {"\xC3\x89QEMU", {guest("qemu", "qemu")}},
    // A NUL is a boundary like any other non-word byte, and splits a needle.
    {std::string("vmware\0x", 8), {guest("vmware", "vmware")}},
    {std::string("qe\0mu", 5), {}},
    // Every row is tried on every call: all 18, in table order, then the cloud row.
    {"hvm domu kubevirt openstack crosvm firecracker cloud hypervisor virtualmac apple "
     "virtualization hyper-v bochs bhyve xen kvm qemu parallels innotek gmbh virtualbox vmware",
     {guest("vmware", "vmware"), guest("virtualbox", "virtualbox"), guest("virtualbox", "innotek gmbh"),
      guest("parallels", "parallels"), guest("qemu", "qemu"), guest("kvm", "kvm"), guest("xen", "xen"),
      guest("bhyve", "bhyve"), guest("bochs", "bochs"), guest("hyperv", "hyper-v"),
      guest("apple", "apple virtualization"), guest("apple", "virtualmac"),
      guest("cloud-hypervisor", "cloud hypervisor"), guest("firecracker", "firecracker"),
      guest("crosvm", "crosvm"), guest("openstack", "openstack"), guest("kubevirt", "kubevirt"),
      guest("xen", "hvm domu"), cloud("openstack", "openstack")}},
};

TEST(FirmwareMarker, RecordsTheFindingsOfEachText) {
  for (const MarkerCase& c : kMarkerCases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    Result r;
    firmware_marker(r, "firmware", c.text);
    EXPECT_EQ(r.evidence, c.expected);
    EXPECT_TRUE(r.probes.empty());
  }
}

TEST(FirmwareMarker, SecondCallWithTheSameTextAddsNothing) {
  Result once;
  firmware_marker(once, "system", "OpenStack Nova");
  Result twice;
  firmware_marker(twice, "system", "OpenStack Nova");
  firmware_marker(twice, "system", "OpenStack Nova");
  EXPECT_EQ(twice.evidence, once.evidence);
  ASSERT_EQ(once.evidence.size(), 2u);
  EXPECT_EQ(once.evidence[0].source, "system");  // the caller names the source
}

TEST(FirmwareCloudMarker, MatchesOnlyTheCloudTable) {
  const MarkerCase cases[] = {
      {"OpenStack Nova", {cloud("openstack", "openstack")}},
      {"VMware, Inc.", {}},
      {"Virtual Machine", {}},
      {"Amazon EC2 on Alibaba Cloud", {cloud("aws", "amazon ec2"), cloud("alibaba", "alibaba cloud")}},
  };
  for (const MarkerCase& c : cases) {
    SCOPED_TRACE(c.text);
    Result r;
    firmware_cloud_marker(r, "firmware", c.text);
    EXPECT_EQ(r.evidence, c.expected);
  }
}

}  // namespace
}  // namespace oxa
