# Runs the generator into WORK_DIR and packs what it wrote into OUTPUT.
#   cmake -DGENERATOR=... -DDAT_TOOL=... -DWORK_DIR=... -DOUTPUT=... -P pack.cmake
#
# -k keeps the file names as object names, so "havoc.dat#bat.tga" resolves;
# -t DATA stores each file whole, so the loader is chosen by the extension;
# -s1 drops the grabber's properties (original path, file date), which would
# otherwise make every build differ.

set(HAVOC_OBJECTS
  bat.tga crack.tga saber.tga saberhole.tga laser.tga laserhole.tga
  lady.tga pointer.tga icon00.tga icon01.tga icon02.tga icon03.tga
  iconend.tga cap.tga
  laser.wav glass.wav lightsaber.wav saber0.wav saberout.wav mampf.wav)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${GENERATOR} ${WORK_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_havoc_data failed: ${status}")
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
