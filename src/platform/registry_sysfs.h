#pragma once

// The registry where there is no IOKit: the firmware's identity strings as
// the kernel exposes them under /sys/class/dmi/id. "manufacturer" is
// sys_vendor, "model" is product_name and "product-name" is product_version,
// each a string value without its trailing newline. A file that cannot be
// read, or is not a plain file, is an absent property; a missing folder means
// there is no service. The service holds the open folder until released.

#include <cstdint>

#include "platform/registry_common.h"

namespace oxa {

class SysfsRegistry {
 public:
  struct Text;  // a property value: the file's bytes

  using Service = unsigned int;
  using Value = const void*;
  using StringRef = const Text*;
  using DataRef = const Text*;
  using Dictionary = const void*;
  using TypeId = unsigned long;
  using Index = long;
  using Port = unsigned int;
  using Allocator = const void*;

  static constexpr const char* kDefaultRoot = "/sys/class/dmi/id";

  // Allocates nothing, so a host's run can fail only inside its guard. The
  // root must outlive the registry.
  explicit SysfsRegistry(const char* root = kDefaultRoot) noexcept : root_(root) {}

  [[nodiscard]] Port main_port_default() const noexcept { return 0; }
  [[nodiscard]] Allocator allocator_default() const noexcept { return nullptr; }

  // Only the platform device's class is known; anything else matches nothing.
  Dictionary IOServiceMatching(const char* class_name) const noexcept;
  Service IOServiceGetMatchingService(Port port, Dictionary matching) const noexcept;
  // Reads the key's file into a new value, or returns null. Throws only
  // std::bad_alloc.
  Value IORegistryEntryCreateCFProperty(Service service, RegistryKey key, Allocator allocator,
                                        std::uint32_t options) const;
  TypeId CFGetTypeID(Value value) const noexcept;
  [[nodiscard]] TypeId CFStringGetTypeID() const noexcept;
  [[nodiscard]] TypeId CFDataGetTypeID() const noexcept;
  // Fails, like a CFString, when the text and its NUL do not fit or the
  // encoding is not UTF-8 (the bytes are passed on as they are).
  bool CFStringGetCString(StringRef string, char* buffer, Index size, std::uint32_t encoding) const noexcept;
  Index CFDataGetLength(DataRef data) const noexcept;
  const unsigned char* CFDataGetBytePtr(DataRef data) const noexcept;
  void CFRelease(Value value) const noexcept;
  // The status is informational only, as for IOKit's own call.
  int IOObjectRelease(Service service) const noexcept;  // NOLINT(modernize-use-nodiscard)

 private:
  const char* root_;
};

}  // namespace oxa
