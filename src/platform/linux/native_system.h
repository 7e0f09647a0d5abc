// SPDX-License-Identifier: MIT
#pragma once

// The system layer on Linux: no kernel flag of a hypervisor or of
// translation (the kernel has neither), the Linux signs of containers and
// compatibility layers.

#include <cstdint>
#include <optional>

#include "platform/posix/posix_system.h"
#include "platform/posix/sign_files.h"
#include "platform/system.h"

namespace oxa {

class NativeSystem : public PosixSystem, public SignFiles {
 public:
  NativeSystem() noexcept = default;
  // Signs are looked for below `root` instead of "/" (for tests).
  explicit NativeSystem(const char* root) noexcept : SignFiles(root) {}

  static constexpr Platform kPlatform = Platform::linux_os;

  std::optional<std::int32_t> hypervisor_flag() noexcept { return std::nullopt; }
  std::optional<std::int32_t> translated_flag() noexcept { return std::nullopt; }
};

static_assert(LinuxSystem<NativeSystem>);

}  // namespace oxa
