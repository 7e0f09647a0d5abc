// SPDX-License-Identifier: MIT
#pragma once

// Readable gtest output for the records that probes append.

#include <ostream>

#include "core/evidence.h"

namespace oxa {

inline void PrintTo(const Evidence& e, std::ostream* os) {
  *os << "{\"" << e.source << "\", \"" << e.category << "\", \"" << e.vendor << "\", " << e.weight << ", \""
      << e.detail << "\"}";
}

inline void PrintTo(const Probe& p, std::ostream* os) {
  *os << "{\"" << p.source << "\", \"" << p.status << "\"}";
}

}  // namespace oxa
