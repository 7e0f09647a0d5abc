#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the Linux regression dumps whose container or compatibility layer
we cannot run here, from the documented layout of each runtime's signs
(hence "documented" in their names), and their expected reports.

Each starts from a dump captured on a real machine (the CPUID, timing and
clock inputs), takes the Linux signs of its case, and is replayed by
oxa-detect for its report. The paths and questions of the signs are read
from the library's own table (src/platform/linux/signs.h), so each is written once.

usage: make_linux_dumps.py OXA_DETECT
"""

import copy
import json
import pathlib
import re
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
DUMPS = HERE / "dumps"
EXPECTED = HERE / "expected"


def sign_table():
    """{sign id: (question, path)} from the OXA_LINUX_SIGNS table."""
    system = (ROOT / "src/platform/system.h").read_text()
    constants = dict(re.findall(r'inline constexpr char (\w+)\[\] = "([^"]*)";', system))
    inputs = (ROOT / "src/platform/linux/signs.h").read_text()
    table = inputs[inputs.index("#define OXA_LINUX_SIGNS"):].split("\n\n")[0]
    signs = {}
    for sign, question, path in re.findall(r'X\((\w+), (\w+), ("[^"]*"|\w+)\)', table):
        signs[sign] = (question, path.strip('"') if path.startswith('"') else constants[path])
    return signs


SIGNS = sign_table()


def path(sign):
    return SIGNS[sign][1]


def where(sign_or_path):
    """A sign's path, or a path the probes do not read but the machine
    shows (kept to document its layout)."""
    return sign_or_path if sign_or_path.startswith("/") else path(sign_or_path)


# The kernel's initial namespaces (a host, a plain VM) and private ones (a
# runtime made them).
INITIAL = {"pid_namespace": "pid:[4026531836]", "uts_namespace": "uts:[4026531838]",
           "ipc_namespace": "ipc:[4026531839]"}
PRIVATE = {"pid_namespace": "pid:[4026532301]", "uts_namespace": "uts:[4026532299]",
           "ipc_namespace": "ipc:[4026532300]"}


def environ(**variables):
    return "".join(f"{name}={value}\0" for name, value in variables.items())


def signs(release, paths=None, files=None, namespaces=INITIAL, own=None, init=None, clock="kvm-clock"):
    """The linux section. paths: sign -> kind; files: sign -> bytes (None:
    unreadable); own, init: the environments' variables that matter (init
    None: PID 1's environment is closed, as to a normal user); clock: the
    kernel's clock source."""
    kinds = {where(s): k for s, k in (paths or {}).items()}
    texts = {path("clock_source"): clock + "\n"}
    texts.update({where(s): t for s, t in (files or {}).items()})
    links = {path(s): t for s, t in namespaces.items()}
    environments = {path("own_environment"): environ(**(own or {})),
                    path("init_environment"): None if init is None else environ(**init)}

    def answers(answered):
        return [{"path": p, "read": True, "hex": t.encode().hex()} for p, t in answered.items() if t is not None]

    # A documented dump lists only what the machine shows; the replay takes
    # any other path as absent.
    return {
        "documented": True,
        "paths": [{"path": p, "kind": k} for p, k in kinds.items() if k != "absent"],
        "files": answers(texts),
        "links": answers(links),
        "environments": answers(environments),
        "kernel_release": {"read": True, "hex": release.encode().hex()},
    }


DEBIAN = "6.1.0-18-amd64"
DEBIAN_ARM64 = "6.1.0-18-arm64"
# MIDR_EL1 of Arm's Neoverse N1 r3p1 (Graviton2, Ampere Altra).
N1 = "0x00000000413fd0c1"


def arm64_signs(midr, paths=None, files=None):
    """The linux section of an arm64 machine: its MIDR, the architected
    timer, no container."""
    return signs(DEBIAN_ARM64, paths, {"midr": midr + "\n", **(files or {})}, init={"HOME": "/"},
                 clock="arch_sys_counter")


