// SPDX-License-Identifier: MIT
#pragma once

// Running the detection over a dump: the replay layers answer every read
// from what the dump recorded, and a read it did not record ends the replay
// with an error instead of a guess.

#include <optional>
#include <string>

#include "api/detection_run.h"
#include "capture/dump.h"
#include "probes/timing_probe.h"

namespace oxa::capture {

struct Replay {
  std::optional<Run> run;  // on success
  std::string error;       // one line, else
};

// Throws only what the run throws besides a missing input (bad_alloc).
Replay replay_dump(const Dump& dump);

// The Timing record the dump's timing inputs give, or nothing when they are
// incomplete.
std::optional<Timing> replay_timing(const Dump& dump);

}  // namespace oxa::capture
