# SPDX-License-Identifier: MIT
# Fails unless the shared library defines exactly the three exported
# functions, and holds nothing of capture and replay (src/capture), which
# only the tool, tests and benchmarks link.
# NM: the nm of the library's target (a cross-built one's own); default nm.
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
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

# The whole symbol table, where the library still has one (not stripped).
execute_process(COMMAND "${NM}" -C --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE all_symbols RESULT_VARIABLE rc ERROR_QUIET)
if(rc EQUAL 0)
  string(REGEX MATCHALL "[^\n]*oxa::capture::[^\n]*" captured "${all_symbols}")
  if(captured)
    message(FATAL_ERROR "capture in the shared library: ${captured}")
  endif()
endif()
