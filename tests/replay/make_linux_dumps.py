#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the Linux regression dumps whose container or compatibility layer
we cannot run here, from the documented layout of each runtime's signs
(hence "documented" in their names), and their expected reports.

Each starts from a dump captured on a real machine (the CPUID, timing and
clock inputs), takes the Linux signs of its case, and is replayed by
oxa-detect for its report. docker_kvm_guest.json is a real capture.

usage: make_linux_dumps.py OXA_DETECT
"""

import json
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
DUMPS = HERE / "dumps"
EXPECTED = HERE / "expected"

SERVICE_ACCOUNT = "/var/run/secrets/kubernetes.io/serviceaccount"
# Every path and file the probes may ask for, and what a plain Linux system
# shows there: nothing.
PATHS = ["/.dockerenv", "/run/.containerenv", "/proc/vz", "/proc/bc", SERVICE_ACCOUNT]
FILES = ["/run/systemd/container", "/run/host/container-manager", "/proc/1/environ", "/proc/self/cgroup"]


def signs(release, paths=None, files=None):
    """The linux section: paths -> kind, files -> bytes (None: unreadable)."""
    paths = dict(paths or {})
    files = dict(files or {})
    return {
        "paths": [{"path": p, "kind": paths.get(p, "absent")} for p in PATHS],
        "files": [{"path": f, "read": f in files and files[f] is not None,
                   **({"hex": files[f].encode().hex()} if files.get(f) is not None else {})} for f in FILES],
        "kernel_release": {"read": True, "hex": release.encode().hex()},
    }


DEBIAN = "6.1.0-18-amd64"
CASES = {
    # name: (base dump, linux section)
    "podman_documented": ("docker_kvm_guest", signs(DEBIAN, {"/run/.containerenv": "file"})),
    "lxc_documented": ("docker_kvm_guest", signs(DEBIAN, files={"/run/systemd/container": "lxc\n"})),
    "lxc_libvirt_documented": ("docker_kvm_guest",
                               signs(DEBIAN, files={"/proc/1/environ": "PATH=/bin\0container=lxc-libvirt\0"})),
    "systemd_nspawn_documented": ("docker_kvm_guest",
                                  signs(DEBIAN, files={"/run/host/container-manager": "systemd-nspawn\n"})),
    "openvz_documented": ("bare_metal", signs("4.18.0-348.7.1.vz7.192.4", {"/proc/vz": "folder"})),
    "kubernetes_documented": ("docker_kvm_guest", signs(DEBIAN, {SERVICE_ACCOUNT: "folder"}, {
        "/proc/self/cgroup": "0::/kubepods/besteffort/pod8f1e/3c0ffee\n"})),
    "container_other_documented": ("docker_kvm_guest",
                                   signs(DEBIAN, files={"/run/systemd/container": "proot\n"})),
    # WSL 1: a Windows host with Hyper-V is its root partition; no machine.
    "wsl1_documented": ("hyperv_root", signs("4.4.0-19041-Microsoft", files={"/proc/1/environ": "HOME=/\0"})),
    # WSL 2: a Hyper-V guest whose distribution runs in a container.
    "wsl2_documented": ("hyperv_guest", signs("5.15.153.1-microsoft-standard-WSL2",
                                              files={"/proc/1/environ": "HOME=/\0"})),
    "linux_bare_metal_documented": ("bare_metal", signs(DEBIAN, files={"/proc/1/environ": "HOME=/\0",
                                                                        "/proc/self/cgroup": "0::/init.scope\n"})),
}


def quoted(text):
    out = ['"']
    for b in text.encode("latin-1"):
        if b in (0x22, 0x5C):
            out.append("\\" + chr(b))
        elif b < 0x20 or b >= 0x7F:
            out.append("\\u00%02x" % b)
        else:
            out.append(chr(b))
    return "".join(out) + '"'


def layout(value, indent=0):
    """The dump writer's layout: containers of containers one item a line."""
    if isinstance(value, str):
        return quoted(value)
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    items = list(value.items()) if isinstance(value, dict) else list(value)
    nested = any(isinstance(v[1] if isinstance(value, dict) else v, (dict, list)) for v in items)
    parts = [(quoted(k) + ": " + layout(v, indent + 2)) if isinstance(value, dict) else layout(v, indent + 2)
             for v in items for k, v in ([v] if isinstance(value, dict) else [(None, v)])]
    open_, close = ("{", "}") if isinstance(value, dict) else ("[", "]")
    if not nested:
        return open_ + ", ".join(parts) + close
    pad = " " * (indent + 2)
    return open_ + "\n" + ",\n".join(pad + p for p in parts) + "\n" + " " * indent + close


def main():
    tool = sys.argv[1]
    for name, (base, linux) in CASES.items():
        dump = json.loads((DUMPS / f"{base}.json").read_text(), object_pairs_hook=dict)
        dump.pop("report", None)
        # A Linux machine: no sysctl names, no DMI identity folder here.
        dump["sysctl"] = [{"name": n, "read": False, "value": 0}
                          for n in ("kern.hv_vmm_present", "sysctl.proc_translated")]
        dump["registry"] = {"service": False, "properties": []}
        dump["linux"] = linux
        path = DUMPS / f"{name}.json"
        path.write_text(layout(dump) + "\n")
        report = subprocess.run([tool, "--replay", str(path)], check=True, capture_output=True).stdout
        (EXPECTED / f"{name}.json").write_bytes(report)
        dump["report"] = report.decode("ascii").rstrip("\n")
        path.write_text(layout(dump) + "\n")


if __name__ == "__main__":
    main()
