// SPDX-License-Identifier: MIT
#include "platform/macos/iokit_native.h"

#include "platform/macos/registry_iokit.h"

namespace oxa {

static_assert(kUtf8Encoding == kCFStringEncodingUTF8);
static_assert(Registry<IOKitRegistry<NativeIOKit>> && PciRegistry<IOKitRegistry<NativeIOKit>>);

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

CFStringRef key_string(PciKey key) noexcept {
  switch (key) {
    case PciKey::vendor_id:
      return CFSTR("vendor-id");
    case PciKey::device_id:
      return CFSTR("device-id");
    case PciKey::subsystem_vendor_id:
      return CFSTR("subsystem-vendor-id");
    case PciKey::subsystem_id:
      return CFSTR("subsystem-id");
  }
  return nullptr;
}

CFTypeRef property(io_service_t service, CFStringRef name, CFAllocatorRef allocator,
                   std::uint32_t options) noexcept {
  if (name == nullptr) return nullptr;
  return ::IORegistryEntryCreateCFProperty(service, name, allocator, options);
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

kern_return_t NativeIOKit::IOServiceGetMatchingServices(Port port, Dictionary matching,
                                                        Iterator* existing) noexcept {
  return ::IOServiceGetMatchingServices(port, matching, existing);
}

NativeIOKit::Service NativeIOKit::IOIteratorNext(Iterator iterator) noexcept {
  return ::IOIteratorNext(iterator);
}

NativeIOKit::Value NativeIOKit::IORegistryEntryCreateCFProperty(Service service, RegistryKey key,
                                                                Allocator allocator,
                                                                std::uint32_t options) noexcept {
  return property(service, key_string(key), allocator, options);
}

NativeIOKit::Value NativeIOKit::IORegistryEntryCreateCFProperty(Service service, PciKey key,
                                                                Allocator allocator,
                                                                std::uint32_t options) noexcept {
  return property(service, key_string(key), allocator, options);
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
