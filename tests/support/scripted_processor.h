#pragma once

// A processor for tests: CPUID answers from a table keyed by (leaf, sub-leaf),
// every execution is logged, and RDTSC plays back a list of timestamps.
//
// By default an unknown leaf answers all zero and running out of timestamps
// throws. In strict mode (a replayed capture, which must answer every read
// from what was recorded) both are a missing input: the first one is kept for
// missing() and std::runtime_error ends the run.

#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/processor.h"

namespace oxa::test {

class ScriptedProcessor {
 public:
  using Key = std::pair<std::uint32_t, std::uint32_t>;

  // Unknown leaves answer all zero, as real processors do for most of them.
  void set(std::uint32_t leaf, std::uint32_t subleaf, CpuidRegisters regs) {
    table_[{leaf, subleaf}] = {{regs}};
  }
  void set(std::uint32_t leaf, CpuidRegisters regs) { set(leaf, 0, regs); }
  // One more answer for (leaf, sub-leaf): the n-th execution gets the n-th
  // answer, and the last one repeats once all were given.
  void append(std::uint32_t leaf, std::uint32_t subleaf, CpuidRegisters regs) {
    table_[{leaf, subleaf}].answers.push_back(regs);
  }
  void timestamps(std::vector<std::uint64_t> ticks) {
    ticks_ = std::move(ticks);
    next_tick_ = 0;
  }
  void strict(bool on) { strict_ = on; }

  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    executed_.emplace_back(leaf, subleaf);
    const auto it = table_.find({leaf, subleaf});
    if (it == table_.end() || it->second.answers.empty()) {
      if (strict_) {
        char text[64];
        std::snprintf(text, sizeof text, "no CPUID leaf 0x%x sub-leaf %u", static_cast<unsigned>(leaf),
                      static_cast<unsigned>(subleaf));
        fail(text);
      }
      return CpuidRegisters{};
    }
    Answers& a = it->second;
    const CpuidRegisters regs = a.answers[a.next < a.answers.size() ? a.next : a.answers.size() - 1];
    ++a.next;
    return regs;
  }
  std::uint64_t rdtsc() {
    if (next_tick_ >= ticks_.size()) {
      if (strict_) {
        fail("no timestamp " + std::to_string(next_tick_ + 1) + " (it holds " +
             std::to_string(ticks_.size()) + ")");
      }
      throw std::logic_error("ScriptedProcessor: out of timestamps");
    }
    return ticks_[next_tick_++];
  }
  void lfence() { ++fences_; }

  // Leaves in execution order.
  std::vector<std::uint32_t> leaves() const {
    std::vector<std::uint32_t> out;
    for (const auto& [leaf, subleaf] : executed_) out.push_back(leaf);
    return out;
  }
  const std::vector<Key>& executed() const { return executed_; }
  std::size_t timestamps_read() const { return next_tick_; }
  std::size_t fences() const { return fences_; }
  // Strict mode: the first input asked for and not scripted, worded to
  // follow "has" ("no CPUID leaf 0x1 sub-leaf 0"); empty when none.
  const std::string& missing() const { return missing_; }

 private:
  struct Answers {
    std::vector<CpuidRegisters> answers;
    std::size_t next = 0;
  };

  [[noreturn]] void fail(std::string what) {
    if (missing_.empty()) missing_ = std::move(what);
    throw std::runtime_error("ScriptedProcessor: " + missing_);
  }

  std::map<Key, Answers> table_;
  std::vector<Key> executed_;
  std::vector<std::uint64_t> ticks_;
  std::size_t next_tick_ = 0;
  std::size_t fences_ = 0;
  bool strict_ = false;
  std::string missing_;
};

// Registers that spell a 12-byte signature in EBX, ECX, EDX (lowest byte
// first), as hypervisor leaves report it. Shorter texts are NUL-padded.
inline CpuidRegisters signature_registers(std::uint32_t eax, std::string_view text) {
  std::uint32_t regs[3] = {0, 0, 0};
  for (std::size_t i = 0; i < text.size() && i < 12; ++i) {
    regs[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << (8 * (i % 4));
  }
  return {eax, regs[0], regs[1], regs[2]};
}

}  // namespace oxa::test
