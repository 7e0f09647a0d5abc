# SPDX-License-Identifier: MIT
# Writes and installs oxa.pc at install time, when the prefix is known
# (install.cmake says why). Set by the caller: OXA_PC_TEMPLATE, OXA_PC_OUTPUT,
# OXA_PC_LIBDIR_GIVEN, OXA_PC_INCLUDEDIR_GIVEN, PROJECT_VERSION; and, by
# cmake --install, CMAKE_INSTALL_PREFIX.

if(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$|^/usr/local/?$" OR IS_ABSOLUTE "${OXA_PC_LIBDIR_GIVEN}")
  string(REGEX REPLACE "(.)/$" "\\1" OXA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH oxa_pc_to_prefix "/${OXA_PC_LIBDIR_GIVEN}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" oxa_pc_to_prefix "${oxa_pc_to_prefix}")
  set(OXA_PC_PREFIX "\${pcfiledir}/${oxa_pc_to_prefix}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${OXA_PC_${dir}_GIVEN}")
    set(OXA_PC_${dir} "${OXA_PC_${dir}_GIVEN}")
  else()
    set(OXA_PC_${dir} "\${prefix}/${OXA_PC_${dir}_GIVEN}")
  endif()
endforeach()
configure_file("${OXA_PC_TEMPLATE}" "${OXA_PC_OUTPUT}" @ONLY)
if(IS_ABSOLUTE "${OXA_PC_LIBDIR_GIVEN}")
  set(oxa_pc_destination "${OXA_PC_LIBDIR_GIVEN}/pkgconfig")
else()
  set(oxa_pc_destination "${CMAKE_INSTALL_PREFIX}/${OXA_PC_LIBDIR_GIVEN}/pkgconfig")
endif()
file(INSTALL DESTINATION "${oxa_pc_destination}" TYPE FILE FILES "${OXA_PC_OUTPUT}")
