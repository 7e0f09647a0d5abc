// SPDX-License-Identifier: MIT
#pragma once

// Each platform's plan of one detection run: which probes run and in what
// order, one specialization per platform, beside it in this folder. The run
// follows the plan of the platform its system answers for (System's
// kPlatform), so a platform without a plan does not compile.

#include "core/evidence.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace oxa {

template <Platform>
struct RunPlan;  // static void run(Result&, Processor&, System&, Registry&)

}  // namespace oxa
