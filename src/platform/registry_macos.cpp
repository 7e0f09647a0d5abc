#include "platform/registry_macos.h"

namespace oxa {

static_assert(kUtf8Encoding == kCFStringEncodingUTF8);

namespace {

CFStringRef key_string(RegistryKey key) noexcept {
  switch (key) {
    case RegistryKey::manufacturer:
      return CFSTR("manufacturer");
    case RegistryKey::model:
      return CFSTR("model");
    case RegistryKey::product_name:
      return CFSTR("product-name");
  }
  return nullptr;
}

}  // namespace

MacRegistry::Port MacRegistry::main_port_default() noexcept {
  // Renamed kIOMainPortDefault in macOS 12; the old name works everywhere
  // and both are the null port.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return kIOMasterPortDefault;
#pragma GCC diagnostic pop
}

MacRegistry::Allocator MacRegistry::allocator_default() noexcept { return kCFAllocatorDefault; }

MacRegistry::Dictionary MacRegistry::IOServiceMatching(const char* class_name) noexcept {
  return ::IOServiceMatching(class_name);
}

MacRegistry::Service MacRegistry::IOServiceGetMatchingService(Port port, Dictionary matching) noexcept {
  return ::IOServiceGetMatchingService(port, matching);
}

MacRegistry::Value MacRegistry::IORegistryEntryCreateCFProperty(Service service, RegistryKey key,
                                                                Allocator allocator,
                                                                std::uint32_t options) noexcept {
  const CFStringRef name = key_string(key);
  if (name == nullptr) return nullptr;
  return ::IORegistryEntryCreateCFProperty(service, name, allocator, options);
}

MacRegistry::TypeId MacRegistry::CFGetTypeID(Value value) noexcept { return ::CFGetTypeID(value); }

MacRegistry::TypeId MacRegistry::CFStringGetTypeID() noexcept { return ::CFStringGetTypeID(); }

MacRegistry::TypeId MacRegistry::CFDataGetTypeID() noexcept { return ::CFDataGetTypeID(); }

bool MacRegistry::CFStringGetCString(StringRef string, char* buffer, Index size,
                                     std::uint32_t encoding) noexcept {
  return ::CFStringGetCString(string, buffer, size, encoding) != 0;
}

MacRegistry::Index MacRegistry::CFDataGetLength(DataRef data) noexcept { return ::CFDataGetLength(data); }

const UInt8* MacRegistry::CFDataGetBytePtr(DataRef data) noexcept { return ::CFDataGetBytePtr(data); }

void MacRegistry::CFRelease(Value value) noexcept { ::CFRelease(value); }

kern_return_t MacRegistry::IOObjectRelease(Service service) noexcept { return ::IOObjectRelease(service); }

}  // namespace oxa
