#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the hand-made seeds of the fuzz targets into the folders beside
this script, one folder per target. The binary layouts are described at the
top of each target's source; rerun this after changing one of them."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


# --- fuzz_smbios: raw structure tables -------------------------------------
def structure(type_, formatted, strings=()):
    """formatted: the bytes after the 4-byte header."""
    header = bytes([type_, 4 + len(formatted), 0x00, 0x01])
    tail = b"".join(s + b"\0" for s in strings) + b"\0" if strings else b"\0\0"
    return header + bytes(formatted) + tail


END = structure(127, b"")
bios_vm = bytearray(0x14 - 4)
bios_vm[0x04 - 4] = 1          # vendor: string 1
bios_vm[0x13 - 4] = 0x10       # the virtual-machine characteristic
write("fuzz_smbios", "end_of_table.bin", END)
write("fuzz_smbios", "bios_vm_bit.bin", structure(0, bios_vm, [b"SeaBIOS"]) + END)
write("fuzz_smbios", "system_qemu.bin",
      structure(1, [1, 2, 3, 0], [b"QEMU", b"Standard PC (Q35 + ICH9, 2009)", b"pc-q35-7.2"]) + END)
write("fuzz_smbios", "baseboard_short.bin", structure(2, [1], [b"Xen HVM domU", b"ignored"]) + END)
write("fuzz_smbios", "chassis_asset_tag.bin",
      structure(3, [0, 0, 0, 0, 1], [b"Amazon EC2"]) + structure(11, [1], [b"VMware"]) + END)
write("fuzz_smbios", "cut_off.bin", structure(1, [1, 0, 0], [b"VMware, Inc."])[:-1])

# --- fuzz_markers: identity strings ----------------------------------------
for name, text in [("vmware", "VMware, Inc."), ("virtualmac", "VirtualMac2,1"),
                   ("xen", "Xen HVM domU"), ("product", "Virtual Machine"),
                   ("openstack", "OpenStack Nova"), ("overlap", "kvmkvm kvm"),
                   ("azure", "7783-7084-3265-9085-8269-3286-77"), ("high_bytes", "\xc3qemu\xa9")]:
    write("fuzz_markers", name + ".txt", text)

# --- fuzz_report: a duration, then entries ---------------------------------
def word(i):
    return bytes([i])


def raw(b):
    return bytes([0x80 | (len(b) >> 8), len(b) & 0xFF]) + b


def evidence(source, category, vendor, weight, detail):
    return b"\0" + source + category + vendor + weight + detail


def probe(source, status):
    return b"\1" + source + status


CPU, SYSTEM, FIRMWARE, TIMING = word(1), word(2), word(3), word(4)
GUEST, HOST, CLOUD = word(7), word(8), word(9)
OK = word(12)
W95, W50 = bytes([11]), bytes([3])
write("fuzz_report", "worked_example.bin", struct.pack("<q", 1234)
      + evidence(CPU, GUEST, word(16), W95, raw(b"KVMKVMKVM")) + probe(CPU, OK) + probe(TIMING, word(13)))
write("fuzz_report", "corroborated.bin", struct.pack("<q", -1)
      + evidence(CPU, GUEST, word(17), W50, raw(b"Microsoft Hv")) + evidence(CPU, HOST, word(17), W50, raw(b"x"))
      + evidence(FIRMWARE, GUEST, word(18), W95, raw(b"vmware")) + evidence(SYSTEM, GUEST, word(15), W95, raw(b""))
      + evidence(FIRMWARE, CLOUD, word(19), W50, raw(bytes(range(256)))) + probe(SYSTEM, OK))
write("fuzz_report", "empty.bin", b"")

# --- fuzz_detection: the world of one run ----------------------------------
def regs(eax, text=b"", ecx=0, edx=0):
    if text:
        b = text.ljust(12, b"\0")
        return struct.pack("<4I", eax, *struct.unpack("<3I", b))
    return struct.pack("<4I", eax, 0, ecx, edx)


