# Runs the sample generator only when the sample database does not exist yet.
if(NOT EXISTS "${OUTPUT}")
  execute_process(COMMAND "${TOOL}" "${OUTPUT}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "making ${OUTPUT} failed")
  endif()
endif()
