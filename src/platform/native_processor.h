// SPDX-License-Identifier: MIT
#pragma once

// The native processor of the compiler's target: a universal macOS build
// compiles each slice on its own, so no build-wide setting can choose it,
// and the build has already refused any architecture without a folder here.

#if defined(__x86_64__)
#include "platform/x86_64/native_processor.h"
#elif defined(__aarch64__)
#include "platform/arm64/native_processor.h"
#else
#error "liboxa has no native processor for this architecture"
#endif
