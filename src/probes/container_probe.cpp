#include "probes/container_probe.h"

#include <cstddef>
#include <string_view>
#include <utility>

namespace oxa {
namespace {

using namespace std::string_view_literals;
using inputs::Sign;
using inputs::sign_path;

constexpr std::int32_t kDeclared = 95;        // the manager says so itself
constexpr std::int32_t kMarkerFile = 90;      // a file only that runtime leaves
constexpr std::int32_t kCgroupPath = 80;      // the runtime's name in our cgroup path
constexpr std::int32_t kServiceAccount = 70;  // a pod's credentials are mounted

// The vendor word of a declared container manager; anything else that
// declares itself is "container-other".
std::string_view declared_vendor(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> names[] = {
      {"docker"sv, "docker"sv},
      {"podman"sv, "podman"sv},
      {"lxc"sv, "lxc"sv},
      {"lxc-libvirt"sv, "lxc"sv},
      {"systemd-nspawn"sv, "systemd-nspawn"sv},
      {"openvz"sv, "openvz"sv},
      {"wsl"sv, "wsl"sv},
  };
  for (const auto& [declared, vendor] : names) {
    if (declared == name) return vendor;
  }
  return "container-other"sv;
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
  result.add("container", "container", declared_vendor(name), kDeclared, detail);
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
  static constexpr std::pair<std::string_view, std::string_view> markers[] = {
      {"/docker/"sv, "docker"sv}, {"/docker-"sv, "docker"sv},  {"/libpod-"sv, "podman"sv},
      {"/lxc/"sv, "lxc"sv},       {"/lxc.payload"sv, "lxc"sv}, {"/kubepods"sv, "kubernetes"sv},
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
        if (contains(path, marker))
          result.add("container", "container", vendor, kCgroupPath, sign_path(Sign::cgroup));
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
  result.probe("container", looked ? "ok" : "unavailable");

  if (s.dockerenv != PathKind::absent)
    result.add("container", "container", "docker", kMarkerFile, sign_path(Sign::dockerenv));
  if (s.containerenv != PathKind::absent) {
    result.add("container", "container", "podman", kMarkerFile, sign_path(Sign::containerenv));
  }
  if (s.systemd_container) declaration(result, declared_name(*s.systemd_container), Sign::systemd_container);
  if (s.host_container_manager) {
    declaration(result, declared_name(*s.host_container_manager), Sign::host_container_manager);
  }
  if (s.openvz != PathKind::absent && s.openvz_host == PathKind::absent) {
    std::string detail = sign_path(Sign::openvz);
    detail += " without ";
    detail += sign_path(Sign::openvz_host);
    result.add("container", "container", "openvz", kMarkerFile, detail);
  }
  if (s.kubernetes_account == PathKind::folder) {
    result.add("container", "container", "kubernetes", kServiceAccount, sign_path(Sign::kubernetes_account));
  }
  if (s.init_environment)
    declaration(result, container_variable(*s.init_environment), Sign::init_environment, "container=");
  if (s.cgroup) cgroup_paths(result, *s.cgroup);
  // WSL 2 runs each distribution in a container of its own inside a
  // Hyper-V machine; its kernels name themselves in lower case.
  if (s.kernel_release && contains(*s.kernel_release, "microsoft")) {
    result.add("container", "container", "wsl", kMarkerFile, release_detail(*s.kernel_release));
  }
}

void detect_compatibility(Result& result, const LinuxSigns& s) {
  result.probe("compatibility", s.kernel_release ? "ok" : "unavailable");
  // WSL 1 translates Linux system calls for the Windows kernel, whose
  // release it reports with a capital M.
  if (s.kernel_release && contains(*s.kernel_release, "Microsoft")) {
    result.add("compatibility", "compatibility", "wsl", kDeclared, release_detail(*s.kernel_release));
  }
}

}  // namespace oxa
