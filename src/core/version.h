#pragma once

namespace oxa {

// The library's version: returned by oxa_version and written into every
// report as "module_version". Keep in step with project(VERSION) in CMake.
inline constexpr char kVersion[] = "1.0.0";

}  // namespace oxa