# The inputs of an arm64 run that are not Linux's own: no CPUID, no timing
# (the probe has nothing to measure), the run's clock.
ARM64 = {"dump_version": 1, "architecture": "arm64", "cpuid": [], "sysctl": [],
         "registry": {"service": False, "properties": []},
         "timing": {"samples": [], "record": {"available": False, "valid": False, "cycles_over_baseline": 0}},
         "clock_ns": [1000000000, 1000052000]}


# QEMU's fw_cfg device: the driver's folder and the entries a present device adds.
FW_CFG = {"/sys/firmware/qemu_fw_cfg": "folder", "qemu_fw_cfg_rev": "file"}
# Xen's feature bits (XENFEAT_*), one "%08x" submap: a PV dom0 (bit 11,
# XENFEAT_dom0, set) and an arm64 guest.
XEN_DOM0_FEATURES = "00000930\n"
XEN_ARM64_DOM0_FEATURES = "00000804\n"
XEN_ARM64_GUEST_FEATURES = "00000704\n"


def compatible(*entries):
    """A device tree string list: each entry ended by its NUL."""
    return "".join(e + "\0" for e in entries)


def dmi_registry(vendor, product, version):
    """The DMI identity as the registry answers it: sys_vendor,
    product_name, product_version."""
    return {"service": True, "properties": [
        {"key": key, "kind": "string", "converted": True, "hex": text.encode().hex()}
        for key, text in zip(("manufacturer", "model", "product-name"), (vendor, product, version))]}
def branded(base, brand):
    """A captured dump of a Linux run whose processor also answers the
    extended leaves, spelling `brand` in 0x80000002-0x80000004."""
    dump = json.loads((DUMPS / f"{base}.json").read_text(), object_pairs_hook=dict)
    dump.pop("report", None)
    dump["sysctl"] = [{"name": n, "read": False, "value": 0}
                      for n in ("kern.hv_vmm_present", "sysctl.proc_translated")]
    words = (brand.encode() + bytes(48))[:48]
    dump["cpuid"].append({"leaf": "0x80000000", "subleaf": "0x0", "eax": "0x80000008", "ebx": "0x00000000",
                          "ecx": "0x00000000", "edx": "0x00000000"})
    for i in range(3):
        regs = [int.from_bytes(words[16 * i + 4 * r:16 * i + 4 * r + 4], "little") for r in range(4)]
        dump["cpuid"].append({"leaf": f"0x{0x80000002 + i:x}", "subleaf": "0x0",
                              **{n: f"0x{v:08x}" for n, v in zip(("eax", "ebx", "ecx", "edx"), regs)}})
    return dump


def pci_table(*ids):
    """The kernel's PCI table (drivers/pci/proc.c), its first fields."""
    return "".join(f"{8 * slot:04x}\t{i}\t0\t0\t0\n" for slot, i in enumerate(ids))


def input_table(*names):
    """The kernel's table of input devices (drivers/input/input.c)."""
    return "".join(f'I: Bus=0003 Vendor=0627 Product=0001 Version=0001\nN: Name="{n}"\n'
                   f"H: Handlers=event0\n\n" for n in names)


POD_CGROUP_V1 = "".join(
    f"{n}:{c}:/kubepods/besteffort/pod8f1e2a7c-6b1d-4c3e-9a0f-2d4b6c8e1a3f/{'3c' * 32}\n"
    for n, c in ((4, "memory"), (3, "cpu,cpuacct"), (2, "pids"), (1, "name=systemd")))
HOST_UNITS = "0::/system.slice/docker-compose@shop.service\n"
# /proc/self/mountinfo as each machine shows it: the root mount ("/", the
# last such line) and what is bound where.
LAYER = "3c" * 32
PROC_DEV = ("1365 1364 0:146 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw\n"
            "1366 1364 0:147 / /dev rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755\n")
# Docker's overlay2 storage.
DOCKER_MOUNTS = ("1364 1243 0:143 / / rw,relatime master:636 - overlay overlay rw,lowerdir=/var/lib/docker/"
                 "overlay2/l/6Y5Q5EOJXVO2ZEW3VZQ7XUZV7G,upperdir=/var/lib/docker/overlay2/" + LAYER + "/diff,"
                 "workdir=/var/lib/docker/overlay2/" + LAYER + "/work\n" + PROC_DEV)
