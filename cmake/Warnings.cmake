# Every target of the project gets the same warnings and character sets: sources are UTF-8,
# the program's texts are GBK bytes at run time (logs, console, message boxes).
# Clang cannot change the execution character set; it only builds the fuzz targets, where the
# bytes of the messages do not matter, so it keeps UTF-8.
function(kxpatch_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GBK)
  endif()
  target_compile_features(${target} PUBLIC cxx_std_17)
endfunction()

# A static library for one subsystem folder.
function(kxpatch_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    # A folder still being built up: keep the target so that others can link it.
    set(placeholder ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${placeholder} "namespace { [[maybe_unused]] int kEmpty = 0; }\n")
    set(ARG_SOURCES ${placeholder})
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kxpatch_target_defaults(${name})
endfunction()
