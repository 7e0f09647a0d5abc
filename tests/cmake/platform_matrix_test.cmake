# SPDX-License-Identifier: MIT
# cmake/platform.cmake as other machines would run it: the spellings it
# accepts and what it makes of them, and the near misses it refuses by name.
#
# usage: cmake -DOXA_PLATFORM_FILE=.../cmake/platform.cmake -P platform_matrix_test.cmake

cmake_minimum_required(VERSION 3.20)
set(failures "")

# expect(SYSTEM PROCESSOR OSX_ARCHITECTURES OUTCOME): OUTCOME is either
# "OXA_OS=... OXA_ARCH=..." or "refused: <text the message must contain>".
function(expect system processor osx_archs outcome)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" "-DCMAKE_SYSTEM_NAME=${system}" "-DCMAKE_SYSTEM_PROCESSOR=${processor}"
            "-DCMAKE_OSX_ARCHITECTURES=${osx_archs}" "-DOXA_PLATFORM_FILE=${OXA_PLATFORM_FILE}"
            -P "${CMAKE_CURRENT_LIST_DIR}/platform_probe.cmake"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # CMake wraps long messages; compare them as one line.
  string(REGEX REPLACE "[ \t\r\n]+" " " said "${out} ${err}")
  set(case "${system} ${processor} [${osx_archs}]")
  if(outcome MATCHES "^refused: (.*)$")
    set(wanted "${CMAKE_MATCH_1}")
    string(FIND "${said}" "liboxa builds only for " names_supported)
    string(FIND "${said}" "${wanted}" names_this)
    if(rc EQUAL 0 OR names_supported EQUAL -1 OR names_this EQUAL -1)
      set(failures "${failures}\n${case}: want a refusal saying '${wanted}', got (exit ${rc}): ${said}" PARENT_SCOPE)
    endif()
  else()
    string(FIND "${said}" "-- ${outcome} " found)
    if(NOT rc EQUAL 0 OR found EQUAL -1)
      set(failures "${failures}\n${case}: want '${outcome}', got (exit ${rc}): ${said}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

expect(Linux x86_64 "" "OXA_OS=linux OXA_ARCH=x86_64")
expect(Linux AMD64 "" "OXA_OS=linux OXA_ARCH=x86_64")
expect(Darwin x86_64 "" "OXA_OS=macos OXA_ARCH=x86_64")
expect(Linux aarch64 "" "OXA_OS=linux OXA_ARCH=arm64")
expect(Linux ARM64 "" "OXA_OS=linux OXA_ARCH=arm64")
expect(Darwin arm64 "" "OXA_OS=macos OXA_ARCH=arm64")
# An Intel build on an Apple-silicon machine, and the reverse.
expect(Darwin arm64 "x86_64" "OXA_OS=macos OXA_ARCH=x86_64")
expect(Darwin x86_64 "arm64" "OXA_OS=macos OXA_ARCH=arm64")
# A universal build names both slices.
expect(Darwin x86_64 "x86_64;arm64" "OXA_OS=macos OXA_ARCH=x86_64;arm64")
# ... and is only as supported as its least supported slice.
expect(Darwin arm64 "arm64;arm64e" "refused: this is Darwin on arm64 and arm64e (CMAKE_OSX_ARCHITECTURES).")
expect(Linux i686 "" "refused: this is Linux on i686.")
expect(Linux armv7l "" "refused: this is Linux on armv7l.")
expect(Windows AMD64 "" "OXA_OS=windows OXA_ARCH=x86_64")
expect(Windows x86_64 "" "OXA_OS=windows OXA_ARCH=x86_64")
expect(Windows ARM64 "" "refused: this is Windows on ARM64.")
# The right processor alone is not enough.
expect(FreeBSD amd64 "" "refused: this is FreeBSD on amd64.")

if(failures)
  message(FATAL_ERROR "the platform matrix decided wrongly:${failures}")
endif()
message(STATUS "the platform matrix accepts and refuses as it should")
