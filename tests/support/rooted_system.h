// SPDX-License-Identifier: MIT
#pragma once

// The Linux system below a folder standing in for "/": the same sign files
// the native system reads, so tests of the Linux probes run on every host.

#include <cstdint>
#include <optional>

#include "platform/posix/posix_system.h"
#include "platform/posix/sign_files.h"
#include "platform/system.h"

namespace oxa::test {

class RootedSystem : public PosixSystem, public SignFiles {
 public:
  explicit RootedSystem(const char* root) noexcept : SignFiles(root) {}
  static constexpr Platform kPlatform = Platform::linux_os;
  std::optional<std::int32_t> hypervisor_flag() noexcept { return std::nullopt; }
  std::optional<std::int32_t> translated_flag() noexcept { return std::nullopt; }
};
static_assert(LinuxSystem<RootedSystem>);

}  // namespace oxa::test
