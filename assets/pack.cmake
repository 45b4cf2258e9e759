# Runs the generator into WORK_DIR and packs what it wrote into OUTPUT.
#   cmake -DGENERATOR=... -DDAT_TOOL=... -DWORK_DIR=... -DOUTPUT=... -P pack.cmake
#
# Every file the generator wrote goes in. -k keeps the file names as object
# names, so "havoc.dat#bat.tga" resolves; -t DATA stores each file whole, so
# the loader is chosen by the extension; -s1 drops the grabber's properties
# (original path, file date), which would otherwise make every build differ.
# dat keeps its objects sorted by name, so the order they are given in does
# not show in the file.

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${GENERATOR} ${WORK_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_havoc_data failed: ${status}")
endif()
file(GLOB HAVOC_OBJECTS RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
if(NOT HAVOC_OBJECTS)
  message(FATAL_ERROR "make_havoc_data wrote nothing into ${WORK_DIR}")
endif()
execute_process(
  COMMAND ${DAT_TOOL} -a -k -t DATA -c0 -s1 havoc.dat ${HAVOC_OBJECTS}
  WORKING_DIRECTORY ${WORK_DIR}
  OUTPUT_QUIET
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS ${WORK_DIR}/havoc.dat)
  message(FATAL_ERROR "dat could not pack havoc.dat: ${status}")
endif()
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
file(COPY_FILE ${WORK_DIR}/havoc.dat ${OUTPUT})