# Docker's btrfs storage: a subvolume named by the layer id, bound as root.
DOCKER_BTRFS_MOUNTS = ("1364 1243 0:45 /@/var/lib/docker/btrfs/subvolumes/" + LAYER + " / rw,relatime - btrfs "
                       "/dev/sda2 rw,ssd,space_cache=v2,subvolid=300,subvol=/@/var/lib/docker/btrfs/subvolumes/"
                       + LAYER + "\n" + PROC_DEV)
# CRI-O's overlay storage, its empty .containerenv bound in.
CRIO_MOUNTS = ("2201 2100 0:160 / / rw,relatime - overlay overlay rw,lowerdir=/var/lib/containers/storage/overlay/"
               "l/QW3E5R7T9Y,upperdir=/var/lib/containers/storage/overlay/" + LAYER + "/diff,workdir=/var/lib/"
               "containers/storage/overlay/" + LAYER + "/work\n"
               "2210 2201 0:25 /containers/storage/overlay-containers/" + LAYER + "/userdata/.containerenv "
               "/run/.containerenv rw,nosuid,nodev - tmpfs tmpfs rw,mode=755\n" + PROC_DEV)
# A host's (or a VM's) root on its disk, as its own services see it.
DEBIAN_MOUNTS = ("21 27 0:20 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw\n"
                 "27 1 254:1 / / ro,relatime - ext4 /dev/vda1 rw,errors=remount-ro\n"
                 "23 27 0:5 / /dev rw,nosuid,relatime - devtmpfs udev rw,mode=755\n")
FEDORA_BTRFS_MOUNTS = ("60 1 0:32 /root / ro,relatime - btrfs /dev/nvme0n1p3 rw,seclabel,compress=zstd:1,ssd,"
                       "space_cache=v2,subvolid=256,subvol=/root\n")
WSL2_MOUNTS = "60 1 8:32 / / rw,relatime - ext4 /dev/sdc rw,discard,errors=remount-ro,data=ordered\n"
# bubblewrap: a tmpfs root, the copied tree bound into it.
BWRAP_MOUNTS = ("900 800 0:70 / / rw,nosuid,nodev,relatime - tmpfs tmpfs rw,mode=755\n"
                "901 900 254:1 /srv/image/usr /usr ro,nosuid,nodev,relatime - ext4 /dev/vda1 rw\n")
# Flatpak: bubblewrap's tmpfs root, its .flatpak-info bound in.
FLATPAK_MOUNTS = ("2001 2000 0:70 / / rw,nosuid,nodev,relatime - tmpfs tmpfs rw,size=4k,mode=755\n"
                  "2002 2001 254:1 /var/lib/flatpak/runtime/org.freedesktop.Platform/x86_64/23.08/active/files "
                  "/usr ro,nosuid,nodev,relatime - ext4 /dev/vda1 rw\n"
                  "2010 2001 0:70 /.flatpak-info /.flatpak-info ro,nosuid,nodev,relatime - tmpfs tmpfs rw\n")
# LXD's dir storage and Incus's ZFS, each with its folder bound in.
LXD_MOUNTS = ("1501 1400 254:1 /var/snap/lxd/common/lxd/storage-pools/default/containers/c1/rootfs / rw,relatime "
              "- ext4 /dev/vda1 rw\n"
              "1510 1501 0:27 / /dev/lxd rw,relatime - tmpfs tmpfs rw,size=100k,mode=755\n")
INCUS_MOUNTS = ("1601 1500 0:61 / / rw,relatime - zfs default/containers/c1 rw,xattr,posixacl\n"
                "1610 1601 0:27 / /dev/incus rw,relatime - tmpfs tmpfs rw,size=100k,mode=755\n")
