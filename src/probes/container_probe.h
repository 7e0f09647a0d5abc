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
#include "platform/system.h"

namespace oxa {

// What the system showed of the signs, read once per run.
struct LinuxSigns {
  PathKind dockerenv = PathKind::absent;              // /.dockerenv
  PathKind containerenv = PathKind::absent;           // /run/.containerenv
  std::optional<std::string> systemd_container;       // /run/systemd/container
  std::optional<std::string> host_container_manager;  // /run/host/container-manager
  PathKind openvz = PathKind::absent;                 // /proc/vz
  PathKind openvz_host = PathKind::absent;            // /proc/bc, only where /proc/vz is
  PathKind kubernetes_account = PathKind::absent;     // the pod's service account folder
  std::optional<std::string> init_environment;        // /proc/1/environ, where read
  std::optional<std::string> cgroup;                  // /proc/self/cgroup, where read
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
  LinuxSigns signs;
  signs.dockerenv = system.path_kind("/.dockerenv");
  // Each runtime leaves only its own marker file.
  if (signs.dockerenv == PathKind::absent) signs.containerenv = system.path_kind("/run/.containerenv");
  // A runtime's own marker file says as much as a declaration would.
  if (signs.dockerenv == PathKind::absent && signs.containerenv == PathKind::absent) {
    signs.systemd_container = system.read_sign("/run/systemd/container");
    signs.host_container_manager = system.read_sign("/run/host/container-manager");
  }
  signs.kubernetes_account = system.path_kind("/var/run/secrets/kubernetes.io/serviceaccount");
  if (!container_seen(signs)) {
    signs.openvz = system.path_kind("/proc/vz");
    // The host of OpenVZ containers has both.
    if (signs.openvz != PathKind::absent) signs.openvz_host = system.path_kind("/proc/bc");
  }
  if (!container_seen(signs)) {
    signs.init_environment = system.read_sign("/proc/1/environ");
    // Without root, PID 1's environment is closed to us.
    if (!signs.init_environment) signs.cgroup = system.read_sign("/proc/self/cgroup");
  }
  signs.kernel_release = system.kernel_release();
  return signs;
}

// Records the probe "container" and a finding per sign seen.
void detect_container(Result& result, const LinuxSigns& signs);

// Records the probe "compatibility" and a finding for WSL 1.
void detect_compatibility(Result& result, const LinuxSigns& signs);

}  // namespace oxa
