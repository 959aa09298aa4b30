# Runs a command and checks its exit code and, optionally, that its output
# (standard output and standard error together) matches a regular expression.
#   cmake -DCOMMAND="prog|arg|..." -DEXPECT_CODE=2 [-DEXPECT_OUTPUT=regex] [-DEMULATOR=...] -P RunAndCheck.cmake
string(REPLACE "|" ";" command "${COMMAND}")
if(EMULATOR)
  string(REPLACE "|" ";" emulator "${EMULATOR}")
  list(PREPEND command ${emulator})
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT code STREQUAL "${EXPECT_CODE}")
  message(FATAL_ERROR "exit code ${code}, expected ${EXPECT_CODE}; output:\n${output}")
endif()
if(DEFINED EXPECT_OUTPUT AND NOT output MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "the output does not match \"${EXPECT_OUTPUT}\":\n${output}")
endif()
