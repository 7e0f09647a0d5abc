// SPDX-License-Identifier: MIT
#pragma once

// The device tree of a Linux system booted without ACPI (arm64 guests of a
// direct kernel boot, Xen's arm64 guests), which has no DMI identity: the
// board the root node is compatible with, and the node Xen adds for itself.
// Read below /sys/firmware/devicetree/base, the folder /proc/device-tree
// links to, so that no link is followed on the way.

#include <optional>
#include <string>

#include "core/evidence.h"
#include "platform/linux/signs.h"
#include "platform/system.h"

namespace oxa {

struct DeviceTree {
  std::optional<std::string> compatible;             // the root node's
  std::optional<std::string> hypervisor_compatible;  // the "hypervisor" node's, where a tree was read
};

// Only a system with a device tree has a hypervisor node in it.
template <LinuxSystem S>
DeviceTree read_device_tree(S& system) {
  DeviceTree tree;
  tree.compatible = system.read_sign(sign_path(Sign::device_tree_compatible));
  if (tree.compatible) tree.hypervisor_compatible = system.read_sign(sign_path(Sign::device_tree_hypervisor));
  return tree;
}

// Records the "firmware" findings of the compatible lists; whether a
// well-formed root list was read. A list is NUL-separated strings, the last
// one ended by its NUL too; one without it, or one as long as a read of a
// sign may be (cut short, then), counts as absent.
bool device_tree_markers(Result& result, const DeviceTree& tree);

}  // namespace oxa
