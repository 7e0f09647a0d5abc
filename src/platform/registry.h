#pragma once

// The platform registry the detection run uses: IOKit on Apple, the
// kernel's DMI identity files elsewhere. Both follow the registry shape
// described in registry_common.h; tests hand in a fake
// (tests/support/fake_registry.h).

#if defined(__APPLE__)
#include "platform/registry_macos.h"
#else
#include "platform/registry_sysfs.h"
#endif

namespace oxa {

#if defined(__APPLE__)
using NativeRegistry = MacRegistry;
#else
using NativeRegistry = SysfsRegistry;
#endif

}  // namespace oxa
