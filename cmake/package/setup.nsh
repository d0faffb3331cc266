; What the kit's setup program and uninstaller do besides CMake's NSIS template: the template's
; .onInit and uninstall section call these macros where setup.cmake puts them. Needs the
; definitions of kit-files.nsh (setup-files.cmake), which comes first.

; Exit codes a script can test (the kit's README lists them): Windows' own codes of the same
; meaning, so that "net helpmsg <code>" explains each.
!define VEXO_EXIT_STOPPED 2             ; NSIS's own code for a setup stopped by an error
!define VEXO_EXIT_FOLDER_TOO_LONG 206   ; the file name or extension is too long
!define VEXO_EXIT_RESTART_FIRST 350     ; no action was taken: a restart is required first
!define VEXO_EXIT_RESTART_NEEDED 3010   ; done; a restart completes it

; Setup ends without installing: the reason in a message box, and the code for a script. A silent
; setup shows no box, which would wait for a click nobody gives: the code alone tells.
!macro VexoRefuse MESSAGE CODE
  MessageBox MB_OK|MB_ICONSTOP "${MESSAGE}" /SD IDOK
  SetErrorLevel ${CODE}
  Quit
!macroend

; --- setup ---------------------------------------------------------------------------------

; The folder page says how long a folder may be, and its Next button stays off for a longer one.
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will install $(^NameDA) in the following folder, whose path may have up to ${VEXO_MAX_FOLDER_LENGTH} characters. To choose another, click Browse. $_CLICK"

Function .onVerifyInstDir
  Push $R9
  StrLen $R9 $INSTDIR
  IntCmp $R9 ${VEXO_MAX_FOLDER_LENGTH} vexo_fits vexo_fits
  Pop $R9
  Abort
vexo_fits:
  Pop $R9
FunctionEnd

; First thing in .onInit, before an earlier install is touched: a folder given with /D= must leave
; room for the kit's deepest file, or Windows would refuse that file and the ones beside it.
!macro VexoRefuseLongFolder
  StrLen $R9 $INSTDIR
  IntCmp $R9 ${VEXO_MAX_FOLDER_LENGTH} vexo_folder_fits vexo_folder_fits
  !insertmacro VexoRefuse "Setup cannot install into$\r$\n$INSTDIR$\r$\nThat path has $R9 characters; the kit's files fit below a folder of at most ${VEXO_MAX_FOLDER_LENGTH} (its deepest is ${VEXO_DEEPEST_FILE}). Choose a shorter folder." ${VEXO_EXIT_FOLDER_TOO_LONG}
vexo_folder_fits:
!macroend

; In .onInit, in place of the template's call of the earlier uninstaller: $0 is that uninstaller,
; $3 its folder. It runs in its folder so that setup can wait for it and read its exit code, and
; it cannot delete itself there: setup deletes it and the folder, so that no uninstaller of an
; earlier install stays behind.
!macro VexoRemoveEarlierInstall
  ; An entry whose uninstaller is gone names no install; setup writes the entry anew.
  IfFileExists "$0" 0 vexo_earlier_removed
  ClearErrors
  ExecWait '"$0" /S _?=$3' $4
  IfErrors vexo_earlier_failed
  StrCmp $4 ${VEXO_EXIT_RESTART_NEEDED} vexo_earlier_at_restart
  StrCmp $4 0 0 vexo_earlier_failed
  Delete "$0"
  RMDir "$3"
  Goto vexo_earlier_removed
vexo_earlier_at_restart:
  ; A new file written where the old one waits for deletion would go at the restart with it.
  Delete "$0"
  !insertmacro VexoRefuse "The earlier installation in $3 is removed, but some of its files are in use; they are deleted when Windows restarts.$\r$\nRestart Windows, then run setup again." ${VEXO_EXIT_RESTART_FIRST}
vexo_earlier_failed:
  !insertmacro VexoRefuse "The earlier installation in $3 could not be removed: its uninstaller ended with code $4.$\r$\nSetup has not changed anything." ${VEXO_EXIT_STOPPED}
vexo_earlier_removed:
!macroend

; --- uninstaller ---------------------------------------------------------------------------

; 1 when this uninstaller belongs to the install that the uninstall entry names, or when the entry
; names no install that is still there: only then does it remove what every copy of the kit
; shares (the applet in the system folder, the Start menu folder, the uninstall entry and setup's
; key). An uninstaller left in another folder removes that folder's files alone.
Var VexoRegisteredInstall

Function un.VexoFindRegisteredInstall
  Push $0
  Push $1
  StrCpy $VexoRegisteredInstall 1
  ReadRegStr $0 SHCTX "${VEXO_UNINSTALL_KEY}" "UninstallString"
  StrCmp $0 "" vexo_found
  StrCpy $1 $0 1
  StrCmp $1 '"' 0 +2
    StrCpy $0 $0 "" 1
  StrCpy $1 $0 1 -1
  StrCmp $1 '"' 0 +2
    StrCpy $0 $0 -1
  IfFileExists "$0" 0 vexo_found
  ; Short forms, so that the same folder compares equal however it was spelled.
  GetFullPathName /SHORT $0 "$0\.."
  GetFullPathName /SHORT $1 "$INSTDIR"
  StrCmp $0 $1 vexo_found
  StrCpy $VexoRegisteredInstall 0
  GetFullPathName $0 $0
  DetailPrint "The registered installation is the one in $0: its applet, Start menu entries and uninstall entry are kept."
vexo_found:
  Pop $1
  Pop $0
FunctionEnd

; A folder of the kit: removed when empty, and when a file in it waits for the restart, at the
; restart too. A folder that holds files of the user's own stays, as without a restart.
!macro VexoRemoveFolder FOLDER
  IfRebootFlag 0 +3
    RMDir /REBOOTOK "${FOLDER}"
    Goto +2
  RMDir "${FOLDER}"
!macroend

; Last in the uninstall section: files in use are deleted when Windows restarts (on Windows 9x
; through WININIT.INI). The page says so, and the exit code tells a script.
!macro VexoTellRestart
  IfRebootFlag 0 vexo_no_restart
    SetDetailsView show
    DetailPrint "Some files of the kit are in use. They are deleted when Windows restarts."
    SetErrorLevel ${VEXO_EXIT_RESTART_NEEDED}
vexo_no_restart:
!macroend
