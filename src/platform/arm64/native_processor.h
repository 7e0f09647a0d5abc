// SPDX-License-Identifier: MIT
#pragma once

// The processor on arm64: nothing to execute. No CPUID, and no instruction
// a process may run whose cost a hypervisor reliably raises (see the timing
// probe); the processor's identity is what the kernel shows of it.

#include "platform/processor.h"

namespace oxa {

class NativeProcessor : public Arm64Processor {};

static_assert(Processor<NativeProcessor> && Arm64<NativeProcessor> && !CpuidProcessor<NativeProcessor>);

}  // namespace oxa
