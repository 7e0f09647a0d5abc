// SPDX-License-Identifier: MIT
#pragma once

// The platform registry layer, shaped like the question the platform probe
// asks: is there a platform device, and what does each of its three identity
// properties hold? A binding answers with a RegistryValue per key; every rule
// of its platform (value types, the text buffer, releasing what it obtained)
// stays inside the binding.
//
// The native binding (native_registry.h) is IOKit on Apple (registry_iokit.h)
// and the kernel's DMI identity files elsewhere (registry_dmi.h); replay has
// its own.
//
// Beside it, where the platform's registry lists them (IOKit), the PCI
// functions, shaped like the question the devices probe asks: which
// functions are there, by their IDs (PciRegistry). Linux shows them in a
// table of its own instead, which the probe reads as a file.

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace oxa {

// Identity properties of the platform device, in the order the probe reads
// them, named as IOKit names them. Other registries answer each with their
// own field of that meaning, whatever it is called there: on Linux, DMI's
// product name answers `model` and DMI's product version `product_name`
// (posix/registry_dmi.h).
enum class RegistryKey : unsigned char { manufacturer, model, product_name };

inline constexpr RegistryKey kIdentityKeys[] = {RegistryKey::manufacturer, RegistryKey::model,
                                                RegistryKey::product_name};

// The registry's own name of each key.
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

// The buffer a string property is converted into, its NUL included; also
// the largest data property that is read.
inline constexpr std::size_t kIdentityBufferSize = 4096;

// Data properties are read only with 1 to kIdentityBufferSize bytes.
constexpr bool data_length_is_read(std::int64_t length) {
  return length >= 1 && length <= static_cast<std::int64_t>(kIdentityBufferSize);
}

enum class ValueKind : unsigned char { absent, string, data, other };

// What one identity property holds.
struct RegistryValue {
  ValueKind kind = ValueKind::absent;
  // The binding made identity text of it: a string converted into the
  // buffer (up to its first NUL), or all bytes of data whose length is read.
  bool readable = false;
  std::string_view text;         // when readable; valid while its holder lives
  std::int64_t data_length = 0;  // data: the length the platform reported
};

// The contracts. A registry hands out a device (false when there is none);
// a device hands out one value holder per key. Holders release what they
// obtained when they go, exceptions included, and are used in place.
template <class V>
concept RegistryValueHolder = requires(const V& holder) {
  { holder.get() }
  noexcept->std::same_as<RegistryValue>;
};

template <class D>
concept PlatformDevice = requires(const D& device, RegistryKey key) {
  { static_cast<bool>(device) }
  noexcept;
  { device.read(key) } -> RegistryValueHolder;
};

template <class R>
concept Registry = requires(R& registry) {
  { registry.platform_device() } -> PlatformDevice;
};

// The IDs of one PCI function's configuration header.
struct PciFunction {
  // What PCI reads where no function answers, and no function's ID: an ID
  // the registry did not give.
  static constexpr std::uint16_t kNone = 0xFFFF;

  std::uint16_t vendor = kNone;
  std::uint16_t device = kNone;
  std::uint16_t subsystem_vendor = kNone;
  std::uint16_t subsystem = kNone;

  friend constexpr bool operator==(const PciFunction&, const PciFunction&) = default;
};

// The properties of a PCI function's registry entry that hold its IDs, in
// the order they are read, named as IOKit names them.
enum class PciKey : unsigned char { vendor_id, device_id, subsystem_vendor_id, subsystem_id };

constexpr std::string_view key_name(PciKey key) {
  switch (key) {
    case PciKey::vendor_id:
      return "vendor-id";
    case PciKey::device_id:
      return "device-id";
    case PciKey::subsystem_vendor_id:
      return "subsystem-vendor-id";
    case PciKey::subsystem_id:
      return "subsystem-id";
  }
  return {};
}

// At most this many registry entries are read: a Mac has a few dozen PCI
// functions, and a registry of any size then costs bounded time and memory.
inline constexpr std::size_t kMaxPciFunctions = 256;

// Up to kMaxPciFunctions functions, held in place: a binding fills it
// without allocating.
class PciFunctions {
 public:
  // False, and nothing added, when it is full.
  bool add(const PciFunction& function) noexcept {
    if (full()) return false;
    functions_[size_++] = function;
    return true;
  }
  [[nodiscard]] bool full() const noexcept { return size_ == functions_.size(); }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] const PciFunction* begin() const noexcept { return functions_.data(); }
  [[nodiscard]] const PciFunction* end() const noexcept { return functions_.data() + size_; }

  friend bool operator==(const PciFunctions& a, const PciFunctions& b) noexcept {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  std::array<PciFunction, kMaxPciFunctions> functions_{};
  std::size_t size_ = 0;
};

// A registry that lists the PCI functions: nothing where it cannot be asked.
template <class R>
concept PciRegistry = requires(R& registry) {
  { registry.pci_functions() } -> std::same_as<std::optional<PciFunctions>>;
};

}  // namespace oxa
