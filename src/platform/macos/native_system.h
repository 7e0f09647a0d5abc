// SPDX-License-Identifier: MIT
#pragma once

// The system layer on macOS: both kernel flags through sysctlbyname. The
// Linux signs do not exist here, so this system does not show them.

#include <cstdint>
#include <optional>

#include "platform/posix/posix_system.h"
#include "platform/system.h"

namespace oxa {

// A 32-bit kernel value by name; nothing when the kernel has no such name.
std::optional<std::int32_t> read_sysctl_int32(const char* name) noexcept;

class NativeSystem : public PosixSystem {
 public:
  static constexpr Platform kPlatform = Platform::macos;

  std::optional<std::int32_t> hypervisor_flag() noexcept { return read_sysctl_int32(kHypervisorFlagName); }
  std::optional<std::int32_t> translated_flag() noexcept { return read_sysctl_int32(kTranslatedFlagName); }
};

static_assert(System<NativeSystem> && !LinuxSystem<NativeSystem>);

}  // namespace oxa
