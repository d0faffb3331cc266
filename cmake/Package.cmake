# The kit as an application developer receives it: a folder and a zip of it, made by every build
# (target package_kit), and a folder with everything the demo runs (target kit_demo_folder).
#
#   package/VexoKit-<version>/
#     README.txt                  what is where
#     README.md                   the kit's README
#     bin/                        VexoDLL.dll, VEXOLITE.CPL, vexotool.exe
#     include/VexoDLL.h
#     lib/                        libVexoDLL.dll.a, VexoDLL.def, README.txt (the MSVC command)
#     examples/                   vexo_example.c, quick_start.c, README.txt (how to build them)
#     docs/                       the reference
#     sim/                        vexolite.vxd, vexolite_sim.h, libvexolite.vxd.a, README.txt
#   package/VexoKit-<version>.zip

# Where the kit goes, for every directory that includes this file; the targets are made once.
set(VEXO_KIT_NAME VexoKit-${PROJECT_VERSION})
set(VEXO_KIT_DIR ${CMAKE_BINARY_DIR}/package/${VEXO_KIT_NAME})
set(VEXO_KIT_ZIP ${CMAKE_BINARY_DIR}/package/${VEXO_KIT_NAME}.zip)
include_guard(GLOBAL)

file(GLOB_RECURSE kit_docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*)
file(GLOB kit_texts CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/package/*)

add_custom_command(
  OUTPUT ${VEXO_KIT_ZIP}
  COMMAND ${CMAKE_COMMAND}
          -DKIT_NAME=${VEXO_KIT_NAME}
          -DKIT_DIR=${VEXO_KIT_DIR}
          -DKIT_ZIP=${VEXO_KIT_ZIP}
          -DKIT_VERSION=${PROJECT_VERSION}
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DTEXTS_DIR=${CMAKE_CURRENT_LIST_DIR}/package
          -DBINARIES=$<TARGET_FILE:VexoDLL>|$<TARGET_FILE:vexolite_cpl>|$<TARGET_FILE:vexotool>
          -DIMPORT_LIBRARY=$<TARGET_LINKER_FILE:VexoDLL>
          -DSIM_MODULE=$<TARGET_FILE:vexolite_vxd>
          -DSIM_IMPORT_LIBRARY=$<TARGET_LINKER_FILE:vexolite_vxd>
          -P ${CMAKE_CURRENT_LIST_DIR}/PackageKit.cmake
  DEPENDS VexoDLL vexolite_cpl vexotool vexolite_vxd ${CMAKE_CURRENT_LIST_DIR}/PackageKit.cmake
          ${kit_docs} ${kit_texts} ${PROJECT_SOURCE_DIR}/README.md
          ${PROJECT_SOURCE_DIR}/include/VexoDLL.h ${PROJECT_SOURCE_DIR}/lib/VexoDLL.def
          ${PROJECT_SOURCE_DIR}/examples/vexo_example.c
          ${PROJECT_SOURCE_DIR}/sim/vxd/vexolite_sim.h
  COMMENT "Packaging ${VEXO_KIT_NAME}.zip"
  VERBATIM)
add_custom_target(package_kit ALL DEPENDS ${VEXO_KIT_ZIP})

# The demo's folder: the programs beside the DLL and the simulated card, as an application
# would be installed on a machine without a card.
set(VEXO_DEMO_DIR ${CMAKE_BINARY_DIR}/demo)
add_custom_target(kit_demo_folder ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VEXO_DEMO_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
          $<TARGET_FILE:VexoDLL> $<TARGET_FILE:vexotool> $<TARGET_FILE:vexo_example>
          ${VEXO_DEMO_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:vexolite_vxd>
          ${VEXO_DEMO_DIR}/vexolite.vxd
  VERBATIM)
add_dependencies(kit_demo_folder VexoDLL vexotool vexo_example vexolite_vxd)
