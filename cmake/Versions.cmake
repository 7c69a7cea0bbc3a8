# The two game versions the installer moves between. They name the executable, the check-table
# blocks, the upload folder and every text that quotes them, and give the Windows version
# resource its numbers; the code reads them from a generated header, so that a change rebuilds
# only what uses them.
foreach(side FROM TO)
  set(version "${KXPATCH_${side}_VERSION}")
  # Numbers only: the version resource and the manifest need them as numbers, and the texts
  # must be ASCII to read the same in GBK.
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "KXPATCH_${side}_VERSION is \"${version}\"; a version is two numbers "
                        "joined by a dot, such as 2.651")
  endif()
  if(CMAKE_MATCH_1 GREATER 65535 OR CMAKE_MATCH_2 GREATER 65535)
    message(FATAL_ERROR "KXPATCH_${side}_VERSION ${version}: each number must be at most 65535")
  endif()
  set(KXPATCH_${side}_MAJOR ${CMAKE_MATCH_1})
  set(KXPATCH_${side}_MINOR ${CMAKE_MATCH_2})
endforeach()
if(KXPATCH_FROM_VERSION STREQUAL KXPATCH_TO_VERSION)
  message(FATAL_ERROR "KXPATCH_FROM_VERSION and KXPATCH_TO_VERSION are both ${KXPATCH_TO_VERSION}")
endif()
set(KXPATCH_EXE_NAME "${KXPATCH_FROM_VERSION}-${KXPATCH_TO_VERSION}Pack")

set(KXPATCH_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
file(CONFIGURE OUTPUT "${KXPATCH_GENERATED_DIR}/kxpatch_versions.h" CONTENT
"// Generated from KXPATCH_FROM_VERSION and KXPATCH_TO_VERSION by the build; do not edit.
#pragma once
#define KXPATCH_FROM_VERSION \"@KXPATCH_FROM_VERSION@\"
#define KXPATCH_TO_VERSION \"@KXPATCH_TO_VERSION@\"
" @ONLY)
include_directories(${KXPATCH_GENERATED_DIR})
