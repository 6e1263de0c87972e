# Installs the component into a temporary prefix, then configures, builds
# and runs a consumer project that finds it with find_package(ComPort CONFIG).
# The line monitor example (EXAMPLE_DIR) is built the same way, standalone,
# as a user of the package would build it.
# Run by CTest (cmake -P) with BUILD_DIR, WORK_DIR, CONSUMER_DIR, EXAMPLE_DIR,
# COMPONENT, GENERATOR, CXX_COMPILER, CXX_FLAGS, LINKER_FLAGS and BUILD_TYPE
# set.
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer)
set(example_build ${WORK_DIR}/line-monitor)
file(REMOVE_RECURSE ${WORK_DIR})

function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${step} failed (${result}):\n${out}\n${err}")
  endif()
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --component ${COMPONENT} --prefix ${prefix})
run("configure" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE})
run("build" ${CMAKE_COMMAND} --build ${consumer_build})
run("run" ${consumer_build}/comport_consumer)

run("configure the example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${example_build} -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE})
run("build the example" ${CMAKE_COMMAND} --build ${example_build})
