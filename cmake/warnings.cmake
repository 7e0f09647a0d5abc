# SPDX-License-Identifier: MIT
# Warning flags for liboxa's own targets.
#
# Set per target rather than with add_compile_options, so that they follow
# the targets and nothing else: a host that adds liboxa with add_subdirectory
# keeps its own flags for its own code. -Werror only with OXA_WERROR, which
# is off by default; our CI turns it on.

# oxa_add_warning_flags(DIR): adds the warning flags to every target compiled
# from DIR and its subdirectories. Call it after the last add_subdirectory.
function(oxa_add_warning_flags dir)
  set(flags -Wall -Wextra -Wpedantic)
  if(OXA_WERROR)
    list(APPEND flags -Werror)
  endif()
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    # Interface libraries and custom targets compile nothing; imported
    # targets are not listed at all.
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_compile_options(${target} PRIVATE ${flags})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    oxa_add_warning_flags("${subdir}")
  endforeach()
endfunction()
