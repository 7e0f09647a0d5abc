// SPDX-License-Identifier: MIT
#include "platform/macos/native_system.h"

#include <cstddef>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#include <sys/types.h>
#else
#include "platform/macos/macos_declarations.h"
#endif

namespace oxa {

std::optional<std::int32_t> read_sysctl_int32(const char* name) noexcept {
  std::int32_t value = 0;
  std::size_t length = sizeof value;
  if (::sysctlbyname(name, &value, &length, nullptr, 0) != 0) return std::nullopt;
  return value;
}

}  // namespace oxa
