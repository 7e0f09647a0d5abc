// Kernel values on macOS, by name. The Linux signs of containers and
// compatibility layers do not exist here.

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

PathKind native_path_kind(const char* /*root*/, const char* /*path*/) { return PathKind::absent; }

std::optional<std::string> native_read_sign(const char* /*root*/, const char* /*path*/) {
  return std::nullopt;
}

std::optional<std::string> native_kernel_release() { return std::nullopt; }

}  // namespace oxa
