# SPDX-License-Identifier: MIT
# Fails unless a Windows DLL exports exactly the three functions and imports
# only Windows' own DLLs, so that no C++ runtime, libgcc or winpthreads DLL
# has to travel with it.
#
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DDLL=oxa.dll -P check_dll.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${DLL}")
endif()

# The export table's names: "[   0] oxa_detect_json" under its heading.
# (Brackets would split CMake's lists oddly: only the names are kept.)
string(REGEX MATCH "Ordinal/Name Pointer. Table\n([^\n]+\n)*" table "${headers}")
string(REGEX REPLACE "[][]" " " table "${table}")
string(REGEX MATCHALL "[0-9]+  *[A-Za-z_][A-Za-z_0-9]*" entries "${table}")
set(exports "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[0-9]+  *" "" name "${entry}")
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "oxa_detect_json;oxa_free;oxa_version")
  message(FATAL_ERROR "unexpected exports of ${DLL}: ${exports}")
endif()

# Windows' own DLLs: the kernel's and the C runtime every Windows has.
set(windows_dlls KERNEL32.dll msvcrt.dll ADVAPI32.dll ntdll.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imported "${headers}")
foreach(line IN LISTS imported)
  string(SUBSTRING "${line}" 10 -1 dll)
  if(NOT dll IN_LIST windows_dlls AND NOT dll MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${DLL} imports ${dll}, which Windows does not have")
  endif()
endforeach()
message(STATUS "${DLL}: exports ${exports}; imports only Windows' own DLLs")
