# Installs the library into a scratch prefix, builds the example host program
# against it with find_package, and runs it on the sample.
file(REMOVE_RECURSE "${WORK}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK}/prefix")
run(${CMAKE_COMMAND} -S "${CONSUMER}" -B "${WORK}/build" -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_PREFIX_PATH=${WORK}/prefix -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build "${WORK}/build")
run("${WORK}/build/consumer" "${SAMPLE}")
if(NOT last_output MATCHES "^points [0-9]+ peak")
  message(FATAL_ERROR "unexpected output: ${last_output}")
endif()
