// SPDX-License-Identifier: MIT
#pragma once

// The IOKit and CoreFoundation calls the macOS registry binding makes, as
// they are; IOKitRegistry<NativeIOKit> is the native registry on Apple.

#include <cstdint>

#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#else
#include "platform/macos/macos_declarations.h"
#endif

#include "platform/registry.h"

namespace oxa {

class NativeIOKit {
 public:
  using Service = io_service_t;
  using Iterator = io_iterator_t;
  using Value = CFTypeRef;
  using StringRef = CFStringRef;
  using DataRef = CFDataRef;
  using Dictionary = CFMutableDictionaryRef;
  using TypeId = CFTypeID;
  using Index = CFIndex;
  using Port = mach_port_t;
  using Allocator = CFAllocatorRef;

  Port main_port_default() noexcept;
  Allocator allocator_default() noexcept;

  Dictionary IOServiceMatching(const char* class_name) noexcept;
  Service IOServiceGetMatchingService(Port port, Dictionary matching) noexcept;
  kern_return_t IOServiceGetMatchingServices(Port port, Dictionary matching, Iterator* existing) noexcept;
  Service IOIteratorNext(Iterator iterator) noexcept;
  Value IORegistryEntryCreateCFProperty(Service service, RegistryKey key, Allocator allocator,
                                        std::uint32_t options) noexcept;
  Value IORegistryEntryCreateCFProperty(Service service, PciKey key, Allocator allocator,
                                        std::uint32_t options) noexcept;
  TypeId CFGetTypeID(Value value) noexcept;
  TypeId CFStringGetTypeID() noexcept;
  TypeId CFDataGetTypeID() noexcept;
  bool CFStringGetCString(StringRef string, char* buffer, Index size, std::uint32_t encoding) noexcept;
  Index CFDataGetLength(DataRef data) noexcept;
  const UInt8* CFDataGetBytePtr(DataRef data) noexcept;
  void CFRelease(Value value) noexcept;
  kern_return_t IOObjectRelease(Service service) noexcept;
};

}  // namespace oxa
