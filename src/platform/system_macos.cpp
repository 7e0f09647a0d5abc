// Kernel values on macOS, by name.

#include <cstddef>

#include "platform/system.h"

#if defined(__APPLE__)
#include <sys/sysctl.h>
#include <sys/types.h>
#else
#include "platform/macos_declarations.h"
#endif

namespace oxa {

int read_sysctl_int32(const char* name, std::int32_t& value) noexcept {
  std::size_t length = sizeof value;
  return ::sysctlbyname(name, &value, &length, nullptr, 0);
}

}  // namespace oxa
