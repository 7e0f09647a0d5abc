// SPDX-License-Identifier: MIT
#include "capture/replay_layers.h"

#include <cstdio>
#include <cstdlib>

namespace oxa::capture {
namespace {

[[noreturn]] void end(MissingInput& slot, MissingInput missing) {
  if (!slot) slot = std::move(missing);
  throw ReplayEnded{};
}

// A question asked at one place of the run that the dump has no answer for.
template <Input I, class Answer>
[[noreturn]] void end_at(MissingInput& slot, const Answers<I, Answer>& answers) {
  end(slot, {.input = I, .position = answers.position(), .held = answers.held()});
}

// The next answer to a question asked by name.
template <Input I, class Answer>
const Answer& named(AnswersByAddress<I, std::string, Answer>& answers, const char* name,
                    MissingInput& missing) {
  const auto it = answers.find(std::string_view(name));
  const Answer* answer = it == answers.end() ? nullptr : it->second.next();
  if (answer == nullptr) end(missing, {.input = I, .name = name});
  return *answer;
}

}  // namespace

std::string describe(const MissingInput& missing) {
  if (!missing) return {};
  const InputInfo& question = info(*missing.input);
  std::string text = "no ";
  text += question.missing;
  switch (question.address) {
    case Address::none:
      break;
    case Address::leaf_subleaf: {
      char address[48];
      std::snprintf(address, sizeof address, " 0x%x sub-leaf %u", static_cast<unsigned>(missing.leaf),
                    static_cast<unsigned>(missing.subleaf));
      text += address;
      break;
    }
    case Address::position:
      text += ' ' + std::to_string(missing.position) + " (it holds " + std::to_string(missing.held) + ")";
      break;
    case Address::name:
      text += " '" + missing.name + "'";
      break;
  }
  return text;
}

ReplayProcessor::ReplayProcessor(const Dump& dump, MissingInput& missing) : missing_(missing) {
  for (const CpuidRecord& r : dump.cpuid) {
    cpuid_[{r.leaf, r.subleaf}].add(r.regs);
    ranges_recorded_.set(r.leaf >> 28);
  }
  for (const std::uint64_t& ticks : dump.timestamps) timestamps_.add(ticks);
}

CpuidRegisters ReplayProcessor::cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  const auto it = cpuid_.find(std::pair{leaf, subleaf});
  const CpuidRegisters* regs = it == cpuid_.end() ? nullptr : it->second.next();
  // A run asks at least one leaf of the hypervisor's range (0x40000000,
  // with or without the hypervisor bit) and of the extended one
  // (0x80000000, which every x86-64 processor has): a dump that recorded
  // none of a range was taken before runs asked it, and its processor
  // answers that range as one without it.
  const std::uint32_t range = leaf >> 28;
  if (regs == nullptr && (range == 0x4u || range == 0x8u) && !ranges_recorded_.test(range)) return {};
  if (regs == nullptr) end(missing_, {.input = Input::cpuid, .leaf = leaf, .subleaf = subleaf});
  return *regs;
}

std::uint64_t ReplayProcessor::rdtsc() {
  const std::uint64_t* ticks = timestamps_.next();
  if (ticks == nullptr) end_at(missing_, timestamps_);
  return *ticks;
}

ReplaySystem::ReplaySystem(const Dump& dump, MissingInput& missing) : missing_(missing) {
  for (const SysctlRecord& r : dump.sysctl) flags_[r.name].add(r);
  for (const std::int64_t& reading : dump.clock) clock_.add(reading);
}

std::optional<std::int32_t> ReplaySystem::flag(const char* name) {
  const SysctlRecord& record = named(flags_, name, missing_);
  if (!record.read) return std::nullopt;
  return record.value;
}

std::int64_t ReplaySystem::steady_ns() {
  const std::int64_t* now = clock_.next();
  if (now == nullptr) end_at(missing_, clock_);
  return *now;
}

void* ReplaySystem::allocate(std::size_t size) noexcept { return std::malloc(size); }

ReplayLinuxSystem::ReplayLinuxSystem(const Dump& dump, const LinuxRecord& signs, MissingInput& missing)
    : ReplaySystem(dump, missing), documented_(signs.documented) {
#define OXA_REPLAY_ADD_(method, Answer, answers, noun, most, ...) \
  for (const PathAnswer<Answer>& a : signs.answers) answers##_[a.path].add(a);
  OXA_LINUX_PATH_QUESTIONS(OXA_REPLAY_ADD_)
#undef OXA_REPLAY_ADD_
  if (signs.release_asked) release_.add(signs.kernel_release);
}

// A documented dump's silence about a path is an answer: nothing is there.
#define OXA_REPLAY_ANSWER_(method, Answer, answers, noun, most, ...)                                 \
  Answer ReplayLinuxSystem::method(const char* path) {                                               \
    if (documented_ && answers##_.find(std::string_view(path)) == answers##_.end()) return Answer{}; \
    return named(answers##_, path, missing_).answer;                                                 \
  }
OXA_LINUX_PATH_QUESTIONS(OXA_REPLAY_ANSWER_)
#undef OXA_REPLAY_ANSWER_

std::optional<std::string> ReplayLinuxSystem::kernel_release() {
  const std::optional<std::string>* release = release_.next();
  if (release == nullptr) end(missing_, {.input = Input::kernel_release});
  return *release;
}

ReplayRegistry::ReplayRegistry(const Dump& dump, MissingInput& missing) : missing_(missing) {
  if (dump.service) service_.add(*dump.service);
  for (const PropertyRecord& p : dump.properties) properties_[p.key].add(p);
  if (dump.pci_asked) pci_functions_.add(dump.pci_functions);
}

ReplayRegistry::Device ReplayRegistry::platform_device() {
  const bool* found = service_.next();
  if (found == nullptr) end(missing_, {.input = Input::registry_device});
  return {*found ? &properties_ : nullptr, missing_};
}

// A dump without them was taken before runs asked for them: its registry
// could not be asked.
std::optional<PciFunctions> ReplayRegistry::pci_functions() noexcept {
  const std::optional<PciFunctions>* functions = pci_functions_.next();
  return functions != nullptr ? *functions : std::nullopt;
}

ReplayRegistry::Value ReplayRegistry::Device::read(RegistryKey key) const {
  const auto it = properties_->find(key);
  const PropertyRecord* p = it == properties_->end() ? nullptr : it->second.next();
  if (p == nullptr) end(missing_, {.input = Input::registry_value, .name = std::string(key_name(key))});
  RegistryValue v;
  v.kind = p->kind;
  switch (p->kind) {
    case ValueKind::string:
      v.readable = p->converted;
      break;
    case ValueKind::data:
      v.data_length = p->length;
      // The reader made sure a length that is read has all its bytes.
      v.readable = data_length_is_read(p->length);
      break;
    case ValueKind::absent:
    case ValueKind::other:
      break;
  }
  if (v.readable) v.text = p->bytes;
  return Value(v);
}

}  // namespace oxa::capture
