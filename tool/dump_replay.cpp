#include "dump_replay.h"

#include <cstdlib>
#include <memory>

#include "api/detection_run.h"
#include "replay_layers.h"

namespace oxa::tool {

Replay replay_dump(const Dump& dump) {
  MissingInput missing;
  ReplayProcessor processor(dump, missing);
  ReplaySystem system(dump, missing);
  ReplayRegistry registry(dump, missing);

  char* document = nullptr;
  const int status = detect_json(&document, processor, system, registry);
  const std::unique_ptr<char, void (*)(void*)> owned(document, &std::free);
  if (missing) return {{}, "dump has " + describe(missing)};
  if (status != OXA_OK) return {{}, "replay failed with status " + std::to_string(status)};
  // A record that its own samples contradict is a hand-edited dump.
  if (dump.timing) {
    const std::optional<Timing> measured = replay_timing(dump);
    if (!measured || measured->available != dump.timing->available || measured->valid != dump.timing->valid ||
        measured->cycles_over_baseline != dump.timing->cycles_over_baseline) {
      return {{}, "timing record does not match its samples"};
    }
  }
  return {std::string(owned.get()), {}};
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

}  // namespace oxa::tool
