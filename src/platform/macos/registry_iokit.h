// SPDX-License-Identifier: MIT
#pragma once

// The registry on macOS: the platform expert device of the IOKit registry,
// its properties read through CoreFoundation, and the IDs of its PCI
// functions (IOPCIDevice entries). Every IOKit and CF rule lives here: the
// matching dictionary handed on, string and data types told apart, strings
// converted as UTF-8 into a 4096-byte buffer and cut at their first NUL,
// data read only with 1 to 4096 bytes (a PCI ID only with 4), each value,
// service and iterator released exactly once, on every path.
//
// The framework calls come from Api, under their own names, so the binding
// runs here over the test suite's fake, which counts releases:
//   Types:  Service and Iterator (io_service_t, io_iterator_t, 0 = none),
//           Value (CFTypeRef, null = absent), StringRef and DataRef (what a
//           Value is cast to), Dictionary, TypeId, Index (signed), Port,
//           Allocator.
//   Port       main_port_default();                    // kIOMasterPortDefault
//   Allocator  allocator_default();                    // kCFAllocatorDefault
//   Dictionary IOServiceMatching(const char* class_name);
//   Service    IOServiceGetMatchingService(Port, Dictionary);  // consumes it
//   int        IOServiceGetMatchingServices(Port, Dictionary,  // consumes it;
//                                           Iterator* out);   // 0: success
//   Service    IOIteratorNext(Iterator);               // 0 at the end
//   Value      IORegistryEntryCreateCFProperty(Service, RegistryKey or PciKey,
//                                              Allocator, std::uint32_t options);
//   TypeId     CFGetTypeID(Value), CFStringGetTypeID(), CFDataGetTypeID();
//   bool       CFStringGetCString(StringRef, char* buffer, Index size,
//                                 std::uint32_t encoding);
//   Index      CFDataGetLength(DataRef);
//   const unsigned char* CFDataGetBytePtr(DataRef);
//   void       CFRelease(Value);
//   int        IOObjectRelease(Service or Iterator);
// None of them may throw.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/registry.h"

namespace oxa {

// kCFStringEncodingUTF8.
inline constexpr std::uint32_t kUtf8Encoding = 0x08000100;

template <class Api>
class IOKitRegistry : public Api {
 public:
  using Service = typename Api::Service;

  // One property value, obtained on construction and released once when it
  // goes. Used in place: `text` may point into it.
  class Value {
   public:
    Value(Api& api, Service service, RegistryKey key) noexcept
        : api_(api), ref_(api.IORegistryEntryCreateCFProperty(service, key, api.allocator_default(), 0)) {
      if (ref_ == nullptr) return;
      const auto type = api.CFGetTypeID(ref_);
      if (type == api.CFStringGetTypeID()) {
        value_.kind = ValueKind::string;
        if (api.CFStringGetCString(static_cast<typename Api::StringRef>(ref_), buffer_,
                                   static_cast<typename Api::Index>(kIdentityBufferSize), kUtf8Encoding)) {
          // Bounded, so a framework that forgot the NUL cannot make us read on.
          const char* end = std::find(buffer_, buffer_ + kIdentityBufferSize, '\0');
          value_.readable = true;
          value_.text = std::string_view(buffer_, static_cast<std::size_t>(end - buffer_));
        }
      } else if (type == api.CFDataGetTypeID()) {
        value_.kind = ValueKind::data;
        const auto data = static_cast<typename Api::DataRef>(ref_);
        value_.data_length = static_cast<std::int64_t>(api.CFDataGetLength(data));
        if (data_length_is_read(value_.data_length)) {
          // All bytes as stored: a trailing NUL is part of the text.
          if (const auto* bytes = api.CFDataGetBytePtr(data); bytes != nullptr) {
            value_.readable = true;
            value_.text = std::string_view(reinterpret_cast<const char*>(bytes),
                                           static_cast<std::size_t>(value_.data_length));
          }
        }
      } else {
        value_.kind = ValueKind::other;
      }
    }
    ~Value() {
      if (ref_ != nullptr) api_.CFRelease(ref_);
    }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    [[nodiscard]] RegistryValue get() const noexcept { return value_; }

   private:
    Api& api_;
    typename Api::Value ref_;
    RegistryValue value_;
    char buffer_[kIdentityBufferSize];
  };

  // The platform expert device, released once when this goes, unless none
  // was found.
  class Device {
   public:
    Device(Api& api, Service service) noexcept : api_(api), service_(service) {}
    ~Device() {
      if (service_ != Service{}) api_.IOObjectRelease(service_);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    explicit operator bool() const noexcept { return service_ != Service{}; }
    [[nodiscard]] Value read(RegistryKey key) const noexcept { return {api_, service_, key}; }

   private:
    Api& api_;
    Service service_;
  };

  // The lookup takes over the matching dictionary whatever it finds.
  [[nodiscard]] Device platform_device() noexcept {
    Api& api = *this;
    return Device(api, api.IOServiceGetMatchingService(api.main_port_default(),
                                                       api.IOServiceMatching("IOPlatformExpertDevice")));
  }

  // The IDs of the first kMaxPciFunctions IOPCIDevice entries, skipping
  // those without a readable vendor ID; nothing where the registry cannot
  // be asked. The bound counts entries read, not functions kept, so a
  // registry of unreadable entries costs no more than one of functions.
  [[nodiscard]] std::optional<PciFunctions> pci_functions() noexcept {
    Api& api = *this;
    using Iterator = typename Api::Iterator;
    Iterator iterator{};
    // The lookup takes over the matching dictionary whatever it finds.
    if (api.IOServiceGetMatchingServices(api.main_port_default(), api.IOServiceMatching("IOPCIDevice"),
                                         &iterator) != 0 ||
        iterator == Iterator{}) {
      return std::nullopt;
    }
    std::optional<PciFunctions> functions(std::in_place);
    for (std::size_t read = 0; read < kMaxPciFunctions; ++read) {
      const Service service = api.IOIteratorNext(iterator);
      if (service == Service{}) break;
      if (const std::optional<std::uint16_t> vendor = pci_id(service, PciKey::vendor_id)) {
        functions->add(
            {.vendor = *vendor,
             .device = pci_id(service, PciKey::device_id).value_or(PciFunction::kNone),
             .subsystem_vendor = pci_id(service, PciKey::subsystem_vendor_id).value_or(PciFunction::kNone),
             .subsystem = pci_id(service, PciKey::subsystem_id).value_or(PciFunction::kNone)});
      }
      api.IOObjectRelease(service);
    }
    api.IOObjectRelease(iterator);
    return functions;
  }

 private:
  // An entry's ID as IOPCIDevice holds it: data of 4 bytes, little-endian,
  // the ID in the low half. Anything else is no ID. Nothing between taking
  // the value and releasing it can throw.
  std::optional<std::uint16_t> pci_id(Service service, PciKey key) noexcept {
    Api& api = *this;
    const typename Api::Value ref =
        api.IORegistryEntryCreateCFProperty(service, key, api.allocator_default(), 0);
    if (ref == nullptr) return std::nullopt;
    std::optional<std::uint16_t> id;
    if (api.CFGetTypeID(ref) == api.CFDataGetTypeID()) {
      const auto data = static_cast<typename Api::DataRef>(ref);
      if (api.CFDataGetLength(data) == 4) {
        if (const auto* bytes = api.CFDataGetBytePtr(data); bytes != nullptr) {
          id = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
        }
      }
    }
    api.CFRelease(ref);
    return id;
  }
};

}  // namespace oxa
