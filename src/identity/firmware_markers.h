// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "core/evidence.h"

namespace oxa {

// Matches one identity string (manufacturer, model, BIOS vendor, ...) against
// the known virtualisation products as whole words, tests for the bare
// product name "virtual machine", then runs firmware_cloud_marker on it.
void firmware_marker(Result& result, std::string_view source, std::string_view text);

// Looks for cloud-provider markers anywhere in the string.
void firmware_cloud_marker(Result& result, std::string_view source, std::string_view text);

}  // namespace oxa
