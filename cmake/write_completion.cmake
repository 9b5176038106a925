# Writes quillner-cli's bash completion, which the program makes from its table of commands.
#   cmake -DPROGRAM=quillner-cli -DOUTPUT=file -P write_completion.cmake
execute_process(COMMAND ${PROGRAM} --bash-completion OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --bash-completion failed: ${status}")
endif()
