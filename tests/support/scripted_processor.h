// SPDX-License-Identifier: MIT
#pragma once

// A processor for tests: CPUID answers from a table keyed by (leaf, sub-leaf),
// every execution is logged, and RDTSC plays back a list of timestamps. An
// unknown leaf answers all zero; running out of timestamps throws.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/processor.h"

namespace oxa::test {

class ScriptedProcessor {
 public:
  using Key = std::pair<std::uint32_t, std::uint32_t>;

  // Unknown leaves answer all zero, as real processors do for most of them.
  void set(std::uint32_t leaf, std::uint32_t subleaf, CpuidRegisters regs) { table_[{leaf, subleaf}] = regs; }
  void set(std::uint32_t leaf, CpuidRegisters regs) { set(leaf, 0, regs); }
  void timestamps(std::vector<std::uint64_t> ticks) {
    ticks_ = std::move(ticks);
    next_tick_ = 0;
  }

  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    executed_.emplace_back(leaf, subleaf);
    const auto it = table_.find({leaf, subleaf});
    return it == table_.end() ? CpuidRegisters{} : it->second;
  }
  std::uint64_t rdtsc() {
    if (next_tick_ >= ticks_.size()) throw std::logic_error("ScriptedProcessor: out of timestamps");
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

 private:
  std::map<Key, CpuidRegisters> table_;
  std::vector<Key> executed_;
  std::vector<std::uint64_t> ticks_;
  std::size_t next_tick_ = 0;
  std::size_t fences_ = 0;
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
