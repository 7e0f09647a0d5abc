#pragma once

// The operating-system layer of the detection run: kernel values by name, the
// steady clock, and the allocator of the block handed to the host. Probes and
// the run take it as a template argument; tests hand in a fake
// (FakeSystem), replay its own.

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace oxa {

template <class S>
concept System = requires(S& system, const char* name, std::int32_t& value, std::size_t size) {
  // sysctlbyname's meaning: 0 when the value was read, non-zero otherwise.
  { system.sysctl_int32(name, value) } -> std::same_as<int>;
  // Nanoseconds of a clock that never goes back.
  { system.steady_ns() } -> std::same_as<std::int64_t>;
  // malloc's meaning; the block is released with free().
  { system.allocate(size) } -> std::same_as<void*>;
};

// Reads a 32-bit kernel value by name (sysctlbyname on Apple; elsewhere no
// such names exist and every read fails). Defined per platform.
int read_sysctl_int32(const char* name, std::int32_t& value) noexcept;

class NativeSystem {
 public:
  int sysctl_int32(const char* name, std::int32_t& value) noexcept { return read_sysctl_int32(name, value); }

  std::int64_t steady_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void* allocate(std::size_t size) noexcept { return std::malloc(size); }
};

}  // namespace oxa
