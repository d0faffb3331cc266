# The setup program, VexoKit-<version>-setup.exe: CPack's NSIS generator on the kit's install
# rules, with what a card maker's setup does besides copying the kit: the applet into the system
# folder (where the Control Panel looks), Start menu entries, an uninstall entry. Included by
# Package.cmake before CPack.
#
# The installer is ANSI, so that it runs on Windows 95 and 98 (the kit's tests check its imports).
# Debian's makensis builds Unicode ones unless the script says otherwise before anything else, so
# CPack gets its own NSIS script template with that line first (vexo_ansi_nsis_template below).
# Setup and uninstaller leave the board configuration key alone: it holds the user's base
# addresses, which survive an uninstall and an installation over an older version.
# The NSIS commands below hold quotes and backslashes: CPack is to take them as written.
set(CPACK_VERBATIM_VARIABLES ON)
find_program(VEXO_MAKENSIS makensis REQUIRED)  # Debian's nsis (scripts/install-deps.sh)
set(CPACK_PACKAGE_NAME "VexoLite Kit")
set(CPACK_PACKAGE_VENDOR "the VexoLite kit authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Windows access to the VexoLite PCI card")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The folder under Program Files, and the uninstall entry's key: without the version, so that a
# newer kit finds the older one and replaces it.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "VexoLite Kit")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "VexoLite Kit")
set(CPACK_NSIS_DISPLAY_NAME "VexoLite Kit ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "VexoLite Kit ${PROJECT_VERSION}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The Start menu folder, also without the version; the version resource every binary of the kit
# carries.
set(CPACK_NSIS_DEFINES "
  !define MUI_STARTMENUPAGE_DEFAULTFOLDER \"VexoLite Kit\"
  VIProductVersion ${PROJECT_VERSION}.0
  VIAddVersionKey ProductName \"VexoLite Kit\"
  VIAddVersionKey FileDescription \"VexoLite Kit setup\"
  VIAddVersionKey FileVersion ${PROJECT_VERSION}
  VIAddVersionKey ProductVersion ${PROJECT_VERSION}
  VIAddVersionKey LegalCopyright \"MIT License, ${CPACK_PACKAGE_VENDOR}\"
")
# The branding line at the foot of every page: the kit, not the tool that made the setup. (CPack's
# own setting for it adds a trim option that makensis refuses off Windows.)
string(APPEND CPACK_NSIS_DEFINES "  BrandingText \"VexoLite Kit ${PROJECT_VERSION}\"\n")
# Add/Remove Programs shows the applet's icon, the card's.
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\VEXOLITE.CPL")
# The finish page offers to show the manual, as the Start menu's entry opens it.
string(APPEND CPACK_NSIS_DEFINES [=[
  !define MUI_FINISHPAGE_SHOWREADME ""
  !define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the manual"
  !define MUI_FINISHPAGE_SHOWREADME_FUNCTION vexoShowManual
  Function vexoManualFile
    IfFileExists "$WINDIR\hh.exe" 0 +3
      Push "$INSTDIR\VexoKit.chm"
      Return
    Push "$INSTDIR\docs\html\index.html"
  FunctionEnd
  Function vexoShowManual
    Call vexoManualFile
    Pop $0
    ExecShell "open" "$0"
  FunctionEnd
]=])
# Read by setup-generator.cmake.
set(CPACK_VEXO_SETUP_FILE_NAME ${VEXO_KIT_SETUP_NAME})

# Copied, not moved: bin/ keeps the whole kit as the zip has it. A Control Panel that has the
# applet loaded keeps the file busy; it goes at the next restart then.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  CopyFiles /SILENT "$INSTDIR\bin\VEXOLITE.CPL" "$SYSDIR"
]=])
# Only the uninstaller of the registered install removes what every copy of the kit shares
# (setup.nsh).
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  Call un.VexoFindRegisteredInstall
  StrCmp $VexoRegisteredInstall 1 0 +2
    Delete /REBOOTOK "$SYSDIR\VEXOLITE.CPL"
]=])
# The manual is VexoKit.chm where the HTML Help viewer is (hh.exe in the Windows folder: Windows
# 98 and later, or 95 with it installed), its HTML pages in the browser elsewhere. The README is
# the kit's plain-text one.
set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\README.lnk" "$INSTDIR\README.txt"
  Call vexoManualFile
  Pop $0
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Manual.lnk" "$0"
]=])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  Delete "$SMPROGRAMS\$MUI_TEMP\README.lnk"
  Delete "$SMPROGRAMS\$MUI_TEMP\Manual.lnk"
]=])
# Also the vendor's key, which CPack's uninstaller empties but leaves (this runs after that).
string(APPEND CPACK_NSIS_DELETE_ICONS_EXTRA
       "  DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"\n")

# What setup does about an earlier install, the install folder and files in use (setup.nsh),
# with the kit's file list taken from CPack's staging folder (setup-files.cmake).
set(CPACK_VEXO_SETUP_NSH ${CMAKE_CURRENT_LIST_DIR}/setup.nsh)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/setup-files.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/setup-template.cmake)

# CMake's template with "Unicode false" after its first line (a comment), found by CPack before
# its own.
function(vexo_ansi_nsis_template)
  set(folder ${CMAKE_BINARY_DIR}/cpack-templates)
  file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in template)
  vexo_setup_template_edits(template)
  string(FIND "${template}" "\n" firstLineEnd)
  if(firstLineEnd LESS 0)
    message(FATAL_ERROR "CMake's NSIS template is not what the kit expects")
  endif()
  math(EXPR rest "${firstLineEnd} + 1")
  string(SUBSTRING "${template}" 0 ${rest} head)
  string(SUBSTRING "${template}" ${rest} -1 tail)
  file(WRITE ${folder}/NSIS.template.in "${head}Unicode false\n${tail}")
  set(CPACK_MODULE_PATH ${folder} ${CMAKE_MODULE_PATH} PARENT_SCOPE)
endfunction()
vexo_ansi_nsis_template()

# What differs between the two generators, decided when CPack runs each.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/setup-generator.cmake)
