// SPDX-License-Identifier: MIT
#pragma once

// What every native system answers alike: the steady clock and the C
// allocator, whose block the host releases through oxa_free.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace oxa {

class PosixSystem {
 public:
  std::int64_t steady_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void* allocate(std::size_t size) noexcept { return std::malloc(size); }
};

}  // namespace oxa
