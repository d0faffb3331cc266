# The kit as an application developer receives it: install() rules give its layout, and CPack
# makes it twice from them (target `package`, or `cpack` in the build folder; the kit's tests run
# it as their set-up):
#   package/VexoKit-<version>.zip        the ZIP generator, with the folder below at its top;
#   package/VexoKit-<version>-setup.exe  the NSIS generator (cmake/package/setup.cmake): the same
#                                        files installed into a folder the user picks, the applet
#                                        copied into the system folder, Start menu entries and an
#                                        uninstaller.
#
#   VexoKit-<version>/
#     README.txt                  what is where
#     README.md                   the kit's front page (cmake/package/README.md)
#     LICENSE, CHANGELOG.md
#     bin/                        VexoDLL.dll, VexoVB.dll (for Visual Basic 6), VEXOLITE.CPL,
#                                 vexotool.exe
#     include/VexoDLL.h
#     lib/                        libVexoDLL.dll.a (MinGW), VexoDLL.lib (Visual C++), VexoDLL.def,
#                                 README.txt
#     examples/                   vexo_example.c, quick_start.c, README.txt (how to build them)
#     bindings/                   python/, csharp/, pascal/, vb6/: declarations and an example each,
#                                 README.txt
#     VexoKit.chm                 the manual, HTML Help (cmake/manual/): the front page, the docs below
#                                 and the changelog
#     docs/                       the reference in Markdown, and html/: the manual's pages, for a
#                                 browser or a Windows 95 without the HTML Help viewer
#     sim/                        vexolite.vxd, vexosim.exe, vexolite_sim.h, libvexolite.vxd.a,
#                                 README.txt, vexolite-wine.reg, board-key.reg
#
# Also the demo's folder (target kit_demo_folder): the programs beside the DLL and the simulated
# card, as an application would be installed on a machine without a card.
include_guard(GLOBAL)

set(VEXO_KIT_NAME VexoKit-${PROJECT_VERSION})
set(VEXO_KIT_ZIP ${CMAKE_BINARY_DIR}/package/${VEXO_KIT_NAME}.zip)
set(VEXO_KIT_SETUP_NAME ${VEXO_KIT_NAME}-setup)
set(VEXO_KIT_SETUP ${CMAKE_BINARY_DIR}/package/${VEXO_KIT_SETUP_NAME}.exe)

install(TARGETS VexoDLL RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(TARGETS vexotool RUNTIME DESTINATION bin)
install(TARGETS VexoVB RUNTIME DESTINATION bin)
# The applet's import library is of no use to anybody: only the file itself.
install(FILES $<TARGET_FILE:vexolite_cpl> DESTINATION bin)
install(TARGETS vexolite_vxd RUNTIME DESTINATION sim ARCHIVE DESTINATION sim)
install(TARGETS vexosim RUNTIME DESTINATION sim)

install(FILES include/VexoDLL.h DESTINATION include)
install(FILES lib/VexoDLL.def ${VEXO_MSVC_IMPORT_LIBRARY} DESTINATION lib)
install(FILES examples/vexo_example.c docs/samples/quick_start.c DESTINATION examples)
# The docs for users; those about the source tree stay out.
install(DIRECTORY docs/ DESTINATION docs
        PATTERN building.md EXCLUDE PATTERN performance.md EXCLUDE PATTERN manual-*.png EXCLUDE)
install(FILES bindings/python/vexo.py bindings/python/example.py DESTINATION bindings/python)
install(FILES bindings/csharp/Vexo.cs bindings/csharp/Example.cs DESTINATION bindings/csharp)
install(FILES bindings/pascal/vexo.pas bindings/pascal/example.pas DESTINATION bindings/pascal)
install(FILES bindings/vb6/Vexo.bas bindings/vb6/Example.bas DESTINATION bindings/vb6)
install(FILES sim/vxd/vexolite_sim.h sim/vexolite-wine.reg sim/board-key.reg DESTINATION sim)
install(FILES LICENSE CHANGELOG.md DESTINATION .)

# The manual: the kit's Markdown documents rendered to HTML pages and compiled into VexoKit.chm,
# in this order (the first is the page it opens with).
find_program(VEXO_CMARK_GFM cmark-gfm REQUIRED)  # Debian's cmark-gfm (scripts/install-deps.sh)
find_program(VEXO_CHMCMD chmcmd REQUIRED)        # Debian's fp-utils
find_program(VEXO_PYTHON python3 REQUIRED)
set(VEXO_MANUAL_DIR ${CMAKE_BINARY_DIR}/manual/html)
set(VEXO_MANUAL_CHM ${VEXO_MANUAL_DIR}/VexoKit.chm)
set(manual_pages
  ${CMAKE_BINARY_DIR}/kit-texts/README.md=index.html
  ${PROJECT_SOURCE_DIR}/docs/reference.md=reference.html
  ${PROJECT_SOURCE_DIR}/docs/bindings.md=bindings.html
  ${PROJECT_SOURCE_DIR}/docs/vexotool.md=vexotool.html
  ${PROJECT_SOURCE_DIR}/docs/applet.md=applet.html
  ${PROJECT_SOURCE_DIR}/docs/without-a-card.md=without-a-card.html
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md=changelog.html)
set(manual_sources ${manual_pages})
list(TRANSFORM manual_sources REPLACE "=.*" "")
file(GLOB manual_images ${PROJECT_SOURCE_DIR}/docs/images/*.png)
add_custom_command(
  OUTPUT ${VEXO_MANUAL_CHM}
  COMMAND ${VEXO_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/manual/manual.py ${VEXO_MANUAL_DIR}
          VexoKit.chm "VexoLite Kit ${PROJECT_VERSION}" ${PROJECT_SOURCE_DIR}/cmake/manual/manual.css
          ${VEXO_CMARK_GFM} ${VEXO_CHMCMD} ${manual_pages}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/manual/manual.py ${PROJECT_SOURCE_DIR}/cmake/manual/manual.css
          ${manual_sources} ${manual_images}
  VERBATIM)
add_custom_target(kit_manual ALL DEPENDS ${VEXO_MANUAL_CHM})
install(FILES ${VEXO_MANUAL_CHM} DESTINATION .)
install(DIRECTORY ${VEXO_MANUAL_DIR}/ DESTINATION docs/html
        FILES_MATCHING PATTERN "*.html" PATTERN "*.css" PATTERN "*.png")

# The texts of each folder, with the version filled in and Windows line ends.
set(VERSION ${PROJECT_VERSION})
function(vexo_kit_text template destination)
  set(text ${CMAKE_BINARY_DIR}/kit-texts/${destination}/README.txt)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/package/${template} ${text} @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${text} DESTINATION ${destination})
endfunction()
vexo_kit_text(README.txt .)
configure_file(cmake/package/README.md ${CMAKE_BINARY_DIR}/kit-texts/README.md @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kit-texts/README.md DESTINATION .)
vexo_kit_text(lib-README.txt lib)
vexo_kit_text(examples-README.txt examples)
vexo_kit_text(bindings-README.txt bindings)
vexo_kit_text(sim-README.txt sim)
# Last: every text of the kit as installed gets Windows line ends.
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/package/crlf.cmake)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_FILE_NAME ${VEXO_KIT_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(${CMAKE_CURRENT_LIST_DIR}/package/setup.cmake)
include(CPack)

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
