// Kernel values elsewhere than on macOS: none of the names the probes ask
// for exists, so every read fails, as a missing name fails on macOS.

#include "platform/system.h"

namespace oxa {

int read_sysctl_int32(const char* /*name*/, std::int32_t& /*value*/) noexcept { return -1; }

}  // namespace oxa
