# Compares the export and import tables of VexoDLL.dll with the lists below and fails on any
# difference: a missing, extra or renumbered export, or an import that was not chosen on purpose.
# Every import must exist on Windows 95 and 98.
#   cmake -DDLL=<VexoDLL.dll> -DOBJECTS=<its object files> -DOBJDUMP=<PE i386 objdump>
#         -P check_dll_tables.cmake
cmake_minimum_required(VERSION 3.20)

set(expected_exports
  "1 cVexoReadBlockByte" "2 cVexoReadBlockShort" "3 cVexoReadBlockLong"
  "4 cVexoWriteBlockByte" "5 cVexoWriteBlockShort" "6 cVexoWriteBlockLong"
  "7 cVexoBuffAlloc" "8 cVexoBuffFree" "9 cVexoReadBuffByte" "10 cVexoReadBuffShort"
  "11 cVexoReadBuffLong" "12 cVexoWriteBuffByte" "13 cVexoWriteBuffShort"
  "14 cVexoWriteBuffLong" "15 cVexoOpen" "16 cVexoClose" "17 cVexoGetINTA"
  "18 cVexoDeviceInfo" "19 cVexoPciConfig")
set(expected_imports
  "ADVAPI32.dll RegCloseKey" "ADVAPI32.dll RegOpenKeyA" "ADVAPI32.dll RegQueryValueExA"
  "KERNEL32.dll CloseHandle" "KERNEL32.dll CreateFileA" "KERNEL32.dll DeviceIoControl"
  "KERNEL32.dll GetProcessHeap" "KERNEL32.dll HeapAlloc" "KERNEL32.dll HeapFree")
# What the Windows 9x loader needs to see in the header.
set(expected_header
  "Magic 010b" "MajorOSystemVersion 4" "MajorSubsystemVersion 4" "Export Address Table 00000013"
  "[Name Pointer/Ordinal] Table 00000013")

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${result}")
endif()
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(exports)
set(imports)
set(header)
set(section none)
set(ordinal_base 0)
set(bias 0)
set(dll "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  string(REGEX REPLACE "[ \t]+" " " line "${line}")
  if(line MATCHES "^(Magic|MajorOSystemVersion|MajorSubsystemVersion) ([0-9a-fA-F]+)")
    list(APPEND header "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  elseif(line MATCHES "^Number in:")
    set(section counts)
  elseif(line MATCHES "^Table Addresses")
    set(section none)
  elseif(section STREQUAL "counts" AND line MATCHES "^(.+ Table) ([0-9a-fA-F]+)$")
    list(APPEND header "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  elseif(line MATCHES "^Ordinal Base ([0-9]+)")
    set(ordinal_base ${CMAKE_MATCH_1})
  elseif(line MATCHES "^The Import Tables")
    set(section imports)
  elseif(line MATCHES "^(The Export Tables|There is an export table|PE File Base Relocations)")
    set(section none)
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section exports)
    # Some versions of objdump print ordinals here, others indices into the address table.
    if(line MATCHES "Ordinal Base")
      set(bias 0)
    else()
      set(bias ${ordinal_base})
    endif()
  elseif(section STREQUAL "exports" AND line MATCHES "^\\[ *([0-9]+)\\] (.+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${bias}")
    list(APPEND exports "${ordinal} ${CMAKE_MATCH_2}")
  elseif(section STREQUAL "imports" AND line MATCHES "^DLL Name: (.+)$")
    set(dll "${CMAKE_MATCH_1}")
  elseif(section STREQUAL "imports" AND line MATCHES "^[0-9a-fA-F]+ [0-9]+ ([A-Za-z_][A-Za-z0-9_]*)$")
    list(APPEND imports "${dll} ${CMAKE_MATCH_1}")
  elseif(section STREQUAL "imports" AND dll AND line MATCHES "^[0-9a-fA-F]+( [^ ]+)?( [^ ]+)?$")
    # An import by ordinal or in a form not read above: never expected.
    list(APPEND imports "${dll} ${line}")
  endif()
endforeach()

set(failures 0)
function(compare what expected actual)
  foreach(entry IN LISTS expected)
    if(NOT entry IN_LIST actual)
      message(SEND_ERROR "${what}: missing \"${entry}\"")
    endif()
  endforeach()
  foreach(entry IN LISTS actual)
    if(NOT entry IN_LIST expected)
      message(SEND_ERROR "${what}: unexpected \"${entry}\"")
    endif()
  endforeach()
  list(LENGTH expected want)
  list(LENGTH actual have)
  if(NOT want EQUAL have)
    message(SEND_ERROR "${what}: ${have} entries, expected ${want}")
  endif()
  message(STATUS "${what}: ${have} checked")
endfunction()

compare(exports "${expected_exports}" "${exports}")
compare(imports "${expected_imports}" "${imports}")
compare(header "${expected_header}" "${header}")

# The DLL has no C runtime to run static constructors or thread-local set-up: an object that
# needs either would be linked in silently and its set-up never run.
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -h ${object} failed: ${result}")
  endif()
  if(sections MATCHES " (\\.ctors|\\.dtors|\\.init_array|\\.fini_array|\\.tls)[ .$]")
    get_filename_component(name ${object} NAME)
    message(SEND_ERROR "${name}: has ${CMAKE_MATCH_1}, which nothing in the DLL would run")
  endif()
endforeach()
