// SPDX-License-Identifier: MIT
#include "capture/dump_replay.h"

#include "capture/replay_layers.h"

namespace oxa::capture {

namespace {

// The run over the replay layers, with the processor of the dump's
// architecture.
template <Processor P>
std::optional<Run> replay_run(const Dump& dump, P& processor, MissingInput& missing) {
  ReplayRegistry registry(dump, missing);
  // A dump holds the Linux signs exactly where its system showed them.
  if (dump.linux_signs) {
    ReplayLinuxSystem system(dump, *dump.linux_signs, missing);
    return run_detection(processor, system, registry);
  }
  ReplaySystem system(dump, missing);
  return run_detection(processor, system, registry);
}

}  // namespace

Replay replay_dump(const Dump& dump) {
  MissingInput missing;
  std::optional<Run> run;
  try {
    if (dump.architecture == Architecture::arm64) {
      Arm64Processor processor;
      run = replay_run(dump, processor, missing);
    } else {
      ReplayProcessor processor(dump, missing);
      run = replay_run(dump, processor, missing);
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
  ReplaySystem system(dump, missing);
  try {
    if (dump.architecture == Architecture::arm64) {
      Arm64Processor processor;
      return measure_timing(processor, system);
    }
    ReplayProcessor processor(dump, missing);
    return measure_timing(processor, system);
  } catch (const ReplayEnded&) {
    return std::nullopt;
  }
}

}  // namespace oxa::capture
