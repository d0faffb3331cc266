# Assembles the kit's folder and zips it. Run by the package_kit target (cmake/Package.cmake),
# which passes every path.
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${KIT_DIR} ${KIT_ZIP})
file(MAKE_DIRECTORY ${KIT_DIR})

function(kit_copy destination)
  file(MAKE_DIRECTORY ${KIT_DIR}/${destination})
  file(COPY ${ARGN} DESTINATION ${KIT_DIR}/${destination})
endfunction()

# The texts of each folder, with the version filled in.
function(kit_text template destination)
  configure_file(${TEXTS_DIR}/${template} ${KIT_DIR}/${destination} @ONLY NEWLINE_STYLE CRLF)
endfunction()

string(REPLACE "|" ";" binaries "${BINARIES}")
kit_copy(bin ${binaries})
kit_copy(include ${SOURCE_DIR}/include/VexoDLL.h)
kit_copy(lib ${IMPORT_LIBRARY} ${SOURCE_DIR}/lib/VexoDLL.def)
kit_copy(examples ${SOURCE_DIR}/examples/vexo_example.c ${SOURCE_DIR}/docs/samples/quick_start.c)
kit_copy(docs ${SOURCE_DIR}/docs/)
kit_copy(. ${SOURCE_DIR}/README.md)
kit_copy(sim ${SOURCE_DIR}/sim/vxd/vexolite_sim.h ${SIM_IMPORT_LIBRARY})
configure_file(${SIM_MODULE} ${KIT_DIR}/sim/vexolite.vxd COPYONLY)

set(VERSION ${KIT_VERSION})
kit_text(README.txt README.txt)
kit_text(lib-README.txt lib/README.txt)
kit_text(examples-README.txt examples/README.txt)
kit_text(sim-README.txt sim/README.txt)

get_filename_component(package_dir ${KIT_DIR} DIRECTORY)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${KIT_ZIP} --format=zip ${KIT_NAME}
                WORKING_DIRECTORY ${package_dir} RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "could not write ${KIT_ZIP}")
endif()
