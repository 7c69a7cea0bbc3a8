# The Windows installer carries its payload as real resources: the files of KXPATCH_PAYLOAD_DIR
# under type "KX" with the numeric ids of cmake/Payload.cmake, the check table in Chinese (PRC),
# plus version information and an application manifest. A payload file that is absent is a
# resource that is absent.
include(${PROJECT_SOURCE_DIR}/cmake/Payload.cmake)
enable_language(RC)

# Resource scripts take C string literals: backslashes and quotes must be escaped.
function(kxpatch_rc_quote out_var path)
  file(TO_CMAKE_PATH "${path}" path)
  string(REPLACE "\\" "\\\\" path "${path}")
  string(REPLACE "\"" "\\\"" path "${path}")
  set(${out_var} "\"${path}\"" PARENT_SCOPE)
endfunction()

function(kxpatch_windows_resources out_var)
  set(rc_dir "${CMAKE_CURRENT_BINARY_DIR}/winres")
  set(entries "")
  set(deps "")
  kxpatch_present_payload(ids paths)
  if(ARGC GREATER 1)
    list(APPEND deps "${ARGV1}")  # the payload stamp
  endif()
  foreach(id path IN ZIP_LISTS ids paths)
    list(APPEND deps "${path}")
    kxpatch_rc_quote(quoted "${path}")
    if(id EQUAL 220)
      # The check table was always filed under Chinese (PRC); lookups ignore the language.
      string(APPEND entries "LANGUAGE 4, 2\n${id} KX ${quoted}\nLANGUAGE 0, 0\n")
    else()
      string(APPEND entries "${id} KX ${quoted}\n")
    endif()
  endforeach()

  set(manifest "${rc_dir}/installer.manifest")
  file(CONFIGURE OUTPUT "${manifest}" CONTENT
[=[<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Brightfall.Halvoreen.Pack" version="@KXPATCH_TO_MAJOR@.@KXPATCH_TO_MINOR@.0.0"/>
  <description>Halvoreen @KXPATCH_FROM_VERSION@ to @KXPATCH_TO_VERSION@ patch</description>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <!-- Run with the user's own rights: no elevation prompt for a program whose name looks
             like an installer. A folder the user cannot write is reported by the run itself. -->
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
</assembly>
]=] @ONLY)
  kxpatch_rc_quote(manifest_quoted "${manifest}")

  set(rc "${rc_dir}/installer.rc")
  file(CONFIGURE OUTPUT "${rc}" CONTENT
"// Generated from KXPATCH_PAYLOAD_DIR by the build; do not edit.
#include <winver.h>

LANGUAGE 0, 0
@entries@
1 24 @manifest_quoted@

LANGUAGE 4, 2
1 VERSIONINFO
FILEVERSION @KXPATCH_TO_MAJOR@, @KXPATCH_TO_MINOR@, 0, 0
PRODUCTVERSION @KXPATCH_TO_MAJOR@, @KXPATCH_TO_MINOR@, 0, 0
FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
FILEFLAGS 0
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
FILESUBTYPE VFT2_UNKNOWN
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"080404b0\"
    BEGIN
      VALUE \"CompanyName\", \"Brightfall\"
      VALUE \"FileDescription\", \"Halvoreen @KXPATCH_FROM_VERSION@-@KXPATCH_TO_VERSION@ patch\"
      VALUE \"FileVersion\", \"@KXPATCH_TO_VERSION@\"
      VALUE \"InternalName\", \"@KXPATCH_EXE_NAME@\"
      VALUE \"OriginalFilename\", \"@KXPATCH_EXE_NAME@.exe\"
      VALUE \"ProductName\", \"Halvoreen\"
      VALUE \"ProductVersion\", \"@KXPATCH_TO_VERSION@\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x0804, 1200
  END
END
" @ONLY)
  # The script names the payload files; a changed file must rebuild the resources.
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${deps};${manifest}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KXPATCH_PAYLOAD_DIR}")
  set(${out_var} "${rc}" PARENT_SCOPE)
endfunction()

