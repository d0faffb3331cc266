# Run at install time, last (Package.cmake): gives every text file of the installed kit Windows
# line ends, which Notepad and WordPad on Windows 9x need. Only the kit's copies change; a file in
# UTF-16 (it starts with a byte-order mark, as the .reg files regedit writes do) is left as it is.
set(kit "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB_RECURSE texts LIST_DIRECTORIES false
     "${kit}/*.txt" "${kit}/*.md" "${kit}/*.c" "${kit}/*.h" "${kit}/*.bas" "${kit}/*.py"
     "${kit}/*.cs" "${kit}/*.pas" "${kit}/*.def" "${kit}/*.reg" "${kit}/*.html" "${kit}/*.css"
     "${kit}/LICENSE")
foreach(text IN LISTS texts)
  file(READ "${text}" start LIMIT 2 HEX)
  if(start STREQUAL "fffe" OR start STREQUAL "feff")
    continue()
  endif()
  file(READ "${text}" content)
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE "${text}" "${content}")
endforeach()
