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

// Whether a manufacturer is a cloud that names its machines by instance
// type in the model, so that the model tells a virtual machine from a
// bare-metal one (instance_type_marker).
bool names_instance_types(std::string_view manufacturer);

// A guest finding for a model that is an instance type of a virtual
// machine; nothing for a bare-metal type or anything that is no type.
void instance_type_marker(Result& result, std::string_view source, std::string_view model);

}  // namespace oxa
