// SPDX-License-Identifier: MIT
#pragma once

// The registry on Linux: the kernel's DMI identity files.

#include "platform/posix/registry_dmi.h"

namespace oxa {
using NativeRegistry = DmiRegistry;
}  // namespace oxa
