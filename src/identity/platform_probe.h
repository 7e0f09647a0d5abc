#pragma once

// The platform probe: the kernel's hypervisor flag, then the identity strings
// of the platform device in the registry, each handed to firmware_marker.
// System and Registry are the layers of src/platform (system.h, registry.h);
// tests hand in fakes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/evidence.h"
#include "identity/firmware_markers.h"
#include "platform/registry_common.h"

namespace oxa {

template <class System, class Registry>
void detect_platform(Result& result, System& system, Registry& registry) {
  std::int32_t present = 0;
  if (system.sysctl_int32("kern.hv_vmm_present", present) != 0) {
    result.probe("system", "unavailable");
  } else {
    result.probe("system", "ok");
    if (present != 0) result.add("system", "guest", "unknown", 95, "kern.hv_vmm_present");
  }

  // The lookup consumes the matching dictionary whatever it finds.
  const ServiceGuard<Registry> service(
      registry, registry.IOServiceGetMatchingService(registry.main_port_default(),
                                                     registry.IOServiceMatching("IOPlatformExpertDevice")));
  if (!service) {
    result.probe("firmware", "unavailable");
    return;
  }

  static constexpr RegistryKey keys[] = {RegistryKey::manufacturer, RegistryKey::model,
                                         RegistryKey::product_name};
  constexpr std::size_t kBufferSize = 4096;
  bool readable = false;
  for (const RegistryKey key : keys) {
    const ValueGuard<Registry> value(registry, registry.IORegistryEntryCreateCFProperty(
                                                   service.get(), key, registry.allocator_default(), 0));
    if (!value) continue;

    const auto type = registry.CFGetTypeID(value.get());
    if (type == registry.CFStringGetTypeID()) {
      char buffer[kBufferSize];
      if (registry.CFStringGetCString(static_cast<typename Registry::StringRef>(value.get()), buffer,
                                      static_cast<typename Registry::Index>(kBufferSize), kUtf8Encoding)) {
        // Bounded, so a binding that forgot the NUL cannot make us read on.
        const char* end = std::find(buffer, buffer + kBufferSize, '\0');
        readable = true;
        firmware_marker(result, "firmware", std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
      }
    } else if (type == registry.CFDataGetTypeID()) {
      const auto data = static_cast<typename Registry::DataRef>(value.get());
      const auto length = registry.CFDataGetLength(data);
      if (length >= 1 && length <= static_cast<decltype(length)>(kBufferSize)) {
        // All bytes as stored: a trailing NUL is part of the text.
        const auto* bytes = registry.CFDataGetBytePtr(data);
        if (bytes != nullptr) {
          readable = true;
          firmware_marker(
              result, "firmware",
              std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)));
        }
      }
    }
  }
  result.probe("firmware", readable ? "ok" : "unavailable");
}

}  // namespace oxa