def timestamps(baseline, cpuid):
    """Samples of t0, t1 (baseline apart), t2 (1 later), t3 (cpuid later)."""
    steps = []
    for sample in range(40):
        if sample:
            steps.append(1)
        steps += [baseline, 1, cpuid]
    scale = 100
    return struct.pack("<QI", 1 << 40, scale) + struct.pack("<159b", *steps)


def prop(kind, text=b"", pad=0, fill=b"\0"):
    if kind in (1, 3):
        return bytes([kind]) + struct.pack("<H", len(text)) + text + struct.pack("<H", pad) + fill
    if kind == 4:
        return bytes([4]) + struct.pack("<q", -5)
    return bytes([kind])


def world(flags, vmm, leaves, ticks, props):
    return (bytes([flags]) + struct.pack("<ii", vmm, 0) + struct.pack("<QQ", 5_000_000_000, 1_234_567)
            + b"".join(leaves) + ticks + b"".join(props))


TSC = 0x04000010
HV = 1 << 31
plain = [regs(0xD), regs(0, ecx=0, edx=TSC), regs(0), regs(0), regs(0), regs(0)]
kvm = [regs(0xD), regs(0, ecx=HV, edx=TSC), regs(0x40000001, b"KVMKVMKVM"), regs(0), regs(0), regs(0)]
hyperv_root = [regs(0xD), regs(0, ecx=HV, edx=TSC), regs(0x4000000B, b"Microsoft Hv"),
               regs(0x31237648), struct.pack("<4I", 0, 1, 0, 0), regs(0x40000101, b"KVMKVMKVM")]
write("fuzz_detection", "bare_metal_slow_cpuid.bin",
      world(0b001, 0, plain, timestamps(1, 30), [prop(1, b"Dell Inc."), prop(1, b"PowerEdge R640"), prop(0)]))
write("fuzz_detection", "kvm_guest.bin",
      world(0b011, 1, kvm, timestamps(1, 2), [prop(1, b"QEMU"), prop(3, b"Standard PC\0"), prop(5)]))
write("fuzz_detection", "hyperv_root.bin",
      world(0b001, 0, hyperv_root, timestamps(1, 30),
            [prop(2), prop(3, b"Virtual Machine", 4082, b"x"), prop(4)]))
write("fuzz_detection", "no_service.bin", world(0b100, 0, plain, timestamps(0, 0), []))
# A QEMU guest hiding CPUID's bit: its processor model's brand string, in
# the extended leaves that follow the registry's properties.
brand = b"QEMU Virtual CPU version 2.5+".ljust(48, b"\0")
write("fuzz_detection", "qemu_brand.bin",
      world(0b001, 0, plain, timestamps(1, 30), [prop(1, b"ASUSTeK COMPUTER INC."), prop(0), prop(0)])
      + regs(0x80000008) + brand)
# A VMware Mac guest hiding CPUID's bit and reflecting the host's model: no
# brand string (leaf 0x80000000 says none), and the PCI functions of its
# registry after it, each ID 4 bytes of data (None: absent).


def pci(matching, *functions):
    out = bytes([matching]) + struct.pack("<H", len(functions))
    for function in functions:
        out += b"".join(b"\0" if i is None else b"\1" + struct.pack("<I", i) for i in function)
    return out


write("fuzz_detection", "vmware_mac_pci.bin",
      world(0b001, 1, plain, timestamps(1, 30),
            [prop(3, b"Apple Inc.\0"), prop(3, b"MacPro7,1\0"), prop(3, b"MacPro7,1\0")])
      + regs(0) * 4
      + pci(2, (0x8086, 0x7190, 0x15AD, 0x1976), (0x8086, 0x7191, None, None), (0x15AD, 0x0740, 0x15AD, 0x0740),
            (0x15AD, 0x0405, 0x15AD, 0x0405), (0x15AD, 0x07A0, None, None), (0x8086, 0x10D3, 0x15AD, 0x07D0)))
