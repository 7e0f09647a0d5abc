// SPDX-License-Identifier: MIT
#include "platform/macos/iokit_native.h"

#include "platform/macos/registry_iokit.h"

namespace oxa {

static_assert(kUtf8Encoding == kCFStringEncodingUTF8);
static_assert(Registry<IOKitRegistry<NativeIOKit>>);

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

NativeIOKit::Port NativeIOKit::main_port_default() noexcept {
  // Renamed kIOMainPortDefault in macOS 12; the old name works everywhere
  // and both are the null port.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return kIOMasterPortDefault;
#pragma GCC diagnostic pop
}

NativeIOKit::Allocator NativeIOKit::allocator_default() noexcept { return kCFAllocatorDefault; }

NativeIOKit::Dictionary NativeIOKit::IOServiceMatching(const char* class_name) noexcept {
  return ::IOServiceMatching(class_name);
}

NativeIOKit::Service NativeIOKit::IOServiceGetMatchingService(Port port, Dictionary matching) noexcept {
  return ::IOServiceGetMatchingService(port, matching);
}

NativeIOKit::Value NativeIOKit::IORegistryEntryCreateCFProperty(Service service, RegistryKey key,
                                                                Allocator allocator,
                                                                std::uint32_t options) noexcept {
  const CFStringRef name = key_string(key);
  if (name == nullptr) return nullptr;
  return ::IORegistryEntryCreateCFProperty(service, name, allocator, options);
}

NativeIOKit::TypeId NativeIOKit::CFGetTypeID(Value value) noexcept { return ::CFGetTypeID(value); }

NativeIOKit::TypeId NativeIOKit::CFStringGetTypeID() noexcept { return ::CFStringGetTypeID(); }

NativeIOKit::TypeId NativeIOKit::CFDataGetTypeID() noexcept { return ::CFDataGetTypeID(); }

bool NativeIOKit::CFStringGetCString(StringRef string, char* buffer, Index size,
                                     std::uint32_t encoding) noexcept {
  return ::CFStringGetCString(string, buffer, size, encoding) != 0;
}

NativeIOKit::Index NativeIOKit::CFDataGetLength(DataRef data) noexcept { return ::CFDataGetLength(data); }

const UInt8* NativeIOKit::CFDataGetBytePtr(DataRef data) noexcept { return ::CFDataGetBytePtr(data); }

void NativeIOKit::CFRelease(Value value) noexcept { ::CFRelease(value); }

kern_return_t NativeIOKit::IOObjectRelease(Service service) noexcept { return ::IOObjectRelease(service); }

}  // namespace oxa
