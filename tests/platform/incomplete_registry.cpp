// SPDX-License-Identifier: MIT
// Must not compile: a registry fake that lacks platform_device(). The test
// that builds it expects the compiler to name the contract it breaks.

#include <optional>

#include "core/evidence.h"
#include "identity/platform_probe.h"

namespace {

struct QuietSystem {
  static constexpr oxa::Platform kPlatform = oxa::Platform::macos;
  std::optional<std::int32_t> hypervisor_flag() { return std::nullopt; }
  std::optional<std::int32_t> translated_flag() { return std::nullopt; }
  std::int64_t steady_ns() { return 0; }
  void* allocate(std::size_t /*size*/) { return nullptr; }
};

struct RegistryWithoutDevice {
  bool platform_device_present() { return false; }
};

}  // namespace

void run(oxa::Result& result) {
  QuietSystem system;
  RegistryWithoutDevice registry;
  oxa::detect_platform(result, system, registry);
}
