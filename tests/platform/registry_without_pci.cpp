// SPDX-License-Identifier: MIT
// Must not compile: the macOS plan run over a registry that cannot list the
// PCI functions. The test that builds it expects the plan's own words.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "api/detection_run.h"

namespace {

struct QuietSystem {
  static constexpr oxa::Platform kPlatform = oxa::Platform::macos;
  std::optional<std::int32_t> hypervisor_flag() { return std::nullopt; }
  std::optional<std::int32_t> translated_flag() { return std::nullopt; }
  std::int64_t steady_ns() { return 0; }
  void* allocate(std::size_t /*size*/) { return nullptr; }
};

// The platform device alone, as Linux's DMI registry has it.
struct RegistryWithoutPci {
  struct Value {
    [[nodiscard]] oxa::RegistryValue get() const noexcept { return {}; }
  };
  struct Device {
    explicit operator bool() const noexcept { return false; }
    [[nodiscard]] Value read(oxa::RegistryKey /*key*/) const noexcept { return {}; }
  };
  [[nodiscard]] Device platform_device() const noexcept { return {}; }
};

}  // namespace

oxa::Run run() {
  oxa::Arm64Processor processor;
  QuietSystem system;
  RegistryWithoutPci registry;
  return oxa::run_detection(processor, system, registry);
}
