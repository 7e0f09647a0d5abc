// SPDX-License-Identifier: MIT
// Compiled, never linked: the whole run instantiated with the macOS layers
// over the native calls, so every cast and call they make is checked against
// the framework types.

#include "api/detection_run.h"
#include "platform/macos/native_registry.h"
#include "platform/macos/native_system.h"
#include "platform/x86_64/native_processor.h"

namespace oxa {

template int detect_json<NativeProcessor, NativeSystem, NativeRegistry>(char**, NativeProcessor&,
                                                                        NativeSystem&,
                                                                        NativeRegistry&) noexcept;

}  // namespace oxa
