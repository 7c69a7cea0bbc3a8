# One zlib version for every build. A delta record rebuilds an entry's stored bytes by deflating
# its contents again with recorded settings, and deflate's output is only fixed for one zlib
# version: the release tools and every installer build must deflate alike, so a build against
# any other zlib fails here rather than shipping installers whose rebuilt entries fail their
# checks. Debian's native zlib1g-dev and the MinGW-w64 builds' libz-mingw-w64-dev both ship
# this version; change it only together with every build machine's zlib, and re-run the delta
# tests.
set(KXPATCH_PINNED_ZLIB_VERSION "1.2.13")

# Read from the headers the build compiles against (the version FindZLIB reports comes from the
# same header, but under a name that changed between CMake releases).
# (Not find_file: its cached answer would outlive a change of zlib.)
unset(KXPATCH_ZLIB_HEADER)
foreach(dir IN LISTS ZLIB_INCLUDE_DIRS)
  if(NOT KXPATCH_ZLIB_HEADER AND EXISTS ${dir}/zlib.h)
    set(KXPATCH_ZLIB_HEADER ${dir}/zlib.h)
  endif()
endforeach()
if(NOT KXPATCH_ZLIB_HEADER)
  message(FATAL_ERROR "zlib.h not found in ${ZLIB_INCLUDE_DIRS}")
endif()
file(STRINGS ${KXPATCH_ZLIB_HEADER} zlib_version_line
     REGEX "^#define[ \t]+ZLIB_VERSION[ \t]+\"[^\"]*\"")
string(REGEX REPLACE "^#define[ \t]+ZLIB_VERSION[ \t]+\"([^\"]*)\".*$" "\\1"
       zlib_found_version "${zlib_version_line}")
if(NOT zlib_found_version STREQUAL KXPATCH_PINNED_ZLIB_VERSION)
  message(FATAL_ERROR
    "zlib ${zlib_found_version} found (${KXPATCH_ZLIB_HEADER}), but the build is pinned to "
    "zlib ${KXPATCH_PINNED_ZLIB_VERSION} (cmake/ZlibPin.cmake): delta records are only "
    "reproduced exactly by the pinned version.")
endif()
