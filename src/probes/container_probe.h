// SPDX-License-Identifier: MIT
#pragma once

// The Linux probes that name what the process runs in besides a machine: a
// container ("container") and a compatibility layer ("compatibility"). They
// run after the other probes, only where the system has such signs at all,
// and their findings carry no weight in the score.
//
// Vendor words: "docker", "podman", "lxc" (also LXD, Incus and the libvirt
// LXC driver), "systemd-nspawn", "openvz", "wsl", "kubernetes", "flatpak",
// "apptainer", and "container-other" for a container manager that declares
// itself under another name.
//
// Signs can lie, so they are weighed by who wrote them. A manager's
// declaration, made at run time (its variables in an environment, a file it
// writes under /run), wins over a marker file in the image, which an image
// export keeps: a marker names its runtime only while the kernel has put the
// process in a PID, UTS or IPC namespace of its own and the mounts show a
// runtime's work (a root from its storage, or the marker bound in). A
// private namespace alone is a sandbox (systemd's ProtectHostname=,
// unshare, bubblewrap, WSL 2), not a container. Pods, OpenVZ and WSL have
// signs of their own.

#include <optional>
#include <string>
#include <string_view>

#include "core/evidence.h"
#include "platform/linux/signs.h"
#include "platform/system.h"

namespace oxa {

// What the system showed of the signs, read once per run; each field is
// the answer at the path of the sign of that name (platform/linux/signs.h), unset
// or absent where it was not asked.
struct LinuxSigns {
  // Declared at run time.
  std::optional<std::string> own_environment;  // our own variables that matter
  std::optional<std::string> systemd_container;
  std::optional<std::string> host_container_manager;
  PathKind kubernetes_account = PathKind::absent;  // the pod's service account folder
  std::optional<std::string> init_environment;     // PID 1's variables that matter, where read
  // Left in the image.
  PathKind dockerenv = PathKind::absent;
  PathKind containerenv = PathKind::absent;
  PathKind flatpak_info = PathKind::absent;
  // The namespaces the kernel put us in, as "pid:[4026531836]".
  std::optional<std::string> pid_namespace;
  std::optional<std::string> uts_namespace;
  std::optional<std::string> ipc_namespace;
  // /proc/self/mountinfo, where a marker or a socket made it worth reading.
  std::optional<std::string> mountinfo;
  std::optional<std::string> cgroup;                // our own, where read
  std::optional<std::string> containerenv_content;  // where it can tell CRI-O from podman
  PathKind openvz = PathKind::absent;
  PathKind openvz_host = PathKind::absent;  // only where openvz is
  PathKind lxd_socket = PathKind::absent;
  PathKind incus_socket = PathKind::absent;
  std::optional<std::string> kernel_release;
};

// The conclusions the reading order rests on, each from the signs read so
// far. A runtime is known when something names the container's manager; a
// pod when Kubernetes is seen.
bool runtime_declared(const LinuxSigns& signs);
bool marker_seen(const LinuxSigns& signs);
// Whether a namespace sign reads as the kernel's initial namespace of its
// kind, which has a fixed identity; unread or unreadable is not.
bool initial_namespace(Sign sign, const std::optional<std::string>& identity);
// A PID, UTS or IPC namespace was read and is not the kernel's initial
// one. Unread or unreadable (a chroot without /proc) is not private.
bool in_private_namespace(const LinuxSigns& signs);
// What /proc/self/mountinfo says, each from its complete lines only. The
// root mount (the last line mounted at "/", as mounts stack) is one a
// runtime's storage makes: an overlay (Docker, Podman, containerd, CRI-O;
// fuse-overlayfs rootless), a directory bound as the root (LXC's and LXD's
// dir backend, Docker's vfs, `podman --rootfs`), a btrfs subvolume or ZFS
// dataset named by a 64-digit layer id (Docker's and Podman's btrfs and zfs
// drivers), or a directory inside a btrfs subvolume. A host's btrfs
// subvolume root ("/@", "/root"), a root "/" on a device, a tmpfs and
// composefs's overlay are not.
bool runtime_root(std::string_view mountinfo);
// Something is mounted at `path` (a bind of a file or folder).
bool mounted_at(std::string_view mountinfo, std::string_view path);
// A marker that names its runtime: a namespace of its own and mounts that
// agree. Anything else is a leftover of the image.
bool marker_counts(const LinuxSigns& signs);
bool runtime_known(const LinuxSigns& signs);
bool pod_seen(const LinuxSigns& signs);
// Whether the signs read so far name a container of any kind.
bool container_seen(const LinuxSigns& signs);

// Cheap signs first, and each costlier one only while it can still change
// the answer: our own environment (in memory), the declaration files, PID
// 1's environment (closed to a normal user, so nothing below depends on
// it), the marker files and, only with one, the namespaces that judge it
// and, only with a private one, the mounts; our cgroup paths while no
// runtime or pod is known; /proc/vz (a miss in /proc is a full lookup each
// time) and the LXD socket while nothing else spoke, and with the socket
// its PID namespace and the mounts.
template <LinuxSystem S>
LinuxSigns read_linux_signs(S& system) {
  LinuxSigns signs;
  signs.own_environment = system.environment(sign_path(Sign::own_environment));
  if (!runtime_declared(signs)) {
    signs.systemd_container = system.read_sign(sign_path(Sign::systemd_container));
    signs.host_container_manager = system.read_sign(sign_path(Sign::host_container_manager));
  }
  if (!pod_seen(signs)) signs.kubernetes_account = system.path_kind(sign_path(Sign::kubernetes_account));
  if (!runtime_declared(signs) || !pod_seen(signs)) {
    signs.init_environment = system.environment(sign_path(Sign::init_environment));
  }
  if (!runtime_declared(signs)) {
    signs.dockerenv = system.path_kind(sign_path(Sign::dockerenv));
    // Each runtime leaves only its own marker file.
    if (signs.dockerenv != PathKind::file)
      signs.containerenv = system.path_kind(sign_path(Sign::containerenv));
    if (!marker_seen(signs)) signs.flatpak_info = system.path_kind(sign_path(Sign::flatpak_info));
    // A private namespace of any of the three makes the marker count; stop
    // at the first.
    if (marker_seen(signs)) {
      signs.pid_namespace = system.read_link(sign_path(Sign::pid_namespace));
      if (initial_namespace(Sign::pid_namespace, signs.pid_namespace))
        signs.uts_namespace = system.read_link(sign_path(Sign::uts_namespace));
      if (initial_namespace(Sign::uts_namespace, signs.uts_namespace))
        signs.ipc_namespace = system.read_link(sign_path(Sign::ipc_namespace));
    }
    // A sandbox has namespaces of its own too: only the mounts tell a
    // runtime's container from it.
    if (marker_seen(signs) && in_private_namespace(signs))
      signs.mountinfo = system.read_sign(sign_path(Sign::marker_mounts));
  }
  if (!runtime_known(signs) || !pod_seen(signs)) signs.cgroup = system.read_sign(sign_path(Sign::cgroup));
  // CRI-O leaves an empty .containerenv in every container of a pod; only
  // podman's own words in it tell podman then.
  if (signs.containerenv == PathKind::file && !runtime_declared(signs) && marker_counts(signs) &&
      pod_seen(signs)) {
    signs.containerenv_content = system.read_sign(sign_path(Sign::containerenv_content));
  }
  if (!container_seen(signs)) {
    signs.openvz = system.path_kind(sign_path(Sign::openvz));
    // The host of OpenVZ containers has both.
    if (signs.openvz != PathKind::absent) signs.openvz_host = system.path_kind(sign_path(Sign::openvz_host));
  }
  if (!container_seen(signs)) {
    // LXD's and Incus's socket is in their virtual machines too, where
    // their agent makes it: only a private PID namespace and their folder
    // mounted at its place make it a container's.
    signs.lxd_socket = system.path_kind(sign_path(Sign::lxd_socket));
    if (signs.lxd_socket == PathKind::absent)
      signs.incus_socket = system.path_kind(sign_path(Sign::incus_socket));
    if (signs.lxd_socket != PathKind::absent || signs.incus_socket != PathKind::absent) {
      if (!signs.pid_namespace) signs.pid_namespace = system.read_link(sign_path(Sign::socket_pid_namespace));
      if (!signs.mountinfo && signs.pid_namespace &&
          !initial_namespace(Sign::pid_namespace, signs.pid_namespace))
        signs.mountinfo = system.read_sign(sign_path(Sign::socket_mounts));
    }
  }
  signs.kernel_release = system.kernel_release();
  return signs;
}

// Records the probe "container" and a finding per sign that counts.
void detect_container(Result& result, const LinuxSigns& signs);

// Records the probe "compatibility" and a finding for WSL 1.
void detect_compatibility(Result& result, const LinuxSigns& signs);

}  // namespace oxa
