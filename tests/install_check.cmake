# Installs the build to a scratch prefix and checks that the installed
# engine answers "uci".
set(prefix "${BUILD_DIR}/install-check")
file(REMOVE_RECURSE "${prefix}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}" RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0 OR NOT EXISTS "${prefix}/bin/vorn")
  message(FATAL_ERROR "cmake --install did not put bin/vorn under ${prefix}")
endif()
file(WRITE "${prefix}/input.txt" "uci\nquit\n")
execute_process(COMMAND "${prefix}/bin/vorn" INPUT_FILE "${prefix}/input.txt" OUTPUT_VARIABLE out
  TIMEOUT 60 RESULT_VARIABLE rc WORKING_DIRECTORY "${prefix}")
file(REMOVE_RECURSE "${prefix}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "\nuciok")
  message(FATAL_ERROR "the installed engine did not answer uci (status ${rc}):\n${out}")
endif()
