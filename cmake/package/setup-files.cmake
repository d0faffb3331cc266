# Run by CPack once the kit is installed into its staging folder, before the setup program is
# made (CPACK_PRE_BUILD_SCRIPTS): what setup needs to know about the kit's own files comes from
# that folder, the same files the setup program carries. It writes kit-files.nsh beside the
# generated script:
#   VEXO_DEEPEST_FILE, VEXO_MAX_FOLDER_LENGTH   the longest path of a file in the kit, and so the
#                                              longest folder setup accepts (setup.nsh);
#   VEXO_UNINSTALL_KEY                          the uninstall entry's key;
#   VexoDeleteKitFiles                          the uninstaller's removal of those files and
#                                              folders; a file in use goes at the next restart.
# and has the generated script include it and setup.nsh.
if(NOT CPACK_GENERATOR STREQUAL "NSIS")
  return()
endif()

set(staging "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${staging}" "${staging}/*")
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${staging}" "${staging}/*")
set(folders ${entries})
list(REMOVE_ITEM folders ${files})
if(NOT files)
  message(FATAL_ERROR "setup-files.cmake: no kit files in ${staging}")
endif()

# A path reaches Windows whole when it has at most MAX_PATH - 1 = 259 characters; a folder is
# created only when it leaves room for an 8.3 name, 247 characters at most.
function(vexo_longest paths out_path out_length)
  set(longest "")
  foreach(path IN LISTS paths)
    string(LENGTH "${path}" length)
    string(LENGTH "${longest}" longestLength)
    if(length GREATER longestLength)
      set(longest "${path}")
    endif()
  endforeach()
  string(LENGTH "${longest}" length)
  set(${out_path} "${longest}" PARENT_SCOPE)
  set(${out_length} ${length} PARENT_SCOPE)
endfunction()
vexo_longest("${files}" deepestFile deepestFileLength)
vexo_longest("${folders}" deepestFolder deepestFolderLength)
math(EXPR maxFolder "259 - 1 - ${deepestFileLength}")  # the folder, a backslash, the file
math(EXPR maxForFolders "247 - 1 - ${deepestFolderLength}")
if(maxForFolders LESS maxFolder)
  set(maxFolder ${maxForFolders})
endif()
string(REPLACE "/" "\\" deepestFile "${deepestFile}")

# Files first, then folders deepest first, so that each folder is empty when its turn comes.
list(SORT files)
list(SORT folders ORDER DESCENDING)
set(removal "")
foreach(file IN LISTS files)
  string(REPLACE "/" "\\" file "${file}")
  string(APPEND removal "  Delete /REBOOTOK \"$INSTDIR\\${file}\"\n")
endforeach()
foreach(folder IN LISTS folders)
  string(REPLACE "/" "\\" folder "${folder}")
  string(APPEND removal "  !insertmacro VexoRemoveFolder \"$INSTDIR\\${folder}\"\n")
endforeach()

set(generated "${CPACK_TOPLEVEL_DIRECTORY}/kit-files.nsh")
file(WRITE "${generated}" "\
; Made by setup-files.cmake from the kit's staging folder.
!define VEXO_DEEPEST_FILE \"${deepestFile}\"
!define VEXO_MAX_FOLDER_LENGTH ${maxFolder}
!define VEXO_UNINSTALL_KEY \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
!macro VexoDeleteKitFiles
${removal}!macroend
")
string(APPEND CPACK_NSIS_DEFINES "
  !include \"${generated}\"
  !include \"${CPACK_VEXO_SETUP_NSH}\"
")
