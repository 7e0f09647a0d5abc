// SPDX-License-Identifier: MIT
#include "probes/kernel_probe.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "core/vocabulary.h"

namespace oxa {
namespace {

using namespace std::string_view_literals;

// A kernel file's value: one line.
std::string_view line_of(const std::optional<std::string>& text) {
  if (!text) return {};
  std::string_view value = *text;
  const std::size_t end = value.find_first_of("\n\r"sv);
  if (end != std::string_view::npos) value = value.substr(0, end);
  return value;
}

// How a row's answer matches: a file's first line, whole or its start, or
// what stands at the path.
enum class Match : unsigned char { line, line_prefix, folder, file };

// One value of a sign that names a hypervisor. /sys/hypervisor exists only
// under Xen (90); the others are a driver the kernel bound because the
// hypervisor offered it, which another hypervisor may imitate (80).
// Wrongly true on a host of the same hypervisor (Xen's dom0, Hyper-V's
// root partition), whose host finding passes them over. The sign leads, as
// it is read: the padding of ten constant rows does not matter.
struct KernelSignRow {  // NOLINT(clang-analyzer-optin.performance.Padding)
  Sign sign;
  std::optional<std::string> KernelSigns::*text = nullptr;  // read_sign's answer
  PathKind KernelSigns::*kind = nullptr;                    // path_kind's answer
  Match match;
  std::string_view value{};  // the line, or its start
  std::string_view vendor;
  std::int32_t weight = weights::indirect;
};

// The rows of a sign stand together, in the order the signs are read: the
// hypervisor's, then QEMU's device.
constexpr KernelSignRow kKernelSigns[] = {
    {.sign = Sign::hypervisor_type,
     .text = &KernelSigns::hypervisor_type,
     .match = Match::line,
     .value = "xen",
     .vendor = "xen",
     .weight = weights::marked},
    {.sign = Sign::clock_source,
     .text = &KernelSigns::clock_source,
     .match = Match::line,
     .value = "kvm-clock",
     .vendor = "kvm"},
    {.sign = Sign::clock_source,
     .text = &KernelSigns::clock_source,
     .match = Match::line_prefix,
     .value = "hyperv_clocksource",
     .vendor = "hyperv"},
    {.sign = Sign::clock_source,
     .text = &KernelSigns::clock_source,
     .match = Match::line,
     .value = "xen",
     .vendor = "xen"},
    {.sign = Sign::vmbus_devices,
     .kind = &KernelSigns::vmbus_devices,
     .match = Match::folder,
     .vendor = "hyperv"},
    {.sign = Sign::ptp0_clock,
     .text = &KernelSigns::ptp0_clock,
     .match = Match::line,
     .value = "KVM virtual PTP",
     .vendor = "kvm"},
    {.sign = Sign::ptp0_clock,
     .text = &KernelSigns::ptp0_clock,
     .match = Match::line,
     .value = "hyperv",
     .vendor = "hyperv"},
    {.sign = Sign::ptp1_clock,
     .text = &KernelSigns::ptp1_clock,
     .match = Match::line,
     .value = "KVM virtual PTP",
     .vendor = "kvm"},
    {.sign = Sign::ptp1_clock,
     .text = &KernelSigns::ptp1_clock,
     .match = Match::line,
     .value = "hyperv",
     .vendor = "hyperv"},
    {.sign = Sign::qemu_fw_cfg_rev,
     .kind = &KernelSigns::qemu_fw_cfg_rev,
     .match = Match::file,
     .vendor = "qemu"},
};
// QEMU's device, the last row, names the device model, not the hypervisor.
constexpr Sign kDeviceModelSign = Sign::qemu_fw_cfg_rev;

// Each row reads one answer, of the kind its match needs, and a sign's rows
// stand together.
constexpr bool rows_well_formed() {
  for (std::size_t i = 0; i < std::size(kKernelSigns); ++i) {
    const KernelSignRow& r = kKernelSigns[i];
    const bool by_kind = r.match == Match::folder || r.match == Match::file;
    if ((r.text != nullptr) == by_kind || (r.kind != nullptr) != by_kind) return false;
    for (std::size_t j = i + 2; j < std::size(kKernelSigns); ++j) {
      if (kKernelSigns[j].sign == r.sign && kKernelSigns[j - 1].sign != r.sign) return false;
    }
  }
  return kKernelSigns[std::size(kKernelSigns) - 1].sign == kDeviceModelSign;
}
static_assert(rows_well_formed());

bool matches(const KernelSignRow& row, const KernelSigns& s) {
  switch (row.match) {
    case Match::line:
      return line_of(s.*row.text) == row.value;
    case Match::line_prefix:
      return line_of(s.*row.text).starts_with(row.value);
    case Match::folder:
      return s.*row.kind == PathKind::folder;
    case Match::file:
      return s.*row.kind == PathKind::file;
  }
  return false;
}

// The row that names the hypervisor for a sign, or null.
const KernelSignRow* naming_row(Sign sign, const KernelSigns& s) {
  for (const KernelSignRow& row : kKernelSigns) {
    if (row.sign == sign && matches(row, s)) return &row;
  }
  return nullptr;
}

// Xen's control domain runs the machine for the others: a host. Xen sets
// XENFEAT_dom0 in its feature bits only there; /proc/xen/capabilities
// "control_d" says the same where xenfs is mounted.
constexpr std::uint32_t kXenFeatureDom0 = 1u << 11;

}  // namespace

std::string_view kernel_vendor(Sign sign, const KernelSigns& s) {
  const KernelSignRow* row = naming_row(sign, s);
  return row != nullptr ? row->vendor : std::string_view{};
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
  return std::ranges::any_of(kKernelSigns, [&](const KernelSignRow& row) {
    return row.sign != kDeviceModelSign && matches(row, s);
  });
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
  // A sign's first matching row names it; the signs in their rows' order.
  for (std::size_t i = 0; i < std::size(kKernelSigns); ++i) {
    const KernelSignRow& first = kKernelSigns[i];
    if (i > 0 && kKernelSigns[i - 1].sign == first.sign) continue;
    const KernelSignRow* row = naming_row(first.sign, s);
    if (row == nullptr) continue;
    std::string detail = sign_path(row->sign);
    // The file's value where there is one, as the kernel wrote it.
    if (row->text != nullptr) {
      detail += ": ";
      detail += line_of(s.*row->text);
    }
    const bool dom0 = row->sign == Sign::hypervisor_type && xen_control_domain(s);
    result.add(sources::system, dom0 ? categories::host : categories::guest, row->vendor, row->weight,
               detail);
  }
}

}  // namespace oxa
