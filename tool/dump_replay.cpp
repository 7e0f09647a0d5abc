#include "dump_replay.h"

#include <cstdlib>
#include <memory>

#include "api/detection_run.h"
#include "support/fake_registry.h"
#include "support/fake_system.h"
#include "support/scripted_processor.h"

namespace oxa::tool {
namespace {

constexpr std::int64_t kMaxDataBytes = 4096;

void load(const Dump& dump, test::ScriptedProcessor& processor, test::FakeSystem& system,
          test::FakeRegistry& registry) {
  processor.strict(true);
  for (const CpuidRecord& r : dump.cpuid) processor.append(r.leaf, r.subleaf, r.regs);
  processor.timestamps(dump.timestamps);

  system.strict(true);
  for (const SysctlRecord& r : dump.sysctl) {
    system.append_sysctl(r.name, r.read ? std::optional<std::int32_t>(r.value) : std::nullopt);
  }
  system.clock(dump.clock);

  registry.strict(true);
  if (dump.service) registry.set_service(*dump.service);
  for (const PropertyRecord& p : dump.properties) {
    switch (p.kind) {
      case PropertyKind::absent:
        registry.set_absent(p.key);
        break;
      case PropertyKind::string:
        if (p.converted) {
          registry.set_string(p.key, p.bytes);
        } else {
          registry.set_unconvertible_string(p.key);
        }
        break;
      case PropertyKind::data:
        // The reader made sure a length the probe reads has all its bytes.
        if (p.length >= 1 && p.length <= kMaxDataBytes) {
          registry.set_data(p.key, p.bytes);
        } else {
          registry.set_data_length(p.key, static_cast<test::FakeRegistry::Index>(p.length));
        }
        break;
      case PropertyKind::other:
        registry.set_other(p.key);
        break;
    }
  }
}

}  // namespace

Replay replay_dump(const Dump& dump) {
  test::ScriptedProcessor processor;
  test::FakeSystem system;
  test::FakeRegistry registry;
  load(dump, processor, system, registry);

  char* document = nullptr;
  const int status = detect_json(&document, processor, system, registry);
  const std::unique_ptr<char, void (*)(void*)> owned(document, &std::free);
  // The registry cannot stop the run, so its gap comes first: the processor
  // and the system end the run at theirs, before anything later is read.
  std::string missing(registry.missing());
  if (missing.empty()) missing = processor.missing();
  if (missing.empty()) missing = system.missing();
  if (!missing.empty()) return {{}, "dump has " + missing};
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
  test::ScriptedProcessor processor;
  test::FakeSystem system;
  test::FakeRegistry registry;
  load(dump, processor, system, registry);
  try {
    return measure_timing(processor, system);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

}  // namespace oxa::tool
