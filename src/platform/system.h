#pragma once

// The operating-system layer for the detection run: kernel flags by name, the
// steady clock, and the allocator of the block handed to the host. Probes and
// the run take it as a template argument; tests hand in a fake
// (tests/support/fake_system.h).
//
// A system type provides:
//   int           sysctl_int32(const char* name, std::int32_t& value);
//                 // sysctlbyname semantics: 0 when read, non-zero otherwise
//   std::int64_t  steady_ns();
//   void*         allocate(std::size_t size);  // malloc semantics; freed by free()

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#include <sys/types.h>
#endif

namespace oxa {

class NativeSystem {
 public:
  int sysctl_int32(const char* name, std::int32_t& value) {
#if defined(__APPLE__)
    std::size_t length = sizeof value;
    return sysctlbyname(name, &value, &length, nullptr, 0);
#else
    // No sysctl names of interest exist elsewhere: the read fails.
    (void)name;
    (void)value;
    return -1;
#endif
  }

  std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void* allocate(std::size_t size) { return std::malloc(size); }
};

}  // namespace oxa
