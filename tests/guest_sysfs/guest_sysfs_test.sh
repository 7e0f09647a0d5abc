#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# oxa-detect run for real with a fake /sys bound over the real one in a
# mount namespace of its own, the files an unprivileged process of an arm64
# machine sees there:
#   dmi         a QEMU/KVM guest booted with firmware: DMI identity, the
#               host's own MIDR, the arch timer, fw_cfg and KVM's PTP clock
#   devicetree  the same guest booted without ACPI (QEMU's "virt" board, a
#               direct kernel boot): no DMI, the device tree's root
#               compatible instead
#   bare_metal  an arm64 server: DMI of its maker, the same MIDR and timer
#   hidden_*    guests whose owner hid them (CPUID's bit off, a real board's
#               DMI strings copied): QEMU/KVM, VMware, VirtualBox, Hyper-V
#               and Xen, each with the PCI functions and input devices its
#               hypervisor gives it, in the kernel's tables that any user
#               reads (/proc/bus/pci/devices, /proc/bus/input/devices)
# The guests must name "qemu" and "kvm", the hidden ones their vendor at
# least "likely", the server no hypervisor. The
# point is the aarch64 tool under the emulator, which reads these files as
# it would on arm64; the x86-64 tool reads the same files but also asks its
# processor, which answers for the machine this test runs on, not for /sys:
# PROCESSOR_SOURCES lists the evidence sources that do so ("cpu,timing" on
# x86-64, "none" elsewhere), whose findings are left out of the checks.
# Needs root and unshare; exits 77 where there are none.
#
#   guest_sysfs_test.sh OXA_DETECT_COMMAND SETTING PROCESSOR_SOURCES
set -euo pipefail

tool=$1
setting=$2
processor_sources=$3
# expected: the hypervisors the files must name, "none" for bare metal.
case $setting in
  dmi | devicetree) expected=qemu,kvm ;;
  bare_metal) expected=none ;;
  hidden_qemu) expected=qemu ;;
  hidden_vmware) expected=vmware ;;
  hidden_virtualbox) expected=virtualbox ;;
  hidden_hyperv) expected=hyperv ;;
  hidden_xen) expected=xen ;;
  *) echo "unknown setting $setting" >&2; exit 2 ;;
esac
# shellcheck source-path=SCRIPTDIR source=../support/mount_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/mount_namespace.sh"
require_mount_namespace

tree=$(mktemp -d "${TMPDIR:-/tmp}/oxa-sysfs.XXXXXX")
trap 'rm -rf "$tree" "$tree.pci" "$tree.input"' EXIT

# put PATH TEXT: a file of the fake /sys holding TEXT and a newline, as
# sysfs attributes do.
put() {
  mkdir -p "$(dirname "$tree$1")"
  printf '%s\n' "$2" >"$tree$1"
}

# Every arm64 KVM guest sees the host's MIDR (here a Neoverse N1), which
# names no hypervisor; the timer is the architecture's on guests and hosts.
put /devices/system/cpu/cpu0/regs/identification/midr_el1 0x00000000413fd0c1
put /devices/system/clocksource/clocksource0/current_clocksource arch_sys_counter
# dmi_identity VENDOR PRODUCT VERSION: the firmware's identity, in the folder that
# /sys/class/dmi/id links to, as the kernel shows it.
dmi_identity() {
  put /devices/virtual/dmi/id/sys_vendor "$1"
  put /devices/virtual/dmi/id/product_name "$2"
  put /devices/virtual/dmi/id/product_version "$3"
  mkdir -p "$tree/class/dmi"
  ln -s ../../devices/virtual/dmi/id "$tree/class/dmi/id"
}

case $setting in
  dmi) dmi_identity QEMU "KVM Virtual Machine" virt-7.2 ;;
  devicetree)
    # A device tree property: the string with its NUL, no newline.
    mkdir -p "$tree/firmware/devicetree/base"
    printf 'linux,dummy-virt\0' >"$tree/firmware/devicetree/base/compatible"
    ;;
  bare_metal) dmi_identity "Ampere Computing" Mt.Jade 1.0 ;;
  hidden_*) dmi_identity "ASUSTeK COMPUTER INC." "PRIME B450M-A" "Rev X.0x" ;;
esac
# fw_cfg's folder is made by the driver on any machine whose kernel has it
# built in; only a present device adds its entries.
mkdir -p "$tree/firmware/qemu_fw_cfg"
if [[ $setting == dmi || $setting == devicetree ]]; then
  mkdir -p "$tree/firmware/qemu_fw_cfg/by_key" "$tree/firmware/qemu_fw_cfg/by_name"
  put /firmware/qemu_fw_cfg/rev 3
  put /class/ptp/ptp0/clock_name "KVM virtual PTP"
fi