# Namespaces: Docker's --pid=host keeps its own UTS and IPC; a service under
# ProtectHostname= has a UTS namespace of its own; PrivateIPC= an IPC one.
PID_HOST = {"pid_namespace": INITIAL["pid_namespace"], "uts_namespace": PRIVATE["uts_namespace"]}
OWN_UTS = PID_HOST
OWN_IPC = {**INITIAL, "ipc_namespace": PRIVATE["ipc_namespace"]}
OWN_PID = {"pid_namespace": PRIVATE["pid_namespace"]}
CASES = {
    # name: (base dump, linux section)
    "docker_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"}, {"marker_mounts": DOCKER_MOUNTS},
                                             namespaces=PRIVATE)),
    # An image export with its marker, run as a plain VM's root (our own
    # machines): the kernel's initial namespaces, so no runtime.
    "docker_export_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"})),
    # Podman sets container=podman for the process it starts.
    "podman_documented": ("kvm_guest", signs(DEBIAN, {"containerenv": "file"}, namespaces=PRIVATE,
                                             own={"container": "podman"}, init={"container": "podman"})),
    # LXD running an image exported from Docker: the manager's declaration
    # wins over the image's marker.
    "lxd_docker_image_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"},
                                                       {"systemd_container": "lxc\n"}, namespaces=PRIVATE)),
    "lxc_documented": ("kvm_guest", signs(DEBIAN, files={"systemd_container": "lxc\n"}, namespaces=PRIVATE)),
    # LXD without systemd, seen by a normal user: its socket in a private
    # PID namespace.
    "lxd_normal_user_documented": ("kvm_guest", signs(DEBIAN, {"lxd_socket": "other"},
                                                      {"socket_mounts": LXD_MOUNTS}, namespaces=PRIVATE)),
    "lxc_libvirt_documented": ("kvm_guest", signs(DEBIAN, namespaces=PRIVATE, init={"container": "lxc-libvirt"})),
    "systemd_nspawn_documented": ("kvm_guest", signs(DEBIAN, files={"host_container_manager": "systemd-nspawn\n"},
                                                     namespaces=PRIVATE)),
    # A declaration written on Windows: "docker\r\n".
    "crlf_declaration_documented": ("kvm_guest", signs(DEBIAN, files={"systemd_container": "docker\r\n"},
                                                       namespaces=PRIVATE)),
    "openvz_documented": ("bare_metal", signs("4.18.0-348.7.1.vz7.192.4", {"openvz": "folder"}, clock="tsc")),
    "kubernetes_documented": ("kvm_guest", signs(DEBIAN, {"kubernetes_account": "folder"}, {
        "cgroup": "0::/kubepods/besteffort/pod8f1e/" + "3c" * 32 + "\n"}, namespaces=PRIVATE)),
    # A CRI-O pod: an empty .containerenv, no podman sign.
    "crio_pod_documented": ("kvm_guest", signs(DEBIAN, {"containerenv": "file", "kubernetes_account": "folder"},
                                               {"containerenv_content": "", "marker_mounts": CRIO_MOUNTS},
                                               namespaces=PRIVATE,
                                               own={"KUBERNETES_SERVICE_HOST": "10.96.0.1"})),
    # A pod on cgroup v1 seen by its root: PID 1's environment open, with no
    # container= in it, and no service account token mounted.
    "pod_cgroup_v1_root_documented": ("kvm_guest", signs(DEBIAN, files={"cgroup": POD_CGROUP_V1},
                                                         namespaces=PRIVATE, init={"HOME": "/"})),
    # Only the variable the kubelet sets: no token, cgroup v2 namespaced.
    "pod_without_token_documented": ("kvm_guest", signs(DEBIAN, files={"cgroup": "0::/\n"}, namespaces=PRIVATE,
                                                        own={"KUBERNETES_SERVICE_HOST": "10.96.0.1"})),
    # A host whose units are named after runtimes: none is a container.
    "host_units_documented": ("kvm_guest", signs(DEBIAN, files={"cgroup": HOST_UNITS}, init={"HOME": "/"})),
    "flatpak_documented": ("kvm_guest", signs(DEBIAN, {"flatpak_info": "file"}, namespaces=PRIVATE,
                                              own={"FLATPAK_ID": "org.example.App"})),
    # Apptainer makes no PID namespace by default: its variable tells.
    "apptainer_documented": ("kvm_guest", signs(DEBIAN, own={"APPTAINER_CONTAINER": "/home/u/lolcow.sif"})),
    "container_other_documented": ("kvm_guest", signs(DEBIAN, files={"systemd_container": "proot\n"},
                                                      namespaces=PRIVATE)),
    # A marker needs a runtime's mounts besides a namespace of its own.
    # Docker with --pid=host: its own UTS and IPC namespaces and storage.
    "docker_pid_host_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"},
                                                      {"marker_mounts": DOCKER_MOUNTS}, namespaces=PID_HOST)),
    "docker_btrfs_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"},
                                                   {"marker_mounts": DOCKER_BTRFS_MOUNTS}, namespaces=PRIVATE)),
    # Flatpak's marker alone (a process that cleared its environment).
    "flatpak_marker_documented": ("kvm_guest", signs(DEBIAN, {"flatpak_info": "file"},
                                                     {"marker_mounts": FLATPAK_MOUNTS}, namespaces=PRIVATE)),
    # The look-alikes, each on a root copied from an image that kept
    # /.dockerenv: a daemon under ProtectHostname= (logind, timesyncd), one
    # with PrivateIPC=, on Debian and on Fedora's btrfs subvolume root.
    "protect_hostname_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"},
                                                       {"marker_mounts": DEBIAN_MOUNTS}, namespaces=OWN_UTS,
                                                       init={"HOME": "/"})),
    "private_ipc_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"}, {"marker_mounts": DEBIAN_MOUNTS},
                                                  namespaces=OWN_IPC, init={"HOME": "/"})),
    "fedora_btrfs_protect_hostname_documented": ("kvm_guest", signs(
        "6.11.4-301.fc41.x86_64", {"dockerenv": "file"}, {"marker_mounts": FEDORA_BTRFS_MOUNTS},
        namespaces=OWN_UTS, init={"HOME": "/"})),
    # bubblewrap (and unshare -p): a PID namespace of its own, no runtime.
    "bubblewrap_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"}, {"marker_mounts": BWRAP_MOUNTS},
                                                 namespaces=PRIVATE)),
    "unshare_pid_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"}, {"marker_mounts": DEBIAN_MOUNTS},
                                                  namespaces=OWN_PID, init={"HOME": "/"})),
    # A chroot without /proc: neither namespaces nor mounts to read.
    "chroot_without_proc_documented": ("kvm_guest", signs(DEBIAN, {"dockerenv": "file"}, namespaces={})),
    # A WSL 2 distribution imported from docker export: WSL runs it in a PID
    # namespace of its own on its ext4 disk. WSL, not Docker.
    "wsl2_docker_export_documented": ("hyperv_guest", signs(
        "5.15.153.1-microsoft-standard-WSL2", {"dockerenv": "file"}, {"marker_mounts": WSL2_MOUNTS},
        namespaces=OWN_PID, init={"HOME": "/"}, clock="hyperv_clocksource_tsc_page")),
    # LXD's socket: in an Incus container seen by a normal user, and in an
    # LXD VM (a KVM guest) where its agent makes it, there and in a PID
    # sandbox.
    "incus_normal_user_documented": ("kvm_guest", signs(DEBIAN, {"incus_socket": "other"},
                                                        {"socket_mounts": INCUS_MOUNTS}, namespaces=PRIVATE)),
    "lxd_vm_documented": ("kvm_guest", signs(DEBIAN, {"lxd_socket": "other"}, init={"HOME": "/"})),
    "lxd_vm_pid_sandbox_documented": ("kvm_guest", signs(DEBIAN, {"lxd_socket": "other"},
                                                         {"socket_mounts": DEBIAN_MOUNTS}, namespaces=OWN_PID)),
    # WSL 1: a Windows host with Hyper-V is its root partition; no machine.
    "wsl1_documented": ("hyperv_root", signs("4.4.0-19041-Microsoft", init={"HOME": "/"}, clock="tsc")),
    # WSL 2: a Hyper-V guest whose distribution runs in a container.
    "wsl2_documented": ("hyperv_guest", signs("5.15.153.1-microsoft-standard-WSL2", init={"HOME": "/"},
                                              clock="hyperv_clocksource_tsc_page")),
    "linux_bare_metal_documented": ("bare_metal", signs(DEBIAN, files={"cgroup": "0::/init.scope\n"},
                                                        init={"HOME": "/"}, clock="tsc")),
    # The kernel's own view of its hypervisor ("system"). A Xen PV guest has
    # no CPUID hypervisor leaf: the bare-metal capture's processor.
    "xen_pv_documented": ("bare_metal", signs("6.1.0-18-amd64", files={"hypervisor_type": "xen\n"},
                                              init={"HOME": "/"}, clock="xen")),
    # Xen's control domain: a host, not a guest.
    "xen_dom0_documented": ("bare_metal", signs("6.1.0-18-amd64", files={
        "hypervisor_type": "xen\n", "xen_capabilities": "control_d\n"}, init={"HOME": "/"}, clock="xen")),
    "hyperv_linux_documented": ("hyperv_guest", signs(DEBIAN, {"vmbus_devices": "folder"}, init={"HOME": "/"},
                                                      clock="hyperv_clocksource_tsc_page")),
    # A KVM guest on a TSC clock, seen by its paravirtual PTP clock.
    "kvm_ptp_documented": ("kvm_guest", signs(DEBIAN, files={"ptp0_clock": "KVM virtual PTP\n"},
                                              init={"HOME": "/"}, clock="tsc")),
    # arm64: no CPUID, the MIDR the kernel shows, its architected timer.
    # A KVM guest sees the host's own MIDR (a Neoverse N1 here); QEMU's
    # firmware names the board, fw_cfg the device model, the PTP clock KVM.
    "qemu_kvm_arm64_documented": (ARM64, arm64_signs(N1, {**FW_CFG},
                                                     {"ptp0_clock": "KVM virtual PTP\n"}),
                                  ("QEMU", "KVM Virtual Machine", "virt-7.2")),
    # QEMU's own emulation of its "max" processor, booted without firmware:
    # the MIDR no core carries, the device tree of the virt board.
    "qemu_tcg_arm64_documented": (ARM64, arm64_signs("0x00000000000f0510", {**FW_CFG},
                                                     {"device_tree_compatible": "linux,dummy-virt\0"})),
    # A Linux guest of Apple's Virtualization framework on Apple silicon.
    "apple_vz_linux_arm64_documented": (ARM64, arm64_signs("0x00000000610f0000"),
                                        ("Apple Inc.", "Apple Virtualization Generic Platform", "1")),
    # AWS Graviton2: the instance type is the product. A virtual machine on
    # Nitro shows nothing of its hypervisor but a type that is not .metal;
    # a .metal machine is a cloud's, never a guest.
    "graviton_vm_arm64_documented": (ARM64, arm64_signs(N1), ("Amazon EC2", "m6g.large", "")),
    "graviton_metal_arm64_documented": (ARM64, arm64_signs(N1), ("Amazon EC2", "m6g.metal", "")),
    # Azure's arm64 virtual machines (Cobalt 100, a Neoverse N2) on Hyper-V.
    "azure_arm64_documented": (ARM64, arm64_signs("0x00000000410fd490", {"vmbus_devices": "folder"},
                                                  {"ptp0_clock": "hyperv\n"}),
                               ("Microsoft Corporation", "Virtual Machine", "Hyper-V UEFI Release v4.1")),
    # A bare-metal RHEL 9 server: its kernel builds the fw_cfg driver in,
    # which makes its folder with no device behind it.
    "rhel_bare_metal_documented": ("bare_metal", signs("5.14.0-362.8.1.el9_3.x86_64", {"/sys/firmware/qemu_fw_cfg": "folder"},
                                                       files={"cgroup": "0::/init.scope\n"}, init={"HOME": "/"},
                                                       clock="tsc"),
                                   ("Dell Inc.", "PowerEdge R650", "")),
    # Xen's dom0 without xenfs mounted: no /proc/xen/capabilities, the
    # feature bits say dom0.
    "xen_dom0_no_xenfs_documented": ("bare_metal", signs("6.1.0-18-amd64", files={
        "hypervisor_type": "xen\n", "xen_features": XEN_DOM0_FEATURES}, init={"HOME": "/"}, clock="xen")),
    # An arm64 dom0 booted with a device tree (a Zynq UltraScale+ board):
    # Xen's hypervisor node is in its tree too.
    "xen_dom0_arm64_documented": (ARM64, signs(DEBIAN_ARM64, files={
        "midr": "0x00000000410fd034\n", "hypervisor_type": "xen\n", "xen_features": XEN_ARM64_DOM0_FEATURES,
        "device_tree_compatible": compatible("xlnx,zynqmp-zcu102-rev1.0", "xlnx,zynqmp-zcu102", "xlnx,zynqmp"),
        "device_tree_hypervisor": compatible("xen,xen-4.17", "xen,xen")}, init={"HOME": "/"},
        clock="arch_sys_counter")),
    # An arm64 Xen guest made by libxl: its board "xen,xenvm".
    "xen_guest_arm64_documented": (ARM64, signs(DEBIAN_ARM64, files={
        "midr": "0x00000000410fd034\n", "hypervisor_type": "xen\n", "xen_features": XEN_ARM64_GUEST_FEATURES,
        "device_tree_compatible": compatible("xen,xenvm-4.17", "xen,xenvm"),
        "device_tree_hypervisor": compatible("xen,xen-4.17", "xen,xen")}, init={"HOME": "/"},
        clock="arch_sys_counter")),
    # Linux as Hyper-V's root partition: CPUID's root flag, and Hyper-V's
    # MSR clock, since the root skips the TSC page.
    "hyperv_root_linux_documented": ("hyperv_root", signs(DEBIAN, init={"HOME": "/"},
                                                          clock="hyperv_clocksource_msr")),
    # Hypervisors on Apple silicon make up MIDR values of implementer 0:
    # all zero (Virtualization.framework on M1 and M2) or 0x000f0000.
    "zero_midr_arm64_documented": (ARM64, arm64_signs("0x0000000000000000")),
    "software_midr_arm64_documented": (ARM64, arm64_signs("0x00000000000f0000")),
    # EC2 on x86-64: a Nitro virtual machine and a bare-metal type.
    "ec2_nitro_documented": ("kvm_guest", signs(DEBIAN, init={"HOME": "/"}), ("Amazon EC2", "m5.large", "")),
    "ec2_metal_documented": ("bare_metal", signs(DEBIAN, init={"HOME": "/"}, clock="tsc"),
                             ("Amazon EC2", "c7i.metal-24xl", "")),
    # A QEMU/KVM guest whose owner hid it (-cpu qemu64,-hypervisor,kvm=off,
    # a real board's SMBIOS strings): CPUID's bit and KVM's clock are gone,
    # CPUID is trapped, and QEMU's processor model, its pc machine's
    # functions and its USB tablet remain.
    "qemu_hidden_documented": (branded("slow_cpuid", "QEMU Virtual CPU version 2.5+"),
                               signs(DEBIAN, files={
                                   "pci_devices": pci_table("80861237", "80867000", "1af41000", "1af41001"),
                                   "input_devices": input_table("AT Translated Set 2 keyboard",
                                                                "QEMU QEMU USB Tablet")},
                                     init={"HOME": "/"}, clock="tsc"),
                               ("ASUSTeK COMPUTER INC.", "PRIME B450M-A", "Rev X.0x")),
    # An Ampere Altra server (Neoverse N1 cores), bare metal.
    "ampere_metal_arm64_documented": (ARM64, arm64_signs(N1), ("Ampere Computing", "Mt.Jade", "1.0")),
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


