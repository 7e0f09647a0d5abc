// SPDX-License-Identifier: MIT
#include "probes/kernel_probe.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <string_view>

#include "core/vocabulary.h"

namespace oxa {
namespace {

using namespace std::string_view_literals;
using inputs::Sign;
using inputs::sign_path;

// A kernel file's value: one line.
std::string_view line_of(const std::optional<std::string>& text) {
  if (!text) return {};
  std::string_view value = *text;
  const std::size_t end = value.find_first_of("\n\r"sv);
  if (end != std::string_view::npos) value = value.substr(0, end);
  return value;
}

std::string_view clock_vendor(std::string_view clock) {
  if (clock == "kvm-clock"sv) return "kvm"sv;
  if (clock.starts_with("hyperv_clocksource"sv)) return "hyperv"sv;
  if (clock == "xen"sv) return "xen"sv;
  return {};
}

std::string_view ptp_vendor(std::string_view name) {
  if (name == "KVM virtual PTP"sv) return "kvm"sv;
  if (name == "hyperv"sv) return "hyperv"sv;
  return {};
}

// How sure each sign is: /sys/hypervisor exists only under Xen; the others
// are a driver the kernel bound because the hypervisor offered it, which
// another hypervisor may imitate.
std::int32_t weight_of(Sign sign) {
  return sign == Sign::hypervisor_type ? weights::marked : weights::indirect;
}

// Every sign that names a vendor: the hypervisor's, then QEMU's device.
constexpr Sign kNamingSigns[] = {Sign::hypervisor_type, Sign::clock_source, Sign::vmbus_devices,
                                 Sign::ptp0_clock,      Sign::ptp1_clock,   Sign::qemu_fw_cfg_rev};
constexpr auto kHypervisorSigns = std::span(kNamingSigns).first(std::size(kNamingSigns) - 1);

// The file a sign reads, where it reads one.
const std::optional<std::string>* text_of(Sign sign, const KernelSigns& s) {
  switch (sign) {
    case Sign::hypervisor_type:
      return &s.hypervisor_type;
    case Sign::clock_source:
      return &s.clock_source;
    case Sign::ptp0_clock:
      return &s.ptp0_clock;
    case Sign::ptp1_clock:
      return &s.ptp1_clock;
    default:
      return nullptr;
  }
}

// Xen's control domain runs the machine for the others: a host. Xen sets
// XENFEAT_dom0 in its feature bits only there; /proc/xen/capabilities
// "control_d" says the same where xenfs is mounted.
constexpr std::uint32_t kXenFeatureDom0 = 1u << 11;

}  // namespace

std::string_view kernel_vendor(Sign sign, const KernelSigns& s) {
  const std::optional<std::string>* text = text_of(sign, s);
  const std::string_view value = text != nullptr ? line_of(*text) : std::string_view{};
  switch (sign) {
    case Sign::hypervisor_type:
      return value == "xen"sv ? "xen"sv : std::string_view{};
    case Sign::clock_source:
      return clock_vendor(value);
    case Sign::vmbus_devices:
      return s.vmbus_devices == PathKind::folder ? "hyperv"sv : std::string_view{};
    case Sign::qemu_fw_cfg_rev:
      return s.qemu_fw_cfg_rev == PathKind::file ? "qemu"sv : std::string_view{};
    case Sign::ptp0_clock:
    case Sign::ptp1_clock:
      return ptp_vendor(value);
    default:
      return {};
  }
}

std::optional<std::uint32_t> xen_feature_bits(const std::optional<std::string>& text) {
  // One "%08x" per submap of 32 bits, the highest first, then a newline
  // (drivers/xen/sys-hypervisor.c); XENFEAT_NR_SUBMAPS is 1 today. Anything
  // else, a read cut short included, says nothing.
  if (!text || !text->ends_with('\n')) return std::nullopt;
  const std::string_view digits = std::string_view(*text).substr(0, text->size() - 1);
  if (digits.empty() || digits.size() % 8 != 0) return std::nullopt;
  std::uint32_t bits = 0;
  const char* const end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(end - 8, end, bits, 16);
  const bool hex = std::ranges::all_of(digits, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
  if (!hex || error != std::errc() || stop != end) return std::nullopt;
  return bits;
}

bool kernel_named(const KernelSigns& s) {
  return std::ranges::any_of(kHypervisorSigns, [&](Sign sign) { return !kernel_vendor(sign, s).empty(); });
}

namespace {
bool xen_control_domain(const KernelSigns& s) {
  if (const std::optional<std::uint32_t> bits = xen_feature_bits(s.xen_features))
    return (*bits & kXenFeatureDom0) != 0;
  return s.xen_capabilities && contains(*s.xen_capabilities, "control_d");
}
}  // namespace

void detect_kernel(Result& result, const KernelSigns& s) {
  // Every Linux kernel shows its clock source; without it, nothing was seen.
  const bool looked = s.hypervisor_type || s.clock_source || s.vmbus_devices != PathKind::absent ||
                      s.ptp0_clock || s.ptp1_clock || s.qemu_fw_cfg_rev != PathKind::absent;
  result.probe(sources::system, looked ? statuses::ok : statuses::unavailable);
  for (const Sign sign : kNamingSigns) {
    const std::string_view vendor = kernel_vendor(sign, s);
    if (vendor.empty()) continue;
    std::string detail = sign_path(sign);
    // The file's value where there is one, as the kernel wrote it.
    if (const std::optional<std::string>* text = text_of(sign, s); text != nullptr) {
      detail += ": ";
      detail += line_of(*text);
    }
    const bool dom0 = sign == Sign::hypervisor_type && xen_control_domain(s);
    result.add(sources::system, dom0 ? categories::host : categories::guest, vendor, weight_of(sign), detail);
  }
}

}  // namespace oxa
