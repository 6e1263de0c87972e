# The Windows build's check of the installed component: installs it into a
# temporary prefix, as comport-1.02-win64-dev.zip holds it, then configures
# and builds the line monitor example (EXAMPLE_DIR) on its own against that
# prefix, with the build's toolchain and Qt, as a developer on Windows
# builds a program on the package. (The Linux build's check also runs a
# console consumer on a pseudo-terminal, which Windows has not.) A cross
# build looks for packages only under the toolchain's roots, so the package
# is named by its folder (ComPort_DIR); on Windows itself CMAKE_PREFIX_PATH
# finds it as well.
# Run by CTest (cmake -P) with BUILD_DIR, WORK_DIR, EXAMPLE_DIR, COMPONENT,
# GENERATOR, TOOLCHAIN_FILE, QT_PREFIX and BUILD_TYPE set.
set(prefix ${WORK_DIR}/prefix)
set(example_build ${WORK_DIR}/line-monitor)
file(REMOVE_RECURSE ${WORK_DIR})

function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${step} failed (${result}):\n${out}\n${err}")
  endif()
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --component ${COMPONENT} --prefix ${prefix})
# Only this system's platform headers are installed.
if(EXISTS ${prefix}/include/comport/platform/linux)
  message(FATAL_ERROR "the Linux platform headers were installed with the Windows libraries")
endif()
run("configure the example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${example_build} -G ${GENERATOR}
  -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
  -DQT_MINGW_PREFIX=${QT_PREFIX}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DComPort_DIR=${prefix}/lib/cmake/ComPort
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE})
run("build the example" ${CMAKE_COMMAND} --build ${example_build})
if(NOT EXISTS ${example_build}/comport-monitor.exe)
  message(FATAL_ERROR "the example built no comport-monitor.exe")
endif()
