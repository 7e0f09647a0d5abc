// SPDX-License-Identifier: MIT
#pragma once

// An operating-system layer for tests: the kernel flags by their macOS names
// (a flag never set is one the kernel lacks), a scripted steady clock, and an
// allocator that can refuse.

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace oxa::test {

// A Mac's system: the kernel flags, no Linux signs.
class FakeSystem {
 public:
  static constexpr Platform kPlatform = Platform::macos;

  void set_sysctl(const std::string& name, std::int32_t value) { sysctl_[name] = value; }
  void clock(std::vector<std::int64_t> readings) { clock_ = std::move(readings); }
  void fail_allocation(bool fail) { fail_allocation_ = fail; }

  std::optional<std::int32_t> hypervisor_flag() { return flag(kHypervisorFlagName); }
  std::optional<std::int32_t> translated_flag() { return flag(kTranslatedFlagName); }
  std::int64_t steady_ns() {
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

 private:
  std::optional<std::int32_t> flag(const char* name) {
    sysctl_reads_.emplace_back(name);
    const auto it = sysctl_.find(name);
    if (it == sysctl_.end()) return std::nullopt;
    return it->second;
  }

  std::map<std::string, std::int32_t, std::less<>> sysctl_;
  std::vector<std::string> sysctl_reads_;
  std::vector<std::int64_t> clock_;
  bool fail_allocation_ = false;
  std::size_t last_allocation_ = 0;
};

}  // namespace oxa::test
