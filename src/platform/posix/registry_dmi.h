// SPDX-License-Identifier: MIT
#pragma once

// The registry where there is no IOKit: the firmware's identity strings as
// the Linux kernel exposes them, one file each in /sys/class/dmi/id. Each
// value is a string: the file's bytes without one trailing newline, cut at
// the first NUL, and unconvertible when it does not fit the 4096-byte buffer
// with its NUL, as a string that IOKit cannot convert. A file that cannot be
// read, or is anything but a plain file, is an absent property; a missing
// folder means there is no device.

#include "platform/registry.h"

namespace oxa {

// The DMI identity file that answers each key: the system's maker, its
// product name and the product's version. Mind the names: DMI's product
// name ("KVM", "VMware7,1") answers `model`, the machine's model identifier,
// and DMI's product version answers `product_name`. Dumps name the keys as
// IOKit does.
constexpr const char* dmi_file(RegistryKey key) {
  switch (key) {
    case RegistryKey::manufacturer:
      return "sys_vendor";
    case RegistryKey::model:
      return "product_name";
    case RegistryKey::product_name:
      return "product_version";
  }
  return nullptr;
}

class DmiRegistry {
 public:
  static constexpr const char* kDefaultRoot = "/sys/class/dmi/id";

  // One identity file's contents, read on construction; allocates nothing.
  class Value {
   public:
    Value(int folder, RegistryKey key) noexcept;
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    [[nodiscard]] RegistryValue get() const noexcept { return value_; }

   private:
    RegistryValue value_;
    // Room for the longest text that fits, its newline and one more byte,
    // which tells a file too long for the buffer.
    char buffer_[kIdentityBufferSize + 1];
  };

  // The open identity folder, closed when this goes.
  class Device {
   public:
    explicit Device(int folder) noexcept : folder_(folder) {}
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    explicit operator bool() const noexcept { return folder_ >= 0; }
    [[nodiscard]] Value read(RegistryKey key) const noexcept { return {folder_, key}; }

   private:
    int folder_;
  };

  // Allocates nothing, so a host's run can fail only inside its guard. The
  // root must outlive the registry.
  explicit DmiRegistry(const char* root = kDefaultRoot) noexcept : root_(root) {}

  [[nodiscard]] Device platform_device() const noexcept;

 private:
  const char* root_;
};

}  // namespace oxa
