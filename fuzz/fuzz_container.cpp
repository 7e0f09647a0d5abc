// SPDX-License-Identifier: MIT
// Input: a flags byte, then five texts, each a u16 length and its bytes:
//   flags bit 0-1 /.dockerenv kind, 2-3 /run/.containerenv kind, 4 /proc/vz,
//   5 /proc/bc, 6 the service account folder, 7 unused;
//   /run/systemd/container, /run/host/container-manager, /proc/1/environ,
//   /proc/self/cgroup, the kernel release (a length of 0xFFFF: unreadable).
// Whatever the signs hold, the probes record one probe each, only vendor
// words of their documented set, and a finding whenever a sign is seen.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "byte_reader.h"
#include "core/evidence.h"
#include "probes/container_probe.h"
#include "report_check.h"

namespace {

using oxa::PathKind;
using oxa::fuzz::ByteReader;
using oxa::fuzz::check;

const std::set<std::string> kContainerVendors = {"docker", "podman", "lxc",        "systemd-nspawn",
                                                 "openvz", "wsl",    "kubernetes", "container-other"};

std::optional<std::string> text(ByteReader& in) {
  const auto length = in.number<std::uint16_t>();
  if (length == 0xFFFF) return std::nullopt;
  return std::string(in.bytes(length));
}

PathKind kind(unsigned bits) { return static_cast<PathKind>(bits & 3u); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const unsigned flags = in.u8();
  oxa::LinuxSigns signs;
  signs.dockerenv = kind(flags);
  signs.containerenv = kind(flags >> 2);
  signs.openvz = (flags & 0x10u) != 0 ? PathKind::folder : PathKind::absent;
  signs.openvz_host = (flags & 0x20u) != 0 ? PathKind::folder : PathKind::absent;
  signs.kubernetes_account = (flags & 0x40u) != 0 ? PathKind::folder : PathKind::absent;
  signs.systemd_container = text(in);
  signs.host_container_manager = text(in);
  signs.init_environment = text(in);
  signs.cgroup = text(in);
  signs.kernel_release = text(in);

  oxa::Result result;
  oxa::detect_container(result, signs);
  check(result.probes.size() == 1 && result.probes[0].source == "container", "not one container probe");
  for (const oxa::Evidence& e : result.evidence) {
    check(e.source == "container" && e.category == "container", "a container finding of another kind");
    check(kContainerVendors.count(e.vendor) == 1, "a container vendor outside the documented set");
    check(e.weight >= 70 && e.weight <= 95, "a container weight outside 70 to 95");
  }
  check(!oxa::container_seen(signs) || !result.evidence.empty(), "a sign seen, but no finding");
  oxa::fuzz::check_record(result);

  oxa::Result compatibility;
  oxa::detect_compatibility(compatibility, signs);
  check(compatibility.probes.size() == 1 && compatibility.probes[0].source == "compatibility",
        "not one compatibility probe");
  for (const oxa::Evidence& e : compatibility.evidence) {
    check(e.source == "compatibility" && e.category == "compatibility" && e.vendor == "wsl",
          "a compatibility finding other than wsl");
  }
  oxa::fuzz::check_record(compatibility);
  return 0;
}
