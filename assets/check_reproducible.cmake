# Packs the data file twice from scratch, in two different folders, and fails
# unless both are identical: no path, date or stray memory may leak into it.
#   cmake -DGENERATOR=... -DDAT_TOOL=... -DWORK_DIR=... -P check_reproducible.cmake

foreach(run a b)
  execute_process(
    COMMAND ${CMAKE_COMMAND}
      -DGENERATOR=${GENERATOR} -DDAT_TOOL=${DAT_TOOL}
      -DWORK_DIR=${WORK_DIR}/${run} -DOUTPUT=${WORK_DIR}/havoc-${run}.dat
      -P ${CMAKE_CURRENT_LIST_DIR}/pack.cmake
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "packing run ${run} failed")
  endif()
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/havoc-a.dat ${WORK_DIR}/havoc-b.dat
  RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "two builds of havoc.dat differ")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
