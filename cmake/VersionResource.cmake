# Windows version information for every binary of the kit, all carrying the one kit version
# (the top-level project(VERSION)).
#
#   vexo_version_resource(<target> DESCRIPTION "<file description>" [JAPANESE])
#
# Adds a VERSIONINFO resource with file and product version, description, original file name and
# product name. Use it once per Windows executable or DLL. The resource is in US English (code
# page 1252) unless JAPANESE gives it the language of a binary whose resources are all Japanese
# (0x0411, with its strings in the Unicode code page 1200).
include_guard(GLOBAL)

function(vexo_version_resource target)
  cmake_parse_arguments(VR "JAPANESE" "DESCRIPTION" "" ${ARGN})
  if(NOT VR_DESCRIPTION)
    message(FATAL_ERROR "vexo_version_resource(${target}) needs a DESCRIPTION")
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(VEXO_RC_FILETYPE "VFT_APP")
    set(suffix ".exe")
  else()
    set(VEXO_RC_FILETYPE "VFT_DLL")
    set(suffix ".dll")
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  get_target_property(explicit_suffix ${target} SUFFIX)
  if(explicit_suffix)
    set(suffix ${explicit_suffix})
  endif()
  if(VR_JAPANESE)
    set(VEXO_RC_LANGUAGE "0x11, 0x01")
    set(VEXO_RC_STRING_BLOCK "041104B0")
    set(VEXO_RC_TRANSLATION "0x0411, 1200")
  else()
    set(VEXO_RC_LANGUAGE "0x09, 0x01")
    set(VEXO_RC_STRING_BLOCK "040904E4")
    set(VEXO_RC_TRANSLATION "0x0409, 1252")
  endif()
  set(VEXO_RC_DESCRIPTION "${VR_DESCRIPTION}")
  set(VEXO_RC_INTERNAL_NAME "${output_name}")
  set(VEXO_RC_FILENAME "${output_name}${suffix}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
