// SPDX-License-Identifier: MIT
#pragma once

// The native processor, system and registry of the platform this build is
// for. The OS is the build's: it puts the folder of that OS alone
// (src/platform/linux, macos or windows) on the include path. The architecture is the
// compiler's target (platform/native_processor.h).

#include "native_registry.h"
#include "native_system.h"
#include "platform/native_processor.h"
