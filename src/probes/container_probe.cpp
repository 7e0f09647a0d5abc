// SPDX-License-Identifier: MIT
#include "probes/container_probe.h"

#include <cstddef>
#include <string_view>
#include <utility>

#include "core/vocabulary.h"

namespace oxa {
namespace {

using namespace std::string_view_literals;
using inputs::Sign;
using inputs::sign_path;

// How sure each sign is, on the report's scale.
constexpr std::int32_t kDeclared = weights::declared;              // the manager says so itself
constexpr std::int32_t kMarkerFile = weights::marked;              // a file only that runtime leaves
constexpr std::int32_t kCgroupPath = weights::indirect;            // the runtime's name in our cgroup path
constexpr std::int32_t kServiceAccount = weights::circumstantial;  // a pod's credentials are mounted

// A finding of the container probe.
void add_container(Result& result, std::string_view vendor, std::int32_t weight, std::string_view detail) {
  result.add(sources::container, categories::container, vendor, weight, detail);
}

// The vendor word of a declared container manager; anything else that
// declares itself is "container-other".
std::string_view declared_vendor(std::string_view name) {
  using namespace container_vendors;
  static constexpr std::pair<std::string_view, std::string_view> names[] = {
      {"docker"sv, docker},
      {"podman"sv, podman},
      {"lxc"sv, lxc},
      {"lxc-libvirt"sv, lxc},
      {"systemd-nspawn"sv, systemd_nspawn},
      {"openvz"sv, openvz},
      {"wsl"sv, wsl},
  };
  for (const auto& [declared, vendor] : names) {
    if (declared == name) return vendor;
  }
  return container_other;
}

// A declaration file holds the manager's name and a newline.
std::string_view declared_name(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

// A manager's declaration of itself; the detail names where it was read:
// "/run/systemd/container: lxc", "/proc/1/environ: container=lxc".
void declaration(Result& result, std::string_view name, Sign sign, std::string_view prefix = {}) {
  if (name.empty()) return;
  std::string detail = sign_path(sign);
  detail += ": ";
  detail += prefix;
  detail += name;
  add_container(result, declared_vendor(name), kDeclared, detail);
}

// The value of container= among the NUL-separated entries of an environment.
std::string_view container_variable(std::string_view environment) {
  constexpr std::string_view kName = "container="sv;
  while (!environment.empty()) {
    const std::size_t end = environment.find('\0');
    const std::string_view entry = environment.substr(0, end);
    if (entry.starts_with(kName)) return entry.substr(kName.size());
    if (end == std::string_view::npos) break;
    environment.remove_prefix(end + 1);
  }
  return {};
}

// Runtimes that name themselves in the cgroup paths of their containers
// (cgroup v1, or v2 without a namespace of its own).
void cgroup_paths(Result& result, std::string_view cgroup) {
  using namespace container_vendors;
  static constexpr std::pair<std::string_view, std::string_view> markers[] = {
      {"/docker/"sv, docker}, {"/docker-"sv, docker},  {"/libpod-"sv, podman},
      {"/lxc/"sv, lxc},       {"/lxc.payload"sv, lxc}, {"/kubepods"sv, kubernetes},
  };
  while (!cgroup.empty()) {
    const std::size_t end = cgroup.find('\n');
    const std::string_view line = cgroup.substr(0, end);
    // hierarchy-ID:controllers:path; a line without both colons is no entry.
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second != std::string_view::npos) {
      const std::string_view path = line.substr(second + 1);
      for (const auto& [marker, vendor] : markers) {
        if (contains(path, marker)) add_container(result, vendor, kCgroupPath, sign_path(Sign::cgroup));
      }
    }
    if (end == std::string_view::npos) break;
    cgroup.remove_prefix(end + 1);
  }
}

std::string release_detail(std::string_view release) {
  std::string detail = "kernel release ";
  detail += release;
  return detail;
}

}  // namespace

bool container_seen(const LinuxSigns& s) {
  const auto declares = [](const std::optional<std::string>& file) {
    return file && !declared_name(*file).empty();
  };
  return s.dockerenv != PathKind::absent || s.containerenv != PathKind::absent ||
         declares(s.systemd_container) || declares(s.host_container_manager) ||
         (s.openvz != PathKind::absent && s.openvz_host == PathKind::absent) ||
         s.kubernetes_account == PathKind::folder ||
         (s.init_environment && !container_variable(*s.init_environment).empty());
}

void detect_container(Result& result, const LinuxSigns& s) {
  // Absence is an answer too, but only one that some read confirms.
  const bool looked = s.dockerenv != PathKind::absent || s.containerenv != PathKind::absent ||
                      s.systemd_container || s.host_container_manager || s.init_environment || s.cgroup ||
                      s.kernel_release;
  result.probe(sources::container, looked ? statuses::ok : statuses::unavailable);

  if (s.dockerenv != PathKind::absent)
    add_container(result, container_vendors::docker, kMarkerFile, sign_path(Sign::dockerenv));
  if (s.containerenv != PathKind::absent) {
    add_container(result, container_vendors::podman, kMarkerFile, sign_path(Sign::containerenv));
  }
  if (s.systemd_container) declaration(result, declared_name(*s.systemd_container), Sign::systemd_container);
  if (s.host_container_manager) {
    declaration(result, declared_name(*s.host_container_manager), Sign::host_container_manager);
  }
  if (s.openvz != PathKind::absent && s.openvz_host == PathKind::absent) {
    std::string detail = sign_path(Sign::openvz);
    detail += " without ";
    detail += sign_path(Sign::openvz_host);
    add_container(result, container_vendors::openvz, kMarkerFile, detail);
  }
  if (s.kubernetes_account == PathKind::folder) {
    add_container(result, container_vendors::kubernetes, kServiceAccount,
                  sign_path(Sign::kubernetes_account));
  }
  if (s.init_environment)
    declaration(result, container_variable(*s.init_environment), Sign::init_environment, "container=");
  if (s.cgroup) cgroup_paths(result, *s.cgroup);
  // WSL 2 runs each distribution in a container of its own inside a
  // Hyper-V machine; its kernels name themselves in lower case.
  if (s.kernel_release && contains(*s.kernel_release, "microsoft")) {
    add_container(result, container_vendors::wsl, kMarkerFile, release_detail(*s.kernel_release));
  }
}

void detect_compatibility(Result& result, const LinuxSigns& s) {
  result.probe(sources::compatibility, s.kernel_release ? statuses::ok : statuses::unavailable);
  // WSL 1 translates Linux system calls for the Windows kernel, whose
  // release it reports with a capital M.
  if (s.kernel_release && contains(*s.kernel_release, "Microsoft")) {
    result.add(sources::compatibility, categories::compatibility, compatibility_vendors::wsl, kDeclared,
               release_detail(*s.kernel_release));
  }
}

}  // namespace oxa