# The kernel's PCI table, bound over this machine's own (a virtual
# machine's): QEMU's PCIe host bridge and virtio functions in the guest, an
# Ampere server's root ports, NIC and NVMe on bare metal, each hypervisor's
# default functions in the hidden guests. And its table of input devices:
# a laptop's on bare metal, each hypervisor's tablet or mouse.
pci=$tree.pci input=$tree.input
pci_table() {
  local slot=0 id
  for id; do
    printf '%04x\t%s\t0\t0\t0\n' $slot "$id"
    slot=$((slot + 8))
  done >"$pci"
}
input_table() {
  local name
  for name; do
    printf 'I: Bus=0003 Vendor=0000 Product=0000 Version=0000\nN: Name="%s"\nH: Handlers=event0\n\n' "$name"
  done >"$input"
}
case $setting in
  dmi | devicetree) pci_table 1b360008 1af41041 1af41042 ;;
  bare_metal) pci_table 1defe100 15b31017 144da80a ;;
  hidden_qemu) pci_table 80861237 80867000 1af41000 1af41001 ;;
  hidden_vmware) pci_table 80867190 15ad0405 15ad07b0 ;;
  hidden_virtualbox) pci_table 80861237 80eebeef 80eecafe ;;
  hidden_hyperv) pci_table 80867192 14145353 ;;
  hidden_xen) pci_table 80861237 58530001 ;;
esac
case $setting in
  hidden_qemu) input_table "AT Translated Set 2 keyboard" "QEMU QEMU USB Tablet" ;;
  hidden_vmware) input_table "AT Translated Set 2 keyboard" "VMware VMware Virtual USB Mouse" ;;
  hidden_virtualbox) input_table "AT Translated Set 2 keyboard" "VirtualBox USB Tablet" ;;
  hidden_hyperv) input_table "AT Translated Set 2 keyboard" "Microsoft Vmbus HID-compliant Mouse" ;;
  hidden_xen) input_table "Xen Virtual Keyboard" "Xen Virtual Pointer" ;;
  *) input_table "AT Translated Set 2 keyboard" "SynPS/2 Synaptics TouchPad" ;;
esac

# The tool (or the emulator and the tool) lives under /usr and the build
# folder, which the mount over /sys leaves alone. The tool exits 0, 1 or 2:
# 77 is the mount's failure.
status=0
report=$(unshare --mount /bin/bash -s "$tree" "$tool" "$pci" "$input" <<'INNER'
set -euo pipefail
if ! mount --make-rprivate / || ! mount --bind "$1" /sys; then
  echo "cannot bind a folder over /sys here: skipped" >&2
  exit 77
fi
for table in "$3:/proc/bus/pci/devices" "$4:/proc/bus/input/devices"; do
  if [[ -e ${table#*:} ]] && ! mount --bind "${table%%:*}" "${table#*:}"; then
    echo "cannot bind a file over ${table#*:} here: skipped" >&2
    exit 77
  fi
done
exec "$2"
INNER
) || status=$?
echo "$report"
if ((status == 77)); then
  exit 77
elif ((status != 0)); then
  echo "oxa-detect exited with $status" >&2
  exit 1
fi

python3 - "$expected" "$processor_sources" "$report" <<'CHECK'
import json
import sys

expected, processor_sources, text = sys.argv[1:]
processor = set(processor_sources.split(","))
try:
    report = json.loads(text)
except ValueError as error:
    sys.exit(f"the report is no JSON: {error}")
hypervisors = report["hypervisors"]
# The guest findings of what the tool read from files, by vendor.
from_files = {}
for e in report["evidence"]:
    if e["category"] == "guest" and e["source"] not in processor:
        from_files.setdefault(e["vendor"], []).append(f'{e["source"]}: {e["detail"]}')
for vendor, signs in from_files.items():
    print(f"{vendor} named by " + "; ".join(signs))

if expected != "none":
    missing = [v for v in expected.split(",") if v not in hypervisors or v not in from_files]
    if missing:
        sys.exit(f"hypervisors {hypervisors}: {missing} not named from /sys")
    # "likely" from the files alone: the verdict's score is at least the
    # weight of its strongest guest finding, and "likely" starts at 70.
    strongest = max((e["weight"] for e in report["evidence"]
                     if e["category"] == "guest" and e["source"] not in processor), default=0)
    if strongest < 70:
        sys.exit(f"the files' strongest guest finding weighs {strongest}: below likely")
else:
    if from_files:
        sys.exit(f"a bare-metal server's /sys named a guest: {sorted(from_files)}")
    from_processor = {e["vendor"] for e in report["evidence"] if e["source"] in processor}
    extra = [v for v in hypervisors if v not in from_processor]
    if extra:
        sys.exit(f"hypervisors {hypervisors}: {extra} not named by the processor")
CHECK
