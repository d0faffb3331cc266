# Where CMake's NSIS template calls the kit's own setup code (setup.nsh). Each edit replaces a
# passage of the template that must be there exactly once; a CMake whose template differs stops
# the configuration here instead of making a setup program without the edit.

# In the variable named by template_var, replaces the one occurrence of `passage` with
# `replacement`.
function(vexo_template_replace template_var passage replacement)
  set(template "${${template_var}}")
  string(FIND "${template}" "${passage}" first)
  string(FIND "${template}" "${passage}" last REVERSE)
  if(first LESS 0 OR NOT first EQUAL last)
    message(FATAL_ERROR "CMake's NSIS template does not hold this passage once:\n${passage}")
  endif()
  string(REPLACE "${passage}" "${replacement}" template "${template}")
  set(${template_var} "${template}" PARENT_SCOPE)
endfunction()

function(vexo_setup_template_edits template_var)
  set(template "${${template_var}}")

  # Setup: the folder is checked before anything else, and an earlier install is removed whole.
  vexo_template_replace(template "Function .onInit\n"
                        "Function .onInit\n  !insertmacro VexoRefuseLongFolder\n")
  vexo_template_replace(template
    "  ExecWait '\"$0\" /S _?=$3' ;Do not copy the uninstaller to a temp file\n"
    "  !insertmacro VexoRemoveEarlierInstall\n")

  # Uninstaller: the kit's files, each in use one at the next restart...
  vexo_template_replace(template "@CPACK_NSIS_DELETE_FILES@\n@CPACK_NSIS_DELETE_DIRECTORIES@\n"
                        "  !insertmacro VexoDeleteKitFiles\n")
  # ... its folder, with them ...
  vexo_template_replace(template [=[
  DeleteRegKey SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@"

  ;Remove the installation directory if it is empty.
  RMDir "$INSTDIR"
]=] [=[
  !insertmacro VexoRemoveFolder "$INSTDIR"
  ; What every copy of the kit shares goes with the registered install only.
  StrCmp $VexoRegisteredInstall 1 0 vexo_shared_kept
  DeleteRegKey SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@"
]=])
  # ... and the restart it needs, said last.
  vexo_template_replace(template [=[
  Push $INSTDIR\bin
  StrCmp $DO_NOT_ADD_TO_PATH_ "1" doNotRemoveFromPath 0
    Call un.RemoveFromPath
  doNotRemoveFromPath:
]=] [=[
  vexo_shared_kept:
  Push $INSTDIR\bin
  StrCmp $DO_NOT_ADD_TO_PATH_ "1" doNotRemoveFromPath 0
    Call un.RemoveFromPath
  doNotRemoveFromPath:
  !insertmacro VexoTellRestart
]=])

  set(${template_var} "${template}" PARENT_SCOPE)
endfunction()
