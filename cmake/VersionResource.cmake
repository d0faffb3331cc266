# Windows version information for every binary of the kit, all carrying the one kit version
# (the top-level project(VERSION)).
#
#   vexo_version_resource(<target> DESCRIPTION "<file description>")
#
# Adds a VERSIONINFO resource with file and product version, description, original file name and
# product name. Use it once per Windows executable or DLL.
include_guard(GLOBAL)

set(VEXO_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(vexo_version_resource target)
  cmake_parse_arguments(VR "" "DESCRIPTION" "" ${ARGN})
  if(NOT VEXO_WINDOWS)
    return()
  endif()
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
  set(VEXO_RC_DESCRIPTION "${VR_DESCRIPTION}")
  set(VEXO_RC_INTERNAL_NAME "${output_name}")
  set(VEXO_RC_FILENAME "${output_name}${suffix}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${VEXO_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
