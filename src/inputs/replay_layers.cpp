#include "inputs/replay_layers.h"

#include <cstdio>
#include <cstdlib>

namespace oxa::inputs {
namespace {

[[noreturn]] void end(MissingInput& slot, MissingInput missing) {
  if (!slot) slot = std::move(missing);
  throw ReplayEnded{};
}

}  // namespace

std::string describe(const MissingInput& missing) {
  switch (missing.kind) {
    case MissingInput::Kind::none:
      break;
    case MissingInput::Kind::cpuid: {
      char text[64];
      std::snprintf(text, sizeof text, "no CPUID leaf 0x%x sub-leaf %u", static_cast<unsigned>(missing.leaf),
                    static_cast<unsigned>(missing.subleaf));
      return text;
    }
    case MissingInput::Kind::timestamp:
      return "no timestamp " + std::to_string(missing.position) + " (it holds " +
             std::to_string(missing.held) + ")";
    case MissingInput::Kind::sysctl:
      return "no sysctl read of '" + missing.name + "'";
    case MissingInput::Kind::clock_reading:
      return "no clock reading " + std::to_string(missing.position) + " (it holds " +
             std::to_string(missing.held) + ")";
    case MissingInput::Kind::registry_device:
      return "no registry service record";
    case MissingInput::Kind::registry_property:
      return "no read of registry property '" + std::string(key_name(missing.key)) + "'";
    case MissingInput::Kind::linux_path:
      return "no linux path '" + missing.name + "'";
    case MissingInput::Kind::linux_file:
      return "no linux file '" + missing.name + "'";
    case MissingInput::Kind::kernel_release:
      return "no linux kernel release";
  }
  return {};
}

ReplayProcessor::ReplayProcessor(const Dump& dump, MissingInput& missing)
    : timestamps_(dump.timestamps), missing_(missing) {
  for (const CpuidRecord& r : dump.cpuid) cpuid_[{r.leaf, r.subleaf}].answers.push_back(r.regs);
}

CpuidRegisters ReplayProcessor::cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  const auto it = cpuid_.find({leaf, subleaf});
  if (it == cpuid_.end()) {
    end(missing_, {.kind = MissingInput::Kind::cpuid, .leaf = leaf, .subleaf = subleaf});
  }
  Answers& a = it->second;
  const std::size_t at = a.next < a.answers.size() ? a.next++ : a.answers.size() - 1;
  return a.answers[at];
}

std::uint64_t ReplayProcessor::rdtsc() {
  if (next_timestamp_ >= timestamps_.size()) {
    end(missing_,
        {.kind = MissingInput::Kind::timestamp, .position = next_timestamp_ + 1, .held = timestamps_.size()});
  }
  return timestamps_[next_timestamp_++];
}

ReplaySystem::ReplaySystem(const Dump& dump, MissingInput& missing) : missing_(missing), clock_(dump.clock) {
  for (const SysctlRecord& r : dump.sysctl) sysctl_[r.name].outcomes.push_back(&r);
}

std::optional<std::int32_t> ReplaySystem::flag(const char* name) {
  const auto it = sysctl_.find(std::string_view(name));
  if (it == sysctl_.end()) {
    end(missing_, {.kind = MissingInput::Kind::sysctl, .name = name});
  }
  Outcomes& o = it->second;
  const std::size_t at = o.next < o.outcomes.size() ? o.next++ : o.outcomes.size() - 1;
  const SysctlRecord& record = *o.outcomes[at];
  if (!record.read) return std::nullopt;
  return record.value;
}

std::int64_t ReplaySystem::steady_ns() {
  if (next_reading_ >= clock_.size()) {
    end(missing_,
        {.kind = MissingInput::Kind::clock_reading, .position = next_reading_ + 1, .held = clock_.size()});
  }
  return clock_[next_reading_++];
}

void* ReplaySystem::allocate(std::size_t size) noexcept { return std::malloc(size); }

PathKind ReplayLinuxSystem::path_kind(const char* path) {
  for (const PathRecord& p : signs_.paths) {
    if (p.path == path) return p.kind;
  }
  end(missing_, {.kind = MissingInput::Kind::linux_path, .name = path});
}

std::optional<std::string> ReplayLinuxSystem::read_sign(const char* path) {
  for (const SignFileRecord& f : signs_.files) {
    if (f.path == path) return f.bytes;
  }
  end(missing_, {.kind = MissingInput::Kind::linux_file, .name = path});
}

std::optional<std::string> ReplayLinuxSystem::kernel_release() {
  if (!signs_.release_asked) {
    end(missing_, {.kind = MissingInput::Kind::kernel_release});
  }
  return signs_.kernel_release;
}

ReplayRegistry::Device ReplayRegistry::platform_device() {
  if (!dump_.service) {
    end(missing_, {.kind = MissingInput::Kind::registry_device});
  }
  return {*dump_.service ? &dump_ : nullptr, missing_};
}

ReplayRegistry::Value ReplayRegistry::Device::read(RegistryKey key) const {
  for (const PropertyRecord& p : dump_->properties) {
    if (p.key != key) continue;
    RegistryValue v;
    v.kind = p.kind;
    switch (p.kind) {
      case ValueKind::string:
        v.readable = p.converted;
        break;
      case ValueKind::data:
        v.data_length = p.length;
        // The reader made sure a length that is read has all its bytes.
        v.readable = data_length_is_read(p.length);
        break;
      case ValueKind::absent:
      case ValueKind::other:
        break;
    }
    if (v.readable) v.text = p.bytes;
    return Value(v);
  }
  end(missing_, {.kind = MissingInput::Kind::registry_property, .key = key});
}

}  // namespace oxa::inputs
