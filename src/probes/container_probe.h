// SPDX-License-Identifier: MIT
#pragma once

// The Linux probes that name what the process runs in besides a machine: a
// container ("container") and a compatibility layer ("compatibility"). They
// run after the other probes, only where the system has such signs at all,
// and their findings carry no weight in the score.
//
// Vendor words: "docker", "podman", "lxc" (also the libvirt LXC driver),
// "systemd-nspawn", "openvz", "wsl", "kubernetes", and "container-other"
// for a container manager that declares itself under another name.

#include <optional>
#include <string>

#include "core/evidence.h"
#include "inputs/inputs.h"
#include "platform/system.h"

namespace oxa {

// What the system showed of the signs, read once per run; each field is
// the answer at the path of the sign of that name (inputs/inputs.h).
struct LinuxSigns {
  PathKind dockerenv = PathKind::absent;
  PathKind containerenv = PathKind::absent;
  std::optional<std::string> systemd_container;
  std::optional<std::string> host_container_manager;
  PathKind openvz = PathKind::absent;
  PathKind openvz_host = PathKind::absent;         // only where openvz is
  PathKind kubernetes_account = PathKind::absent;  // the pod's service account folder
  std::optional<std::string> init_environment;     // PID 1's, where read
  std::optional<std::string> cgroup;               // our own, where read
  std::optional<std::string> kernel_release;
};

// Whether the signs read so far name a container.
bool container_seen(const LinuxSigns& signs);

// Cheap signs first, and each costlier one only while nothing cheaper has
// spoken: the other marker file and the declaration files when no runtime
// left its marker file; /proc/vz (a miss in /proc is a full lookup each
// time, the kernel caches none) and PID 1's environment when no sign at all
// was seen; our cgroup paths when that environment is closed to us (the
// kernel builds both files on every read). Inside Docker that is two path
// lookups and uname.
template <LinuxSystem S>
LinuxSigns read_linux_signs(S& system) {
  using inputs::Sign;
  using inputs::sign_path;
  LinuxSigns signs;
  signs.dockerenv = system.path_kind(sign_path(Sign::dockerenv));
  // Each runtime leaves only its own marker file.
  if (signs.dockerenv == PathKind::absent)
    signs.containerenv = system.path_kind(sign_path(Sign::containerenv));
  // A runtime's own marker file says as much as a declaration would.
  if (signs.dockerenv == PathKind::absent && signs.containerenv == PathKind::absent) {
    signs.systemd_container = system.read_sign(sign_path(Sign::systemd_container));
    signs.host_container_manager = system.read_sign(sign_path(Sign::host_container_manager));
  }
  signs.kubernetes_account = system.path_kind(sign_path(Sign::kubernetes_account));
  if (!container_seen(signs)) {
    signs.openvz = system.path_kind(sign_path(Sign::openvz));
    // The host of OpenVZ containers has both.
    if (signs.openvz != PathKind::absent) signs.openvz_host = system.path_kind(sign_path(Sign::openvz_host));
  }
  if (!container_seen(signs)) {
    signs.init_environment = system.read_sign(sign_path(Sign::init_environment));
    // Without root, PID 1's environment is closed to us.
    if (!signs.init_environment) signs.cgroup = system.read_sign(sign_path(Sign::cgroup));
  }
  signs.kernel_release = system.kernel_release();
  return signs;
}

// Records the probe "container" and a finding per sign seen.
void detect_container(Result& result, const LinuxSigns& signs);

// Records the probe "compatibility" and a finding for WSL 1.
void detect_compatibility(Result& result, const LinuxSigns& signs);

}  // namespace oxa
