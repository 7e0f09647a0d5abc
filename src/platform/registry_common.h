#pragma once

// What every registry binding shares: the identity keys of the platform
// device, the text encoding the probe asks for, and the owning guards that
// release registry objects on every path out of a scope.
//
// A registry type mirrors the IOKit and CoreFoundation calls the platform
// probe makes, under their own names and with their meaning:
//   Types:  Service (io_service_t, 0 = none), Value (CFTypeRef, null = absent),
//           StringRef, DataRef (what a Value is cast to for the string and data
//           calls), Dictionary, TypeId, Index (signed), Port, Allocator.
//   Port       main_port_default();                    // kIOMasterPortDefault
//   Allocator  allocator_default();                    // kCFAllocatorDefault
//   Dictionary IOServiceMatching(const char* class_name);
//   Service    IOServiceGetMatchingService(Port, Dictionary);  // consumes it
//   Value      IORegistryEntryCreateCFProperty(Service, RegistryKey, Allocator,
//                                              std::uint32_t options);
//   TypeId     CFGetTypeID(Value), CFStringGetTypeID(), CFDataGetTypeID();
//   bool       CFStringGetCString(StringRef, char* buffer, Index size,
//                                 std::uint32_t encoding);
//   Index      CFDataGetLength(DataRef);
//   const unsigned char* CFDataGetBytePtr(DataRef);
//   void       CFRelease(Value);        // must not throw
//   int        IOObjectRelease(Service);  // must not throw

#include <cstdint>
#include <string_view>

namespace oxa {

// Identity properties of the platform device. Each binding maps them to its
// own key objects.
enum class RegistryKey : unsigned char { manufacturer, model, product_name };

constexpr std::string_view key_name(RegistryKey key) {
  switch (key) {
    case RegistryKey::manufacturer:
      return "manufacturer";
    case RegistryKey::model:
      return "model";
    case RegistryKey::product_name:
      return "product-name";
  }
  return {};
}

// kCFStringEncodingUTF8.
inline constexpr std::uint32_t kUtf8Encoding = 0x08000100;

// Holds one registry service and releases it once, unless it is 0.
template <class Registry>
class ServiceGuard {
 public:
  using Service = typename Registry::Service;

  ServiceGuard(Registry& registry, Service service) noexcept : registry_(registry), service_(service) {}
  ~ServiceGuard() {
    if (service_ != Service{}) registry_.IOObjectRelease(service_);
  }
  ServiceGuard(const ServiceGuard&) = delete;
  ServiceGuard& operator=(const ServiceGuard&) = delete;

  [[nodiscard]] Service get() const noexcept { return service_; }
  explicit operator bool() const noexcept { return service_ != Service{}; }

 private:
  Registry& registry_;
  Service service_;
};

// Holds one property value and releases it once, unless it is null.
template <class Registry>
class ValueGuard {
 public:
  using Value = typename Registry::Value;

  ValueGuard(Registry& registry, Value value) noexcept : registry_(registry), value_(value) {}
  ~ValueGuard() {
    if (value_ != nullptr) registry_.CFRelease(value_);
  }
  ValueGuard(const ValueGuard&) = delete;
  ValueGuard& operator=(const ValueGuard&) = delete;

  [[nodiscard]] Value get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != nullptr; }

 private:
  Registry& registry_;
  Value value_;
};

}  // namespace oxa
