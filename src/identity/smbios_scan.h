// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "core/evidence.h"

namespace oxa {

// Walks a raw SMBIOS structure table (the first structure starts at byte 0;
// no entry point) and hands the identity strings of the BIOS, system,
// baseboard and chassis structures to the marker matchers with source
// "firmware". Records the BIOS "virtual machine" characteristic as guest
// evidence, then exactly one "firmware" probe: "ok" when the walk reached the
// end of the data or an End-of-Table structure, "error" at the first
// malformed structure (evidence found before it stays). Strings are passed on
// as views into `table`, which must stay valid for the call.
void smbios(Result& result, std::string_view table);

// The same walk without the probe: the findings, and whether the walk
// reached the end of the data or an End-of-Table structure. For a run whose
// "firmware" probe reads the table beside other sources.
bool smbios_markers(Result& result, std::string_view table);

}  // namespace oxa
