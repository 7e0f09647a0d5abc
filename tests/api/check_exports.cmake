# SPDX-License-Identifier: MIT
# Fails unless the shared library defines exactly the three exported functions.
execute_process(COMMAND nm -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
if(NOT names STREQUAL "oxa_detect_json;oxa_free;oxa_version")
  message(FATAL_ERROR "unexpected exported symbols: ${names}")
endif()
message(STATUS "exports: ${names}")
