// SPDX-License-Identifier: MIT
#pragma once

// The system layer on Windows: the steady clock and the C allocator. What
// Windows says of the hypervisor it runs on or under is not asked yet, and
// it has neither macOS's kernel flags nor Linux's signs.

#include <cstdint>
#include <optional>

#include "platform/posix/posix_system.h"
#include "platform/system.h"

namespace oxa {

class NativeSystem : public PosixSystem {
 public:
  static constexpr Platform kPlatform = Platform::windows;

  std::optional<std::int32_t> hypervisor_flag() noexcept { return std::nullopt; }
  std::optional<std::int32_t> translated_flag() noexcept { return std::nullopt; }
};

static_assert(System<NativeSystem> && !LinuxSystem<NativeSystem>);

}  // namespace oxa
