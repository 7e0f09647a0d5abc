#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/evidence.h"

namespace oxa {

// The verdict over one Result. Every list is free of duplicates and of
// "unknown", in the order its vendors were first met.
struct Assessment {
  std::int32_t score = 0;
  std::string likelihood = "unknown";
  std::vector<std::string> hypervisors;
  std::vector<std::string> containers;
  std::vector<std::string> compatibility_layers;
  std::vector<std::string> host_hypervisors;
  std::vector<std::string> cloud_providers;
};

Assessment assess(const Result& result);

}  // namespace oxa
