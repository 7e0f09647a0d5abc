// SPDX-License-Identifier: MIT
#pragma once

// The registry on macOS: IOKit's platform expert device.

#include "platform/macos/iokit_native.h"
#include "platform/macos/registry_iokit.h"

namespace oxa {
using NativeRegistry = IOKitRegistry<NativeIOKit>;
}  // namespace oxa
