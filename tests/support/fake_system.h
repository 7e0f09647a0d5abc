#pragma once

// An operating-system layer for tests: sysctl values by name (absent names
// fail), a scripted steady clock, and an allocator that can refuse.
//
// In strict mode (a replayed capture) only reads that were scripted are
// answered, failed ones included: an unscripted sysctl name or a clock read
// past the scripted readings is a missing input, kept for missing(), and
// std::runtime_error ends the run.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace oxa::test {

class FakeSystem {
 public:
  void set_sysctl(const std::string& name, std::int32_t value) { sysctl_[name] = {{value}}; }
  // One more outcome for reads of `name` (nullopt: the read fails): the n-th
  // read gets the n-th outcome, and the last one repeats once all were given.
  void append_sysctl(const std::string& name, std::optional<std::int32_t> value) {
    sysctl_[name].outcomes.push_back(value);
  }
  void clock(std::vector<std::int64_t> readings) { clock_ = std::move(readings); }
  void fail_allocation(bool fail) { fail_allocation_ = fail; }
  void strict(bool on) { strict_ = on; }

  int sysctl_int32(const char* name, std::int32_t& value) {
    sysctl_reads_.emplace_back(name);
    const auto it = sysctl_.find(name);
    if (it == sysctl_.end() || it->second.outcomes.empty()) {
      if (strict_) fail(std::string("no sysctl read of '") + name + "'");
      return -1;
    }
    Outcomes& o = it->second;
    const std::optional<std::int32_t> outcome =
        o.outcomes[o.next < o.outcomes.size() ? o.next : o.outcomes.size() - 1];
    ++o.next;
    if (!outcome) return -1;
    value = *outcome;
    return 0;
  }
  std::int64_t steady_ns() {
    if (strict_) {
      if (clock_read_ >= clock_.size()) {
        fail("no clock reading " + std::to_string(clock_read_ + 1) + " (it holds " +
             std::to_string(clock_.size()) + ")");
      }
      return clock_[clock_read_++];
    }
    if (clock_.empty()) return 0;
    const std::int64_t now = clock_.front();
    if (clock_.size() > 1) clock_.erase(clock_.begin());
    return now;
  }
  void* allocate(std::size_t size) {
    last_allocation_ = size;
    return fail_allocation_ ? nullptr : std::malloc(size);
  }

  const std::vector<std::string>& sysctl_reads() const { return sysctl_reads_; }
  std::size_t last_allocation() const { return last_allocation_; }
  // Strict mode: the first input asked for and not scripted, worded to
  // follow "has"; empty when none.
  const std::string& missing() const { return missing_; }

 private:
  struct Outcomes {
    std::vector<std::optional<std::int32_t>> outcomes;
    std::size_t next = 0;
  };

  [[noreturn]] void fail(std::string what) {
    if (missing_.empty()) missing_ = std::move(what);
    throw std::runtime_error("FakeSystem: " + missing_);
  }

  std::map<std::string, Outcomes> sysctl_;
  std::vector<std::string> sysctl_reads_;
  std::vector<std::int64_t> clock_;
  std::size_t clock_read_ = 0;
  bool fail_allocation_ = false;
  bool strict_ = false;
  std::size_t last_allocation_ = 0;
  std::string missing_;
};

}  // namespace oxa::test
