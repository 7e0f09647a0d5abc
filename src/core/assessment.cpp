// SPDX-License-Identifier: MIT
#include "core/assessment.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <string_view>

namespace oxa {
namespace {

void append(std::vector<std::string>& list, std::string_view vendor) {
  if (vendor == kNoVendor || std::find(list.begin(), list.end(), vendor) != list.end()) {
    return;
  }
  list.emplace_back(vendor);
}

bool hosted_by_same_vendor(const Result& result, std::string_view vendor) {
  return std::any_of(result.evidence.begin(), result.evidence.end(),
                     [&](const Evidence& e) { return e.category == categories::host && e.vendor == vendor; });
}

// A guest finding is not counted when some "host" finding names the same
// vendor: a host sees the interface of the hypervisor it runs, a Hyper-V
// root partition its CPUID leaves and its clock, Xen's dom0 its hypervisor
// files. The firmware's identity strings are the exception: they describe
// the machine, which under a nested host is the outer hypervisor's guest.
bool passed_over(const Evidence& guest, const Result& result) {
  return guest.source != sources::firmware && hosted_by_same_vendor(result, guest.vendor);
}

std::string_view likelihood_of(std::int32_t score, bool ran_probe) {
  for (const LikelihoodWord& band : kLikelihoods) {
    if (band.lowest_score > 0 && score >= band.lowest_score) return band.word;
  }
  return ran_probe ? likelihoods::not_detected : likelihoods::unknown;
}

}  // namespace

Assessment assess(const Result& result) {
  Assessment a;
  std::map<std::string, std::int32_t, std::less<>> best_by_source;

  for (const Evidence& e : result.evidence) {
    if (e.category == categories::guest) {
      if (passed_over(e, result)) continue;
      auto it = best_by_source.try_emplace(e.source, 0).first;
      it->second = std::max(it->second, e.weight);
    }
    const std::size_t list = list_of(e.category);
    if (list < kVendorLists.size()) append(a.*kListMembers[list], e.vendor);
  }

  int strong_sources = 0;
  for (const auto& [source, best] : best_by_source) {
    a.score = std::max(a.score, best);
    if (best >= 50 && source != sources::timing) {
      ++strong_sources;
    }
  }
  // Independent sources agreeing is worth more than any one of them alone.
  if (strong_sources >= 2) {
    a.score = std::min(a.score, std::int32_t{94}) + 5;
  }

  const bool ran_probe = std::any_of(result.probes.begin(), result.probes.end(), [](const Probe& p) {
    return p.status == statuses::ok && !is_enclosure_source(p.source);
  });
  a.likelihood = likelihood_of(a.score, ran_probe);
  return a;
}

}  // namespace oxa
