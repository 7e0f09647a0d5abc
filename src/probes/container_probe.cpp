// SPDX-License-Identifier: MIT
#include "probes/container_probe.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

#include "core/vocabulary.h"

namespace oxa {
namespace {

using namespace std::string_view_literals;

// How sure each sign is, on the report's scale.
constexpr std::int32_t kDeclared = weights::declared;              // the manager says so itself
constexpr std::int32_t kMarkerFile = weights::marked;              // a file only that runtime leaves
constexpr std::int32_t kCgroupPath = weights::indirect;            // the runtime's name in our cgroup path
constexpr std::int32_t kPodVariable = weights::indirect;           // set by the kubelet, but anyone may
constexpr std::int32_t kServiceAccount = weights::circumstantial;  // a pod's credentials are mounted

// The identities of the kernel's initial namespaces: fixed numbers
// (PROC_PID_INIT_INO and its neighbours in the kernel's proc_ns.h).
constexpr std::pair<Sign, std::string_view> kInitialNamespaces[] = {
    {Sign::pid_namespace, "pid:[4026531836]"sv},
    {Sign::uts_namespace, "uts:[4026531838]"sv},
    {Sign::ipc_namespace, "ipc:[4026531839]"sv},
};

// The variables of an environment answer, by name.
constexpr std::string_view kContainerVariable = environment_variables::container;
constexpr std::string_view kPodVariableName = environment_variables::kubernetes_service_host;
constexpr std::string_view kFlatpakVariable = environment_variables::flatpak_id;
constexpr std::string_view kApptainerVariables[] = {environment_variables::apptainer_container,
                                                    environment_variables::singularity_container};

// A finding of the container probe.
void add_container(Result& result, std::string_view vendor, std::int32_t weight, std::string_view detail) {
  result.add(sources::container, categories::container, vendor, weight, detail);
}

// The vendor word of a declared container manager: its own word where the
// vocabulary has it (so a new vendor needs no row here), else its alias;
// anything else that declares itself is "container-other".
std::string_view declared_vendor(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> aliases[] = {
      {"lxc-libvirt"sv, container_vendors::lxc},  // libvirt's LXC driver
  };
  for (const std::string_view vendor : kContainerVendors) {
    if (vendor == name) return vendor;
  }
  for (const auto& [alias, vendor] : aliases) {
    if (alias == name) return vendor;
  }
  return container_vendors::container_other;
}

// A declaration holds the manager's name, maybe with a line ending (from
// Windows too) or blanks around it.
std::string_view declared_name(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n"sv;
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

bool declares(const std::optional<std::string>& file) { return file && !declared_name(*file).empty(); }

// The value of `name` among the NUL-separated entries of an environment;
// null when it is not set.
std::optional<std::string_view> variable(const std::optional<std::string>& environment,
                                         std::string_view name) {
  if (!environment) return std::nullopt;
  std::string_view entries = *environment;
  while (!entries.empty()) {
    const std::size_t end = entries.find('\0');
    const std::string_view entry = entries.substr(0, end);
    if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=') {
      return entry.substr(name.size() + 1);
    }
    if (end == std::string_view::npos) break;
    entries.remove_prefix(end + 1);
  }
  return std::nullopt;
}

// A variable that is set and not empty.
bool has_variable(const std::optional<std::string>& environment, std::string_view name) {
  const auto value = variable(environment, name);
  return value && !declared_name(*value).empty();
}

bool own_sandbox(const LinuxSigns& s) {
  return has_variable(s.own_environment, kFlatpakVariable) ||
         std::any_of(std::begin(kApptainerVariables), std::end(kApptainerVariables),
                     [&](std::string_view name) { return has_variable(s.own_environment, name); });
}

// A runtime's container id: 64 lower-case hexadecimal digits.
bool container_id(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// "<prefix><id><suffix>", the whole segment.
bool id_between(std::string_view segment, std::string_view prefix, std::string_view suffix) {
  return segment.size() > prefix.size() + suffix.size() && segment.starts_with(prefix) &&
         segment.ends_with(suffix) &&
         container_id(segment.substr(prefix.size(), segment.size() - prefix.size() - suffix.size()));
}

// The vendor the cgroup path segment `segment`, after `parent`, was made
// for: only the shapes the runtimes make for their containers, never their
// own units on the host (docker.service, docker-compose@x.service,
// libpod-conmon-<id>.scope, lxc.monitor.x).
std::string_view segment_vendor(std::string_view parent, std::string_view segment, bool last) {
  using namespace container_vendors;
  // Docker: cgroupfs driver "/docker/<id>", systemd driver "docker-<id>.scope".
  if ((parent == "docker"sv && container_id(segment)) || id_between(segment, "docker-"sv, ".scope"sv))
    return docker;
  // Podman: systemd "libpod-<id>.scope", cgroupfs "/libpod_parent/libpod-<id>".
  if (id_between(segment, "libpod-"sv, ".scope"sv) || id_between(segment, "libpod-"sv, ""sv)) return podman;
  // LXC and LXD: "lxc.payload.<name>", before LXC 4 "/lxc/<name>".
  if ((segment.starts_with("lxc.payload."sv) && segment.size() > 12) ||
      (parent == "lxc"sv && !segment.empty()))
    return lxc;
  // The kubelet: "/kubepods/..." (cgroupfs) or "/kubepods.slice/..." (systemd).
  if ((segment == "kubepods"sv && !last) || segment.starts_with("kubepods."sv)) return kubernetes;
  return {};
}

// The vendors named by the paths of /proc/self/cgroup, each once:
// "hierarchy-ID:controllers:path" lines (cgroup v1, or v2 seen from the
// host's cgroup namespace). Calls `found` for each.
template <class Found>
void cgroup_vendors(std::string_view cgroup, Found found) {
  std::array<std::string_view, 4> seen{};
  std::size_t count = 0;
  while (!cgroup.empty()) {
    const std::size_t end = cgroup.find('\n');
    const std::string_view line = cgroup.substr(0, end);
    // A line without both colons is no entry.
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second != std::string_view::npos) {
      std::string_view path = line.substr(second + 1);
      std::string_view parent;
      while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        const bool last = slash == std::string_view::npos || slash + 1 == path.size();
        const std::string_view vendor = segment_vendor(parent, segment, last);
        if (!vendor.empty() &&
            std::find(seen.begin(), seen.begin() + count, vendor) == seen.begin() + count &&
            count < seen.size()) {
          seen[count++] = vendor;
          found(vendor);
        }
        if (slash == std::string_view::npos) break;
        parent = segment;
        path.remove_prefix(slash + 1);
      }
    }
    if (end == std::string_view::npos) break;
    cgroup.remove_prefix(end + 1);
  }
}

bool cgroup_names(const LinuxSigns& s, bool pod) {
  bool named = false;
  if (s.cgroup) {
    cgroup_vendors(*s.cgroup, [&](std::string_view vendor) {
      if ((vendor == container_vendors::kubernetes) == pod) named = true;
    });
  }
  return named;
}

bool private_pid_namespace(const LinuxSigns& s) {
  return s.pid_namespace && !initial_namespace(Sign::pid_namespace, s.pid_namespace);
}

// The fields of one line of /proc/self/mountinfo that matter: "36 35 98:0
// /root /mnt opts [optional...] - fstype source super-options". Paths keep
// the kernel's octal escapes ("\040"), which "/" and our paths never need.
struct Mount {
  std::string_view root;         // the path inside its filesystem
  std::string_view mount_point;  // the path the process sees
  std::string_view fstype;
  std::string_view source;
  std::string_view options;  // the superblock's
};

// Splits one line; false when it lacks a field.
bool parse_mount(std::string_view line, Mount& mount) {
  std::string_view fields[6];
  std::size_t count = 0;
  bool separated = false;  // past the lone "-"
  while (!line.empty()) {
    const std::size_t space = line.find(' ');
    const std::string_view field = line.substr(0, space);
    if (!separated && count < 5) {
      fields[count++] = field;  // ID, parent, major:minor, root, mount point
    } else if (!separated) {
      separated = field == "-"sv;  // the mount options, then optional fields
    } else if (count < 6) {
      fields[count++] = field;  // fstype, then source, then super options
      if (count == 6) {
        mount = {fields[3], fields[4], fields[5], {}, {}};
      }
    } else if (mount.source.data() == nullptr) {
      mount.source = field;
    } else {
      mount.options = field;
      return true;
    }
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return false;
}

// Calls `found` with each complete line's mount, in order: a last line
// without its newline may have been cut at the read limit.
template <class Found>
void each_mount(std::string_view mountinfo, Found found) {
  for (std::size_t end = mountinfo.find('\n'); end != std::string_view::npos; end = mountinfo.find('\n')) {
    Mount mount;
    if (parse_mount(mountinfo.substr(0, end), mount)) found(mount);
    mountinfo.remove_prefix(end + 1);
  }
}

// The value of `name=` among comma-separated options; empty when unset.
std::string_view option(std::string_view options, std::string_view name) {
  while (!options.empty()) {
    const std::size_t comma = options.find(',');
    const std::string_view entry = options.substr(0, comma);
    if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
      return entry.substr(name.size() + 1);
    if (comma == std::string_view::npos) break;
    options.remove_prefix(comma + 1);
  }
  return {};
}

// The last component of a path or dataset name.
std::string_view last_component(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// Whether a root mount is one a runtime's storage makes (see runtime_root).
bool runtime_storage(const Mount& m) {
  // The runtimes mount their layers as "overlay" from the source
  // "overlay"; composefs (ostree hosts) mounts one from "composefs".
  if (m.fstype == "overlay"sv) return m.source == "overlay"sv;
  if (m.fstype == "fuse.fuse-overlayfs"sv) return true;
  if (m.fstype == "btrfs"sv) {
    // A host mounts a subvolume as its root ("/@", "/root"): the root is
    // the subvolume itself. The drivers' subvolumes are named by a layer
    // id; a directory inside a subvolume is a bind. Without "subvol=" (a
    // kernel before 4.2) nothing tells the two apart: no runtime.
    const std::string_view subvolume = option(m.options, "subvol"sv);
    return container_id(last_component(m.root)) || (!subvolume.empty() && m.root != subvolume);
  }
  if (m.fstype == "zfs"sv && container_id(last_component(m.source))) return true;
  // A directory bound as the root: the root field names it.
  return m.root != "/"sv;
}

bool socket_seen(const LinuxSigns& s) {
  return s.lxd_socket != PathKind::absent || s.incus_socket != PathKind::absent;
}

// LXD and Incus bind their folder holding the socket at /dev/lxd or
// /dev/incus in each container (the whole folder, or the socket alone).
bool socket_bound(const LinuxSigns& s) {
  if (!s.mountinfo) return false;
  const bool lxd = s.lxd_socket != PathKind::absent;
  const std::string_view socket = sign_path(lxd ? Sign::lxd_socket : Sign::incus_socket);
  const std::string_view folder = socket.substr(0, socket.rfind('/'));
  return mounted_at(*s.mountinfo, folder) || mounted_at(*s.mountinfo, socket);
}

bool lxd_seen(const LinuxSigns& s) { return socket_seen(s) && private_pid_namespace(s) && socket_bound(s); }

bool openvz_seen(const LinuxSigns& s) {
  return s.openvz != PathKind::absent && s.openvz_host == PathKind::absent;
}

// A manager's declaration of itself; the detail names where it was read:
// "/run/systemd/container: lxc", "/proc/1/environ: container=lxc".
void declaration(Result& result, std::string_view name, Sign sign, std::string_view prefix = {}) {
  name = declared_name(name);
  if (name.empty()) return;
  std::string detail = sign_path(sign);
  detail += ": ";
  detail += prefix;
  detail += name;
  add_container(result, declared_vendor(name), kDeclared, detail);
}

// What a manager sets in an environment: its name in container=, a
// sandbox's own variables (ours only), Kubernetes' service.
void environment_findings(Result& result, const std::optional<std::string>& environment, Sign sign) {
  if (const auto name = variable(environment, kContainerVariable)) {
    declaration(result, *name, sign, "container=");
  }
  if (sign == Sign::own_environment) {
    if (const auto id = variable(environment, kFlatpakVariable); id && !declared_name(*id).empty()) {
      std::string detail = sign_path(sign);
      detail += ": ";
      detail += kFlatpakVariable;
      add_container(result, container_vendors::flatpak, kDeclared, detail);
    }
    for (const std::string_view name : kApptainerVariables) {
      if (!has_variable(environment, name)) continue;
      std::string detail = sign_path(sign);
      detail += ": ";
      detail += name;
      add_container(result, container_vendors::apptainer, kDeclared, detail);
      break;
    }
  }
  if (has_variable(environment, kPodVariableName)) {
    std::string detail = sign_path(sign);
    detail += ": ";
    detail += kPodVariableName;
    add_container(result, container_vendors::kubernetes, kPodVariable, detail);
  }
}

std::string release_detail(std::string_view release) {
  std::string detail = "kernel release ";
  detail += release;
  return detail;
}

}  // namespace

bool initial_namespace(Sign sign, const std::optional<std::string>& identity) {
  if (!identity) return false;
  for (const auto& [namespace_sign, initial] : kInitialNamespaces) {
    if (namespace_sign == sign) return *identity == initial;
  }
  return false;
}

bool runtime_declared(const LinuxSigns& s) {
  return has_variable(s.own_environment, kContainerVariable) || own_sandbox(s) ||
         declares(s.systemd_container) || declares(s.host_container_manager) ||
         has_variable(s.init_environment, kContainerVariable);
}

// The runtimes write their markers as plain files; anything else there is
// not theirs.
bool marker_seen(const LinuxSigns& s) {
  return s.dockerenv == PathKind::file || s.containerenv == PathKind::file ||
         s.flatpak_info == PathKind::file;
}

bool in_private_namespace(const LinuxSigns& s) {
  const std::pair<Sign, const std::optional<std::string>*> namespaces[] = {
      {Sign::pid_namespace, &s.pid_namespace},
      {Sign::uts_namespace, &s.uts_namespace},
      {Sign::ipc_namespace, &s.ipc_namespace},
  };
  return std::any_of(std::begin(namespaces), std::end(namespaces),
                     [](const auto& n) { return *n.second && !initial_namespace(n.first, *n.second); });
}

bool runtime_root(std::string_view mountinfo) {
  std::optional<Mount> root;
  each_mount(mountinfo, [&](const Mount& m) {
    if (m.mount_point == "/"sv) root = m;  // mounts stack: the last one is seen
  });
  return root && runtime_storage(*root);
}

bool mounted_at(std::string_view mountinfo, std::string_view path) {
  bool mounted = false;
  each_mount(mountinfo, [&](const Mount& m) { mounted = mounted || m.mount_point == path; });
  return mounted;
}

bool marker_counts(const LinuxSigns& s) {
  if (!marker_seen(s) || !in_private_namespace(s) || !s.mountinfo) return false;
  if (runtime_root(*s.mountinfo)) return true;
  // Podman, CRI-O and Flatpak bind their marker in at run time; Docker's
  // is a file of the container's own layer.
  return (s.containerenv == PathKind::file && mounted_at(*s.mountinfo, sign_path(Sign::containerenv))) ||
         (s.flatpak_info == PathKind::file && mounted_at(*s.mountinfo, sign_path(Sign::flatpak_info)));
}

bool runtime_known(const LinuxSigns& s) {
  return runtime_declared(s) || marker_counts(s) || cgroup_names(s, false) || openvz_seen(s) || lxd_seen(s);
}

bool pod_seen(const LinuxSigns& s) {
  return has_variable(s.own_environment, kPodVariableName) ||
         has_variable(s.init_environment, kPodVariableName) || s.kubernetes_account == PathKind::folder ||
         cgroup_names(s, true);
}

bool container_seen(const LinuxSigns& s) { return runtime_known(s) || pod_seen(s); }

void detect_container(Result& result, const LinuxSigns& s) {
  // Absence is an answer too, but only one that some read confirms.
  const bool looked = s.own_environment || s.systemd_container || s.host_container_manager ||
                      s.init_environment || marker_seen(s) || s.cgroup || s.kernel_release;
  result.probe(sources::container, looked ? statuses::ok : statuses::unavailable);

  environment_findings(result, s.own_environment, Sign::own_environment);
  if (s.systemd_container) declaration(result, *s.systemd_container, Sign::systemd_container);
  if (s.host_container_manager) declaration(result, *s.host_container_manager, Sign::host_container_manager);
  if (s.kubernetes_account == PathKind::folder) {
    add_container(result, container_vendors::kubernetes, kServiceAccount,
                  sign_path(Sign::kubernetes_account));
  }
  environment_findings(result, s.init_environment, Sign::init_environment);
  // A marker only where no manager declared itself, and only in namespaces
  // a runtime made.
  if (!runtime_declared(s) && marker_counts(s)) {
    if (s.dockerenv == PathKind::file)
      add_container(result, container_vendors::docker, kMarkerFile, sign_path(Sign::dockerenv));
    // In a pod, an empty .containerenv is CRI-O's; podman's privileged
    // containers name it inside.
    const bool crio = pod_seen(s) && !(s.containerenv_content && contains(*s.containerenv_content, "podman"));
    if (s.containerenv == PathKind::file && !crio)
      add_container(result, container_vendors::podman, kMarkerFile, sign_path(Sign::containerenv));
    if (s.flatpak_info == PathKind::file)
      add_container(result, container_vendors::flatpak, kMarkerFile, sign_path(Sign::flatpak_info));
  }
  if (s.cgroup) {
    cgroup_vendors(*s.cgroup, [&](std::string_view vendor) {
      add_container(result, vendor, kCgroupPath, sign_path(Sign::cgroup));
    });
  }
  if (openvz_seen(s)) {
    std::string detail = sign_path(Sign::openvz);
    detail += " without ";
    detail += sign_path(Sign::openvz_host);
    add_container(result, container_vendors::openvz, kMarkerFile, detail);
  }
  if (lxd_seen(s)) {
    std::string detail = sign_path(s.lxd_socket != PathKind::absent ? Sign::lxd_socket : Sign::incus_socket);
    detail += " in ";
    detail += *s.pid_namespace;
    add_container(result, container_vendors::lxc, kMarkerFile, detail);
  }
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
