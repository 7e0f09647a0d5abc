# SPDX-License-Identifier: MIT
# The platforms liboxa builds for, decided once for the whole build.
#
# Sets OXA_OS (linux, macos or windows) and OXA_ARCH (x86_64 or arm64) for the rest of the
# build, which asks these two instead of APPLE, CMAKE_SYSTEM_NAME or
# CMAKE_SYSTEM_PROCESSOR, and stops at configure time on any other
# combination: the probes need the processor's own instructions and the OS's
# own interfaces, and a build elsewhere would fail late or, worse, detect
# nothing.
#
# On Apple the architectures are those of CMAKE_OSX_ARCHITECTURES when it is
# set, since that, not the build machine, decides what is compiled. A
# universal build names several; each must be supported, and OXA_ARCH then
# lists them all.

# The supported combinations, one OS/architecture row each.
set(OXA_SUPPORTED_PLATFORMS
  linux/x86_64
  linux/arm64
  macos/x86_64
  macos/arm64
  windows/x86_64)

function(oxa_decide_platform)
  # CMake's system names, and each architecture's spellings across systems
  # (Linux says aarch64 where macOS says arm64, Windows and the BSDs say
  # AMD64 or amd64), so that a row names each once.
  set(oxa_os_Linux linux)
  set(oxa_os_Darwin macos)
  set(oxa_os_Windows windows)
  set(os "${oxa_os_${CMAKE_SYSTEM_NAME}}")

  set(processors "${CMAKE_SYSTEM_PROCESSOR}")
  set(processor_origin "")
  if(CMAKE_SYSTEM_NAME STREQUAL "Darwin" AND CMAKE_OSX_ARCHITECTURES)
    set(processors "${CMAKE_OSX_ARCHITECTURES}")
    set(processor_origin " (CMAKE_OSX_ARCHITECTURES)")
  endif()
  set(archs "")
  set(supported TRUE)
  if(NOT os OR NOT processors)
    set(supported FALSE)
  endif()
  foreach(processor IN LISTS processors)
    string(TOLOWER "${processor}" arch)
    if(arch MATCHES "^(x86_64|amd64|x64)$")
      set(arch x86_64)
    elseif(arch MATCHES "^(aarch64|arm64)$")
      set(arch arm64)
    endif()
    if(NOT "${os}/${arch}" IN_LIST OXA_SUPPORTED_PLATFORMS)
      set(supported FALSE)
    endif()
    list(APPEND archs "${arch}")
  endforeach()

  if(NOT supported)
    set(names "")
    foreach(row IN LISTS OXA_SUPPORTED_PLATFORMS)
      string(REPLACE "/" " " name "${row}")
      string(REGEX REPLACE "^linux " "Linux " name "${name}")
      string(REGEX REPLACE "^macos " "macOS " name "${name}")
      string(REGEX REPLACE "^windows " "Windows " name "${name}")
      list(APPEND names "${name}")
    endforeach()
    list(POP_BACK names last)
    list(JOIN names ", " names)
    if(names)
      string(APPEND names " and ")
    endif()
    set(system "${CMAKE_SYSTEM_NAME}")
    if(NOT system)
      set(system "an unknown system")
    endif()
    list(JOIN processors " and " processors)
    if(NOT processors)
      set(processors "an unknown processor")
    endif()
    message(FATAL_ERROR
      "liboxa builds only for ${names}${last}; this is ${system} on ${processors}${processor_origin}.")
  endif()

  set(OXA_OS "${os}" PARENT_SCOPE)
  set(OXA_ARCH "${archs}" PARENT_SCOPE)
endfunction()

oxa_decide_platform()
