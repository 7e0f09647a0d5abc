#pragma once

// The native processor, system and registry of the platform this build is
// for. The build puts the folders of that OS and that architecture on the
// include path (src/platform/linux or macos, src/platform/x86_64); nothing
// else chooses.

#include "native_processor.h"
#include "native_registry.h"
#include "native_system.h"
