# SPDX-License-Identifier: MIT
# The policies of the project that includes cmake/platform.cmake.
cmake_minimum_required(VERSION 3.20)

# Decides the platform from the CMAKE_SYSTEM_* values given on the command
# line, as a configure would on that system, and prints the outcome.
include("${OXA_PLATFORM_FILE}")
message(STATUS "OXA_OS=${OXA_OS} OXA_ARCH=${OXA_ARCH}")
