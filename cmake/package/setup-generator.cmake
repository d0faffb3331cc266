# Read by CPack once per generator (CPACK_PROJECT_CONFIG_FILE): the setup program is named
# <kit>-setup.exe and installs the kit's folders straight into the folder the user picks.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_VEXO_SETUP_FILE_NAME}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
