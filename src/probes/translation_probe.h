// SPDX-License-Identifier: MIT
#pragma once

// The compatibility probe of a system without Linux signs (macOS): whether
// the process runs translated for another architecture, as an x86-64
// process does under Rosetta on Apple silicon. It runs after the other
// probes and its finding carries no weight in the score.

#include "core/evidence.h"

namespace oxa {

// Records the probe "compatibility" and, when the kernel's translation flag
// (kTranslatedFlagName) is set, a "rosetta" finding. The flag is the one the
// timing probe read (Timing::translated): it asks only of a processor with
// CPUID, a TSC and SSE2, and Rosetta emulates all three, so where it did not
// ask nothing is translated. A kernel without the flag (an Intel Mac) runs
// every process natively: the probe looked.
void detect_translation(Result& result, bool translated);

}  // namespace oxa
