// SPDX-License-Identifier: MIT
#pragma once

// The registry on Windows: no platform device is read yet (the firmware's
// tables come later), so there is none.

#include "platform/registry.h"

namespace oxa {

class NativeRegistry {
 public:
  struct Value {
    [[nodiscard]] RegistryValue get() const noexcept { return {}; }
  };
  struct Device {
    explicit operator bool() const noexcept { return false; }
    [[nodiscard]] Value read(RegistryKey /*key*/) const noexcept { return {}; }
  };
  [[nodiscard]] Device platform_device() const noexcept { return {}; }
};

static_assert(Registry<NativeRegistry>);

}  // namespace oxa