def mac_registry(vendor, model):
    """An Intel Mac's platform device: data values ended by a NUL, the
    model also its product name."""
    return {"service": True, "properties": [
        {"key": key, "kind": "data", "length": len(text) + 1, "hex": (text + "\0").encode().hex()}
        for key, text in (("manufacturer", vendor), ("model", model), ("product-name", model))]}


def pci_functions(*functions):
    """The registry's PCI functions: (vendor, device, subsystem vendor,
    subsystem), None for an ID the registry does not give."""
    names = ("vendor", "device", "subsystem_vendor", "subsystem")
    return [{n: f"0x{0xFFFF if i is None else i:04x}" for n, i in zip(names, f)} for f in functions]


# What a VMware guest's registry lists: the 440BX chipset VMware emulates,
# its own functions (VMCI, SVGA II, PCI and PCI Express bridges, UHCI, EHCI,
# xHCI, AHCI) and the e1000e it gives macOS guests, with the subsystem IDs
# VMware gives them (open-vm-tools' vm_device_version.h; bridges have none).
VMWARE_MAC_PCI = pci_functions(
    (0x8086, 0x7190, 0x15AD, 0x1976), (0x8086, 0x7191, None, None), (0x8086, 0x7110, 0x15AD, 0x1976),
    (0x8086, 0x7113, 0x15AD, 0x1976), (0x15AD, 0x0740, 0x15AD, 0x0740), (0x15AD, 0x0405, 0x15AD, 0x0405),
    (0x15AD, 0x0790, None, None), (0x15AD, 0x07A0, None, None), (0x15AD, 0x0774, 0x15AD, 0x1976),
    (0x15AD, 0x0770, 0x15AD, 0x0770), (0x15AD, 0x0779, 0x15AD, 0x0779), (0x8086, 0x10D3, 0x15AD, 0x07D0),
    (0x15AD, 0x07E0, 0x15AD, 0x07E0))


