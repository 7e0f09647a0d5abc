#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""oxa-detect run for real on this machine, held to what the machine's own
tables say, read here independently: where the FADT's OEM ID is a virtual
machine monitor's (root may read it), the run names that monitor; where the
PCI table holds a function that only guests have, the run names a guest at
least "likely" as root and as a normal user alike, who cannot read the FADT.
Skipped (77) on machines whose tables show neither, and without root.

    this_machine_test.py OXA_DETECT_COMMAND...
"""

from __future__ import annotations

import json
import os
import subprocess
import sys

# The monitors' OEM IDs, and PCI functions no physical machine has: a
# monitor's own host bridge (Firecracker's and Cloud Hypervisor's 0d57,
# QEMU's and VirtualBox's 440FX) or a vendor whose every function is virtual.
OEM_IDS = {"FIRECK": "firecracker", "CLOUDH": "cloud-hypervisor", "BOCHS": "qemu", "VBOX": "virtualbox",
           "VRTUAL": "hyperv", "Xen": "xen"}
GUEST_FUNCTIONS = ("80860d57", "80861237")
GUEST_VENDORS = ("15ad", "80ee", "1ab8", "5853", "1b36")


def fadt_oem() -> str | None:
    try:
        with open("/sys/firmware/acpi/tables/FACP", "rb") as table:
            header = table.read(36)
    except OSError:
        return None
    if len(header) < 36 or header[:4] != b"FACP":
        return None
    return header[10:16].rstrip(b" \0").decode("latin-1")


def guest_function() -> str | None:
    try:
        with open("/proc/bus/pci/devices", encoding="latin-1") as table:
            for line in table:
                fields = line.split("\t")
                if len(fields) > 1 and (fields[1] in GUEST_FUNCTIONS or fields[1][:4] in GUEST_VENDORS):
                    return fields[1]
    except OSError:
        pass
    return None


def run(command: list[str], as_nobody: bool) -> dict:
    prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"] if as_nobody else []
    done = subprocess.run(prefix + command, capture_output=True, timeout=120, check=False)
    if done.returncode not in (0, 1):
        sys.exit(f"oxa-detect exited with {done.returncode}: {done.stderr.decode(errors='replace')}")
    return json.loads(done.stdout)


def main() -> int:
    command = sys.argv[1:]
    if os.geteuid() != 0:
        print("needs root, to compare the run as root and as nobody: skipped")
        return 77
    oem, function = fadt_oem(), guest_function()
    monitor = OEM_IDS.get(oem or "")
    if monitor is None and function is None:
        print(f"this machine's tables name no monitor (FADT OEM {oem!r}, no guest's PCI function): skipped")
        return 77
    failures = []
    for as_nobody in (False, True):
        who = "nobody" if as_nobody else "root"
        report = run(command, as_nobody)
        devices = [e for e in report["evidence"] if e["source"] == "devices"]
        print(f"as {who}: {report['vm_likelihood']} {report['hypervisors']}; devices: "
              + "; ".join(f"{e['vendor']} {e['weight']} {e['detail']}" for e in devices))
        if monitor is not None and not as_nobody and monitor not in report["hypervisors"]:
            failures.append(f"as root, the FADT's {oem} did not name {monitor}")
        if as_nobody and any(e["detail"].startswith("ACPI ") for e in devices):
            failures.append("as nobody, a finding from the FADT, which nobody may not read")
        if function is not None:
            if not any(e["detail"].startswith("PCI ") and e["category"] == "guest" for e in devices):
                failures.append(f"as {who}, the guest's PCI function {function} was not found")
            if report["vm_likelihood"] not in ("likely", "very_likely"):
                failures.append(f"as {who}, a guest is only {report['vm_likelihood']}")
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
