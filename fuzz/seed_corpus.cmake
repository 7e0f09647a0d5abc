# SPDX-License-Identifier: MIT
# cmake -DSEEDS_DIR=... -DFIXTURES_DIR=... -DCORPUS_DIR=... -DTARGETS=a;b -P seed_corpus.cmake
#
# Copies fuzz/seeds/<target>/* into CORPUS_DIR/<target>/, and the shared
# SMBIOS tables (FIXTURES_DIR/smbios/*.bin) into the scan's corpus. Files
# already there are kept, so a corpus grows across runs.

foreach(var SEEDS_DIR CORPUS_DIR TARGETS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "seed_corpus.cmake: ${var} is not set")
  endif()
endforeach()

foreach(target IN LISTS TARGETS)
  set(corpus "${CORPUS_DIR}/${target}")
  file(MAKE_DIRECTORY "${corpus}")
  file(GLOB seeds "${SEEDS_DIR}/${target}/*")
  set(sources ${seeds})
  if(target STREQUAL "fuzz_smbios")
    file(GLOB tables "${FIXTURES_DIR}/smbios/*.bin")
    if(NOT tables)
      message(WARNING "no SMBIOS tables in ${FIXTURES_DIR}/smbios: the scan starts from its own seeds only")
    endif()
    list(APPEND sources ${tables})
  endif()
  list(LENGTH sources count)
  foreach(source IN LISTS sources)
    get_filename_component(name "${source}" NAME)
    if(NOT EXISTS "${corpus}/${name}")
      file(COPY_FILE "${source}" "${corpus}/${name}")
    endif()
  endforeach()
  message(STATUS "${target}: ${count} seeds")
endforeach()
