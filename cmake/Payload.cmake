# Embeds the payload files of KXPATCH_PAYLOAD_DIR into the installer: resources of type "KX"
# with numeric ids. On POSIX the bytes are linked in with .incbin behind a lookup table; the
# Windows build compiles a resource script instead.
# KXPATCH_PAYLOAD_FILES: id and file name of each payload file. The six pack patches and the bin
# and cache archives come from the tables of integrity/game_packs.h; the check table and the
# results table follow. KXPATCH_OPTIONAL_PAYLOAD: the files a payload may lack (the installer then checks
# the files it writes with the check table alone).
set(KXPATCH_PACK_TABLE "${CMAKE_CURRENT_LIST_DIR}/../integrity/game_packs.h")
file(STRINGS "${KXPATCH_PACK_TABLE}" kx_pack_rows REGEX "^ *{\"")
set(KXPATCH_PAYLOAD_FILES "")
foreach(row IN LISTS kx_pack_rows)
  if(NOT row MATCHES "^ *{\"[^\"]+\", \"([^\"]+)\", ([0-9]+)[,}]")
    message(FATAL_ERROR "${KXPATCH_PACK_TABLE}: a pack row whose first line does not hold the "
                        "pack name, the patch name and the payload id:\n${row}")
  endif()
  list(APPEND KXPATCH_PAYLOAD_FILES ${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
endforeach()
if(NOT KXPATCH_PAYLOAD_FILES)
  message(FATAL_ERROR "${KXPATCH_PACK_TABLE}: no pack rows")
endif()
list(APPEND KXPATCH_PAYLOAD_FILES
  220 MD5.txt
  231 Results.txt)
set(KXPATCH_OPTIONAL_PAYLOAD Results.txt)
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KXPATCH_PACK_TABLE}")
endif()

# The payload files present in KXPATCH_PAYLOAD_DIR: their ids and paths, as two lists in step.
function(kxpatch_present_payload ids_var paths_var)
  set(ids "")
  set(paths "")
  list(LENGTH KXPATCH_PAYLOAD_FILES n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET KXPATCH_PAYLOAD_FILES ${i} id)
    list(GET KXPATCH_PAYLOAD_FILES ${j} file)
    if(EXISTS "${KXPATCH_PAYLOAD_DIR}/${file}")
      list(APPEND ids ${id})
      list(APPEND paths "${KXPATCH_PAYLOAD_DIR}/${file}")
    endif()
  endforeach()
  set(${ids_var} "${ids}" PARENT_SCOPE)
  set(${paths_var} "${paths}" PARENT_SCOPE)
endfunction()

# Stops the configuration, naming every required file missing from KXPATCH_PAYLOAD_DIR.
function(kxpatch_require_payload)
  set(missing "")
  list(LENGTH KXPATCH_PAYLOAD_FILES n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 1 ${last} 2)
    list(GET KXPATCH_PAYLOAD_FILES ${i} file)
    # list(FIND), not IN_LIST: in script mode (-P, below) no policy makes IN_LIST an operator.
    list(FIND KXPATCH_OPTIONAL_PAYLOAD "${file}" optional)
    if(NOT optional EQUAL -1)
      continue()
    endif()
    if(NOT EXISTS "${KXPATCH_PAYLOAD_DIR}/${file}" OR IS_DIRECTORY "${KXPATCH_PAYLOAD_DIR}/${file}")
      list(APPEND missing "${KXPATCH_PAYLOAD_DIR}/${file}")
    endif()
  endforeach()
  if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "the installer's payload is incomplete; missing:\n  ${text}\n"
                        "\"kxtool release OLD NEW -o PAYLOAD\" makes all ten files.")
  endif()
endfunction()

# A file whose content is the hashes of the payload, rewritten by every build but changed only
# when a payload file's bytes change: what embeds the payload depends on it, so a payload
# copied with old modification times (cp -a, rsync, an unpacked archive) is embedded again.
# `name` names the custom target that refreshes it; returns the stamp's path.
function(kxpatch_payload_stamp name out_var)
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${name}.stamp")
  add_custom_target(${name}
    COMMAND ${CMAKE_COMMAND} "-DPAYLOAD_DIR=${KXPATCH_PAYLOAD_DIR}" "-DSTAMP=${stamp}"
            -P "${PROJECT_SOURCE_DIR}/cmake/PayloadStamp.cmake"
    BYPRODUCTS "${stamp}"
    COMMENT "Hashing the payload in ${KXPATCH_PAYLOAD_DIR}"
    VERBATIM)
  set(${out_var} "${stamp}" PARENT_SCOPE)
endfunction()

# The generated source that links the payload in; an optional second argument is a payload
# stamp (kxpatch_payload_stamp) the source is rebuilt after.
function(kxpatch_payload_source out_var)
  set(decls "")
  set(rows "")
  set(deps "")
  kxpatch_present_payload(ids paths)
  if(ARGC GREATER 1)
    list(APPEND deps "${ARGV1}")  # the payload stamp
  endif()
  foreach(id path IN ZIP_LISTS ids paths)
    list(APPEND deps "${path}")
    string(APPEND decls
      "asm(\".section .rodata\\n.balign 16\\n.globl kx_payload_${id}\\nkx_payload_${id}:\\n"
      ".incbin \\\"${path}\\\"\\n.globl kx_payload_${id}_end\\nkx_payload_${id}_end:\\n.previous\\n\");\n"
      "extern \"C\" const unsigned char kx_payload_${id}[];\n"
      "extern \"C\" const unsigned char kx_payload_${id}_end[];\n")
    string(APPEND rows
      "    {\"KX\", ${id}, kx_payload_${id}, static_cast<std::size_t>(kx_payload_${id}_end - kx_payload_${id})},\n")
  endforeach()
  if(rows STREQUAL "")
    set(rows "    {\"KX\", 0, nullptr, 0},\n")
  endif()
  set(src "${CMAKE_CURRENT_BINARY_DIR}/payload_table.cpp")
  file(CONFIGURE OUTPUT "${src}" CONTENT
"// Generated from KXPATCH_PAYLOAD_DIR by the build; do not edit.
#include \"platform/payload_table.h\"

${decls}
extern \"C\" const platform::PayloadEntry* kxpatch_payload_entries(std::size_t* count) {
  static const platform::PayloadEntry entries[] = {
${rows}  };
  *count = sizeof entries / sizeof entries[0];
  return entries;
}
" @ONLY)
  set_source_files_properties("${src}" PROPERTIES OBJECT_DEPENDS "${deps}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KXPATCH_PAYLOAD_DIR}")
  set(${out_var} "${src}" PARENT_SCOPE)
endfunction()

# "cmake -DKXPATCH_PAYLOAD_DIR=DIR -P cmake/Payload.cmake" checks a payload folder by itself.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  kxpatch_require_payload()
endif()
