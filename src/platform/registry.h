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

#include <concepts>
#include <cstddef>
#include <cstdint>
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

}  // namespace oxa
