# vexo_def_exports(<names variable> <ordinals variable>)
# The library's exports as lib/VexoDLL.def states them: two lists of the same length, each name
# with its ordinal. Everything that must follow the library's exports (the export list for C++
# code, VexoVB.dll's definition file, the host DLL's symbol map) is made from them, and CMake runs
# again when the file changes.
function(vexo_def_exports names_var ordinals_var)
  set(def_file ${PROJECT_SOURCE_DIR}/lib/VexoDLL.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
  file(STRINGS ${def_file} def_exports REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]+@[0-9]+")
  set(names "")
  set(ordinals "")
  foreach(line IN LISTS def_exports)
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)" match "${line}")
    list(APPEND names ${CMAKE_MATCH_1})
    list(APPEND ordinals ${CMAKE_MATCH_2})
  endforeach()
  set(${names_var} ${names} PARENT_SCOPE)
  set(${ordinals_var} ${ordinals} PARENT_SCOPE)
endfunction()
