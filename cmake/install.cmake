# SPDX-License-Identifier: MIT
# Install rules, the CMake package and the pkg-config file.
#
# Installed: the public header, the report's JSON Schema, the shared library
# with its SONAME links, the tool with its manual page and bash completion,
# the package oxa (imported target oxa::oxa) and oxa.pc. The static
# oxa_internal is linked into the shared library and into the tool and is not
# installed; the shared library links it privately, so the exported target
# carries no reference to it.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OXA_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/oxa")

install(TARGETS oxa EXPORT oxaTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/include/oxa.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
# The JSON Schema of the report, for hosts that check the documents they get.
install(FILES "${PROJECT_SOURCE_DIR}/doc/report.schema.json" DESTINATION "${CMAKE_INSTALL_DATADIR}/oxa")
if(TARGET oxa-detect)
  # The tool carries its own detection: it needs no run path to liboxa.
  install(TARGETS oxa-detect RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  # The manual page carries the version of project().
  set(OXA_MANUAL_PAGE "${PROJECT_BINARY_DIR}/oxa-detect.1")
  configure_file("${PROJECT_SOURCE_DIR}/doc/oxa-detect.1.in" "${OXA_MANUAL_PAGE}" @ONLY)
  install(FILES "${OXA_MANUAL_PAGE}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

  # The bash completion goes where bash-completion looks for it: its
  # completionsdir when pkg-config knows bash-completion, taken relative to
  # that package's prefix so that it lands below ours, else the standard
  # folder (bash-completion also searches XDG_DATA_DIRS, /usr/local/share
  # among them).
  set(OXA_BASH_COMPLETION_DIR "" CACHE STRING
      "Folder of the bash completion, relative to the prefix (default: from bash-completion.pc)")
  set(oxa_completion_dir "${OXA_BASH_COMPLETION_DIR}")
  if(NOT oxa_completion_dir)
    set(oxa_completion_dir "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions")
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_get_variable(oxa_bc_completions bash-completion completionsdir)
      pkg_get_variable(oxa_bc_prefix bash-completion prefix)
      if(oxa_bc_completions AND oxa_bc_prefix)
        cmake_path(IS_PREFIX oxa_bc_prefix "${oxa_bc_completions}" NORMALIZE oxa_bc_inside)
        if(oxa_bc_inside)
          cmake_path(RELATIVE_PATH oxa_bc_completions BASE_DIRECTORY "${oxa_bc_prefix}"
                     OUTPUT_VARIABLE oxa_completion_dir)
        endif()
      endif()
    endif()
  endif()
  install(FILES "${PROJECT_SOURCE_DIR}/tool/completion/oxa-detect.bash" RENAME oxa-detect
          DESTINATION "${oxa_completion_dir}")
endif()

install(EXPORT oxaTargets
  NAMESPACE oxa::
  FILE oxaTargets.cmake
  DESTINATION "${OXA_PACKAGE_DIR}")
configure_package_config_file(
  "${CMAKE_CURRENT_LIST_DIR}/oxaConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/oxaConfig.cmake"
  INSTALL_DESTINATION "${OXA_PACKAGE_DIR}")
# A new major version is a new interface: 1.x hosts must not pick up 2.0.
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/oxaConfigVersion.cmake"
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/oxaConfig.cmake" "${PROJECT_BINARY_DIR}/oxaConfigVersion.cmake"
  DESTINATION "${OXA_PACKAGE_DIR}")

# oxa.pc. Under a system prefix (/usr, /usr/local) it names its folders as
# they are, so that pkg-config leaves the system's own out of the flags
# (plain -loxa, as system libraries print). Under any other prefix it names
# them relative to its own place (pcfiledir), so the installed tree may be
# moved as a whole. The prefix is the install's (cmake --install --prefix),
# known only then: the file is written at install time. Absolute folders
# are kept as given.
install(CODE "
  set(OXA_PC_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/oxa.pc.in\")
  set(OXA_PC_OUTPUT \"${PROJECT_BINARY_DIR}/oxa.pc\")
  set(OXA_PC_LIBDIR_GIVEN \"${CMAKE_INSTALL_LIBDIR}\")
  set(OXA_PC_INCLUDEDIR_GIVEN \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install_pc.cmake\")
")
