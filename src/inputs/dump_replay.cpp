// SPDX-License-Identifier: MIT
#include "inputs/dump_replay.h"

#include "inputs/replay_layers.h"

namespace oxa::inputs {

Replay replay_dump(const Dump& dump) {
  MissingInput missing;
  ReplayProcessor processor(dump, missing);
  ReplayRegistry registry(dump, missing);
  std::optional<Run> run;
  try {
    // A dump holds the Linux signs exactly where its system showed them.
    if (dump.linux_signs) {
      ReplayLinuxSystem system(dump, *dump.linux_signs, missing);
      run = run_detection(processor, system, registry);
    } else {
      ReplaySystem system(dump, missing);
      run = run_detection(processor, system, registry);
    }
  } catch (const ReplayEnded&) {
    return {std::nullopt, "dump has " + describe(missing)};
  }
  // A record that its own samples contradict is a hand-edited dump.
  if (dump.timing) {
    const std::optional<Timing> measured = replay_timing(dump);
    if (!measured || measured->available != dump.timing->available || measured->valid != dump.timing->valid ||
        measured->cycles_over_baseline != dump.timing->cycles_over_baseline) {
      return {std::nullopt, "timing record does not match its samples"};
    }
  }
  return {std::move(run), {}};
}

std::optional<Timing> replay_timing(const Dump& dump) {
  MissingInput missing;
  ReplayProcessor processor(dump, missing);
  ReplaySystem system(dump, missing);
  try {
    return measure_timing(processor, system);
  } catch (const ReplayEnded&) {
    return std::nullopt;
  }
}

}  // namespace oxa::inputs
