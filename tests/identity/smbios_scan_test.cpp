// SPDX-License-Identifier: MIT
#include "identity/smbios_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "evidence_rows.h"
#include "smbios_structures.h"

namespace oxa {
namespace {

using test::bios;
using test::cloud;
using test::Evidences;
using test::guest;
using test::product;
using test::structure;
using test::vm_bit;

const std::string kEnd = structure(127, {});
const std::string kQemuSystem = structure(1, {1, 0, 0}, {"QEMU"});

struct ScanCase {
  const char* name;
  std::string table;
  Evidences expected;
  const char* status;
};

const ScanCase kScanCases[] = {
    // The walk and its faults.
    {"empty table", "", {}, "error"},
    {"End-of-Table alone", kEnd, {}, "ok"},
    {"last structure ends the data, no End-of-Table", kQemuSystem, {guest("qemu", "qemu")}, "ok"},
    {"bytes after End-of-Table are not examined", kEnd + kQemuSystem + "\x01", {}, "ok"},
    {"one byte left", kQemuSystem + std::string(1, '\0'), {guest("qemu", "qemu")}, "error"},
    {"three bytes left", kQemuSystem + std::string(3, '\x7f'), {guest("qemu", "qemu")}, "error"},
    {"four zero bytes left", kQemuSystem + std::string(4, '\0'), {guest("qemu", "qemu")}, "error"},
    {"length byte 3", std::string("\x01\x03\x00\x00\x00\x00", 6), {}, "error"},
    {"length byte 0 after a structure",
     kQemuSystem + std::string("\x00\x00\x00\x00\x00\x00", 6),
     {guest("qemu", "qemu")},
     "error"},
    {"formatted area reaches the last byte", std::string("\x7f\x05\x00\x00\x00", 5), {}, "error"},
    {"formatted area leaves one byte", std::string("\x7f\x04\x00\x00\x00", 5), {}, "error"},
    {"formatted area leaves exactly the NUL pair", std::string("\x7f\x04\x00\x00\x00\x00", 6), {}, "ok"},
    {"string set without its NUL pair", std::string("\x01\x05\x00\x00\x01QEMU\x00", 10), {}, "error"},
    {"End-of-Table without its NUL pair", std::string("\x7f\x04\x00\x00x\x00", 6), {}, "error"},
    {"unclosed set after a good structure",
     kQemuSystem + std::string("\x01\x05\x00\x00\x01VMware\x00", 12),
     {guest("qemu", "qemu")},
     "error"},

    // The strings of each type.
    {"system manufacturer QEMU", kQemuSystem + kEnd, {guest("qemu", "qemu")}, "ok"},
    {"system product Virtual Machine",
     structure(1, {1, 2, 3}, {"Microsoft Corporation", "Virtual Machine", "7.0"}) + kEnd,
     {product()},
     "ok"},
    {"system fields in order manufacturer, product, version",
     structure(1, {3, 2, 1}, {"QEMU", "HVM domU", "Xen"}) + kEnd,
     {guest("xen", "xen"), guest("xen", "hvm domu"), guest("qemu", "qemu")},
     "ok"},
    {"baseboard strings",
     structure(2, {1, 2, 0}, {"Oracle Corporation", "VirtualBox"}) + kEnd,
     {guest("virtualbox", "virtualbox")},
     "ok"},
    {"same vendor in system and baseboard",
     structure(1, {1, 0, 0}, {"VMware, Inc."}) + structure(2, {1, 0, 0}, {"VMware, Inc."}) + kEnd,
     {guest("vmware", "vmware")},
     "ok"},
    {"BIOS vendor", bios(0x14, 0x00, {"innotek GmbH"}) + kEnd, {guest("virtualbox", "innotek gmbh")}, "ok"},
    {"BIOS vendor also meets the cloud table",
     bios(0x18, 0x04, {"Amazon EC2"}) + kEnd,
     {cloud("aws", "amazon ec2")},
     "ok"},
    {"VM bit after the vendor's findings",
     bios(0x14, 0x14, {"Xen"}) + kEnd,
     {guest("xen", "xen"), vm_bit()},
     "ok"},
    {"VM bit whatever the strings", bios(0x1a, 0x10, {"Dell Inc."}) + kEnd, {vm_bit()}, "ok"},
    {"VM bit clear", bios(0x18, 0xef, {"Dell Inc."}) + kEnd, {}, "ok"},
    {"BIOS of length 0x13: the byte after it is a string", bios(0x13, 0, {"\x10\x10", "x"}) + kEnd, {}, "ok"},
    {"BIOS of length 4 has no vendor field", structure(0, {}, {"QEMU"}) + kEnd, {}, "ok"},
    // Chassis: manufacturer 04h, type 05h, version 06h, serial 07h, asset tag 08h.
    {"chassis asset tag with amazon ec2",
     structure(3, {0, 1, 0, 0, 1}, {"my Amazon EC2 box"}) + kEnd,
     {cloud("aws", "amazon ec2")},
     "ok"},
    {"chassis asset tag VMware", structure(3, {1, 1, 1, 1, 1}, {"VMware"}) + kEnd, {}, "ok"},
    {"chassis manufacturer is not examined",
     structure(3, {1, 1, 0, 0, 2}, {"Amazon EC2", "none"}) + kEnd,
     {},
     "ok"},
    {"chassis asset tag of Azure",
     structure(3, {1, 1, 0, 0, 2}, {"Microsoft Corporation", "7783-7084-3265-9085-8269-3286-77"}) + kEnd,
     {cloud("azure", "7783-7084-3265-9085-8269-3286-77")},
     "ok"},
    // Length 8: the byte at 08h is the first string's, and would name it.
    {"chassis of length 8 has no asset tag",
     structure(3, {0, 1, 0, 0}, {"\x01 Amazon EC2"}) + kEnd,
     {},
     "ok"},

    // The string rule.
    {"string number 0", structure(1, {0, 0, 0}, {"QEMU"}) + kEnd, {}, "ok"},
    {"string number past the set", structure(1, {0, 2, 0}, {"QEMU"}) + kEnd, {}, "ok"},
    {"string number 255", structure(1, {255, 0, 0}, {"a", "b", "QEMU"}) + kEnd, {}, "ok"},
    // Number 3 of a one-string set must not reach into the next structure.
    {"string walk stops at the NUL pair",
     structure(1, {3, 0, 0}, {"Acme"}) + structure(11, {1}, {"QEMU"}) + kEnd,
     {},
     "ok"},
    {"empty string set", structure(1, {1, 1, 1}) + kEnd, {}, "ok"},
    // Length 5: the bytes at 05h and 06h are the first string, whose byte 3
    // would name "QEMU" if read as a string number.
    {"system of length 5 reads only the manufacturer",
     structure(1, {2}, {"\x03\x03", "Acme", "QEMU"}) + kEnd,
     {},
     "ok"},
    {"system of length 5 with a matching manufacturer",
     structure(1, {2}, {"\x03\x03", "QEMU", "VMware"}) + kEnd,
     {guest("qemu", "qemu")},
     "ok"},

    // Other types are stepped over.
    {"OEM strings", structure(11, {1}, {"VMware", "QEMU"}) + kEnd, {}, "ok"},
    {"types 4, 126, 128, 255",
     structure(4, {1, 1, 1, 1}, {"QEMU"}) + structure(126, {1, 1, 1}, {"Xen"}) +
         structure(128, {1, 1, 1}, {"KVM"}) + structure(255, {1, 1, 1, 1, 1}, {"Amazon EC2"}) + kEnd,
     {},
     "ok"},
};

TEST(SmbiosScan, RecordsFindingsAndOneProbe) {
  for (const ScanCase& c : kScanCases) {
    SCOPED_TRACE(c.name);
    Result r;
    smbios(r, c.table);
    EXPECT_EQ(r.evidence, c.expected);
    EXPECT_EQ(r.probes, (std::vector<Probe>{{"firmware", c.status}}));
  }
}

TEST(SmbiosScan, ReadsNothingPastTheView) {
  // The caller's buffer goes on with a NUL that would close the set; the view
  // stops one byte short of it.
  const std::string buffer = kQemuSystem;
  Result r;
  smbios(r, std::string_view(buffer).substr(0, buffer.size() - 1));
  EXPECT_TRUE(r.evidence.empty());
  EXPECT_EQ(r.probes, (std::vector<Probe>{{"firmware", "error"}}));
}

TEST(SmbiosScan, AppendsToEvidenceAlreadyPresent) {
  Result r;
  r.add("firmware", "guest", "qemu", 85, "qemu");
  r.probe("cpu", "ok");
  smbios(r, kQemuSystem + structure(1, {1, 0, 0}, {"Xen"}) + kEnd);
  EXPECT_EQ(r.evidence, (Evidences{guest("qemu", "qemu"), guest("xen", "xen")}));
  EXPECT_EQ(r.probes, (std::vector<Probe>{{"cpu", "ok"}, {"firmware", "ok"}}));
}

}  // namespace
}  // namespace oxa
