# Windows-side tests: Win32 programs run under Wine by CTest.
#
#   vexo_add_wine_test(NAME name COMMAND target-or-path [args...] [GUI] [SMALL_DISK]
#                      [TIMEOUT seconds] [WINDOWS version LAUNCHED])
#
# SMALL_DISK gives the test a 1 MiB file system of its own (scripts/small-disk.sh).
# Each test runs in a fresh copy of one template prefix (Windows 98 mode), which the fixture
# `wine_prefix` makes once. WINDOWS makes Wine play another version in that copy (winxp, win7,
# win10); LAUNCHED starts the program through `vexosim run`, as a developer on Windows NT does.
# Set VEXO_WINE_TEMPLATE to keep the template outside the build tree.
# The choice is kept in the cache: a later re-run of CMake by the build tool, without the
# variable in its environment, must not switch the build to a template of its own.
if(NOT "$ENV{VEXO_WINE_TEMPLATE}" STREQUAL "")
  set(VEXO_WINE_TEMPLATE "$ENV{VEXO_WINE_TEMPLATE}" CACHE PATH "Wine template prefix" FORCE)
else()
  set(VEXO_WINE_TEMPLATE "${CMAKE_BINARY_DIR}/wine-template" CACHE PATH "Wine template prefix")
endif()

add_test(NAME wine_prefix
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${VEXO_WINE_TEMPLATE})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 900)

function(vexo_add_wine_test)
  cmake_parse_arguments(WT "GUI;LAUNCHED;SMALL_DISK" "NAME;TIMEOUT;WINDOWS" "COMMAND" ${ARGN})
  list(POP_FRONT WT_COMMAND program)
  if(TARGET ${program})
    set(program $<TARGET_FILE:${program}>)
  endif()
  set(flags)
  if(WT_GUI)
    list(APPEND flags --gui)
  endif()
  if(WT_WINDOWS)
    list(APPEND flags --windows ${WT_WINDOWS})
  endif()
  if(WT_LAUNCHED)
    list(APPEND flags --launch $<TARGET_FILE:vexosim>)
  endif()
  if(NOT WT_TIMEOUT)
    set(WT_TIMEOUT 400)
  endif()
  set(runner)
  if(WT_SMALL_DISK)
    set(runner ${PROJECT_SOURCE_DIR}/scripts/small-disk.sh --)
  endif()
  add_test(NAME ${WT_NAME}
           COMMAND ${runner} ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${flags} ${VEXO_WINE_TEMPLATE}
                   -- ${program} ${WT_COMMAND})
  set_tests_properties(${WT_NAME} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT ${WT_TIMEOUT}
                                             LABELS wine)
endfunction()
