// SPDX-License-Identifier: MIT
// Compiled, never linked: the whole run instantiated with the macOS layers
// over the native calls, so every cast and call they make is checked against
// the framework types; once with the processor of the compiler's target,
// once with arm64's (which executes nothing, so any compiler builds it), as
// a universal macOS build compiles both slices.

#include "api/detection_run.h"
#include "platform/macos/native_registry.h"
#include "platform/macos/native_system.h"
#include "platform/native_processor.h"

namespace oxa {

template int detect_json<NativeProcessor, NativeSystem, NativeRegistry>(char**, NativeProcessor&,
                                                                        NativeSystem&,
                                                                        NativeRegistry&) noexcept;
template int detect_json<Arm64Processor, NativeSystem, NativeRegistry>(char**, Arm64Processor&, NativeSystem&,
                                                                       NativeRegistry&) noexcept;

}  // namespace oxa
