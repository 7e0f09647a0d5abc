// SPDX-License-Identifier: MIT
#pragma once

// The native processor, system and registry of the platform this build is
// for. The OS is the build's: it puts the folder of that OS alone
// (src/platform/linux or macos) on the include path. The architecture is the
// compiler's target: a universal macOS build compiles each slice on its own,
// so no build-wide setting can choose it, and the build has already refused
// any architecture without a folder here.

#include "native_registry.h"
#include "native_system.h"

#if defined(__x86_64__)
#include "platform/x86_64/native_processor.h"
#elif defined(__aarch64__)
#include "platform/arm64/native_processor.h"
#else
#error "liboxa has no native processor for this architecture"
#endif