# Intel Macs whose kernel sets kern.hv_vmm_present: name: (base dump, the
# platform device, and the PCI functions where the dump lists them).
MAC_CASES = {
    # A real Mac under a patcher for unsupported Macs, which sets the flag
    # so that updates are offered: no hypervisor bit, CPUID at native speed.
    "patched_mac_documented": ("bare_metal", mac_registry("Apple Inc.", "MacBookPro11,5")),
    # A VMware guest that hides its CPUID bit and reflects the host's
    # model (SMBIOS.reflectHost): CPUID is trapped all the same.
    "vmware_hidden_mac_documented": ("slow_cpuid", mac_registry("Apple Inc.", "MacPro7,1")),
    # The same guest whose run lists the PCI functions: VMware's own name it.
    "vmware_hidden_pci_mac_documented": ("slow_cpuid",
                                         {**mac_registry("Apple Inc.", "MacPro7,1"),
                                          "pci_functions": VMWARE_MAC_PCI}),
}


def write(name, dump, tool):
    """Writes the dump, replays it for its report, and writes both."""
    path = DUMPS / f"{name}.json"
    path.write_text(layout(dump) + "\n")
    report = subprocess.run([tool, "--replay", str(path)], check=True, capture_output=True).stdout
    (EXPECTED / f"{name}.json").write_bytes(report)
    dump["report"] = report.decode("ascii").rstrip("\n")
    path.write_text(layout(dump) + "\n")


def main():
    tool = sys.argv[1]
    for name, (base, registry) in MAC_CASES.items():
        dump = json.loads((DUMPS / f"{base}.json").read_text(), object_pairs_hook=dict)
        dump.pop("report", None)
        dump["sysctl"] = [{"name": "kern.hv_vmm_present", "read": True, "value": 1},
                          {"name": "sysctl.proc_translated", "read": True, "value": 0}]
        dump["registry"] = registry
        write(name, dump, tool)
    for name, (base, linux, *dmi) in CASES.items():
        if isinstance(base, dict):
            dump = copy.deepcopy(base)
        else:
            dump = json.loads((DUMPS / f"{base}.json").read_text(), object_pairs_hook=dict)
            dump.pop("report", None)
            # A Linux machine: no sysctl names.
            dump["sysctl"] = [{"name": n, "read": False, "value": 0}
                              for n in ("kern.hv_vmm_present", "sysctl.proc_translated")]
        # The DMI identity where the case has one.
        dump["registry"] = dmi_registry(*dmi[0]) if dmi else {"service": False, "properties": []}
        dump["linux"] = linux
        write(name, dump, tool)


if __name__ == "__main__":
    main()
