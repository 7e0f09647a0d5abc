#pragma once

// The registry binding of the platform we are built for.

#if defined(__APPLE__)
#include "platform/iokit_native.h"
#include "platform/registry_iokit.h"
namespace oxa {
using NativeRegistry = IOKitRegistry<NativeIOKit>;
}  // namespace oxa
#else
#include "platform/registry_dmi.h"
namespace oxa {
using NativeRegistry = DmiRegistry;
}  // namespace oxa
#endif
