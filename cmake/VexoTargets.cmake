# Small helpers shared by the Windows build's targets.
include_guard(GLOBAL)

# vexo_win9x_image(<target> console|windows)
# Windows 9x loads only images that ask for subsystem and OS version 4.0; current linkers mark
# 6.0 unless told.
function(vexo_win9x_image target subsystem)
  target_link_options(${target} PRIVATE
    -Wl,--subsystem,${subsystem}:4.0 -Wl,--major-os-version,4,--minor-os-version,0)
endfunction()

# vexo_place_library(<target> [DIRECTORY <dir>])
# Copies VexoDLL.dll next to <target>'s file (or into <dir>) after each build, where Windows
# looks for a program's DLLs first.
function(vexo_place_library target)
  cmake_parse_arguments(PL "" "DIRECTORY" "" ${ARGN})
  if(NOT PL_DIRECTORY)
    set(PL_DIRECTORY $<TARGET_FILE_DIR:${target}>)
  endif()
  add_dependencies(${target} VexoDLL)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PL_DIRECTORY}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:VexoDLL> ${PL_DIRECTORY}
    VERBATIM)
endfunction()

# vexo_place_driver_module(<target>)
# Copies the simulated driver, vexolite.vxd, next to <target>'s file after each build, where
# the device path finds it.
function(vexo_place_driver_module target)
  add_dependencies(${target} vexolite_vxd)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:vexolite_vxd>
            $<TARGET_FILE_DIR:${target}>/vexolite.vxd
    VERBATIM)
endfunction()

# vexo_export_list(<output file>)
# The library's export list as lib/VexoDLL.def states it, one line
# VEXO_EXPORT(ordinal, name, name without "cVexo") per export, for C++ code to include. Whatever
# must follow the library's exports (tests, VexoVB.dll) is made from this one list.
function(vexo_export_list output)
  vexo_def_exports(names ordinals)
  set(export_lines "")
  foreach(name ordinal IN ZIP_LISTS names ordinals)
    string(REGEX REPLACE "^cVexo" "" short_name "${name}")
    string(APPEND export_lines "VEXO_EXPORT(${ordinal}, ${name}, ${short_name})\n")
  endforeach()
  file(CONFIGURE OUTPUT ${output} CONTENT "${export_lines}")
endfunction()
