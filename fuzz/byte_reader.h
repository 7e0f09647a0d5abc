// SPDX-License-Identifier: MIT
#pragma once

// Reads a fuzz input front to back. Past the end every read yields zeros, so
// a short input (a hand-made seed, say) leaves the rest at its defaults.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace oxa::fuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  [[nodiscard]] bool empty() const { return at_ == size_; }

  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }

  // Little-endian, as many bytes as T has.
  template <class T>
  T number() {
    static_assert(std::is_integral_v<T>);
    std::make_unsigned_t<T> value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      value |= static_cast<std::make_unsigned_t<T>>(static_cast<std::make_unsigned_t<T>>(u8()) << (8 * i));
    }
    return static_cast<T>(value);
  }

  // Up to n bytes; fewer at the end of the input.
  std::string_view bytes(std::size_t n) {
    const std::size_t take = n < size_ - at_ ? n : size_ - at_;
    const std::string_view out(reinterpret_cast<const char*>(data_ + at_), take);
    at_ += take;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace oxa::fuzz
