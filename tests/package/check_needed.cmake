# SPDX-License-Identifier: MIT
# Fails unless FILE, linked with the C++ runtime built in, needs no shared
# library but the C library, the dynamic loader (which serves the runtime's
# thread-local storage and unwinding) and the libraries named in ALSO: in
# particular neither libstdc++ nor libgcc_s.
#
#   cmake -DFILE=path [-DALSO=name;...] -P check_needed.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND readelf -d "${FILE}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${FILE}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" entries "${dynamic}")
set(needed "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE ".*\\[(.+)\\]$" "\\1" name "${entry}")
  list(APPEND needed "${name}")
endforeach()
if(NOT "libc.so.6" IN_LIST needed)
  message(FATAL_ERROR "${FILE} does not need libc.so.6 (NEEDED: ${needed}): not a glibc binary?")
endif()
set(unexpected "")
foreach(name IN LISTS needed)
  if(NOT name STREQUAL "libc.so.6" AND NOT name MATCHES "^ld(-linux[-a-z0-9_]*|64)\\.so\\.[0-9]+$"
     AND NOT name IN_LIST ALSO)
    list(APPEND unexpected "${name}")
  endif()
endforeach()
if(unexpected)
  message(FATAL_ERROR "${FILE} needs ${unexpected} (NEEDED: ${needed})")
endif()
message(STATUS "${FILE} needs: ${needed}")
