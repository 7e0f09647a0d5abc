// SPDX-License-Identifier: MIT
#include "identity/device_tree.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/vocabulary.h"

namespace oxa {
namespace {

using namespace std::string_view_literals;

struct Compatible {
  std::string_view text;  // a whole entry of the list
  std::string_view vendor;
  std::int32_t weight;
};

// The board of QEMU's "virt" machine as the kernel's bindings name it. No
// physical board carries it, but kvmtool, crosvm, Firecracker and Cloud
// Hypervisor name their boards the same: a virtual machine of no one
// vendor, like a product called "Virtual Machine".
constexpr Compatible kBoards[] = {{"linux,dummy-virt"sv, kNoVendor, weights::indirect}};
// The node only Xen adds ("xen,xen-<version>" before it).
constexpr Compatible kHypervisorNodes[] = {{"xen,xen"sv, "xen"sv, weights::marked}};

bool well_formed(const std::optional<std::string>& list) {
  return list && !list->empty() && list->back() == '\0' && list->size() < kSignReadLimit;
}

void markers(Result& result, std::span<const Compatible> known, std::string_view list, Sign sign) {
  list.remove_suffix(1);  // the last entry's NUL
  for (std::size_t begin = 0; begin <= list.size();) {
    const std::size_t end = std::min(list.find('\0', begin), list.size());
    const std::string_view entry = list.substr(begin, end - begin);
    for (const Compatible& c : known) {
      if (c.text != entry) continue;
      // Xen's node is in its control domain's tree too, where the kernel
      // probe found the host.
      if (std::ranges::any_of(result.evidence, [&](const Evidence& e) {
            return e.category == categories::host && e.vendor == c.vendor;
          }))
        continue;
      std::string detail = sign_path(sign);
      detail += ": ";
      detail += c.text;
      result.add(sources::firmware, categories::guest, c.vendor, c.weight, detail);
    }
    begin = end + 1;
  }
}

}  // namespace

bool device_tree_markers(Result& result, const DeviceTree& tree) {
  if (!well_formed(tree.compatible)) return false;
  markers(result, kBoards, *tree.compatible, Sign::device_tree_compatible);
  if (well_formed(tree.hypervisor_compatible)) {
    markers(result, kHypervisorNodes, *tree.hypervisor_compatible, Sign::device_tree_hypervisor);
  }
  return true;
}

}  // namespace oxa
