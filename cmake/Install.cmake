# Installation of the serial port component as a CMake package.
#
#   cmake --install <build> --component ComPortDevelopment --prefix <prefix>
#
# puts the static libraries (comport, comsignal, comport_framework,
# comport_platform), the headers under
# include/comport/{comport,comsignal,framework,platform}/ and the package
# files under lib/cmake/ComPort/, so another project can write
#
#   find_package(ComPort CONFIG REQUIRED)
#   target_link_libraries(tool PRIVATE ComPort::comport ComPort::comsignal)
include(CMakePackageConfigHelpers)

set(COMPORT_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ComPort)
set(COMPORT_COMPONENT ComPortDevelopment)

install(TARGETS platform framework comport comsignal
  EXPORT ComPortTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${COMPORT_COMPONENT}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/comport)

# Headers keep their folder, so "#include "comport/Comport.h"" works the same
# in the tree and installed. The platform layer's implementation headers
# come only for the system the libraries were built for: platform/linux/ on
# Linux, platform/windows/ on Windows.
if(WIN32)
  set(COMPORT_OTHER_SYSTEM linux)
else()
  set(COMPORT_OTHER_SYSTEM windows)
endif()
foreach(layer IN ITEMS platform framework comport comsignal)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${layer}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/comport/${layer}
    COMPONENT ${COMPORT_COMPONENT}
    FILES_MATCHING PATTERN "*.h"
    REGEX "/platform/${COMPORT_OTHER_SYSTEM}$" EXCLUDE)
endforeach()

install(EXPORT ComPortTargets
  NAMESPACE ComPort::
  DESTINATION ${COMPORT_INSTALL_CMAKEDIR}
  COMPONENT ${COMPORT_COMPONENT})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ComPortConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ComPortConfig.cmake
  INSTALL_DESTINATION ${COMPORT_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ComPortConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ComPortConfig.cmake ${PROJECT_BINARY_DIR}/ComPortConfigVersion.cmake
  DESTINATION ${COMPORT_INSTALL_CMAKEDIR}
  COMPONENT ${COMPORT_COMPONENT})

# A consumer project builds against a fresh installation into a temporary
# prefix, with this build's compiler and flags (sanitizer builds link it the
# same way).
if(QL75N_BUILD_TESTS AND WIN32)
  # Windows: the example built against the installed package with the
  # build's toolchain (cmake/CheckWindowsConsumer.cmake).
  add_test(NAME install.consumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/install-check
      -DEXAMPLE_DIR=${PROJECT_SOURCE_DIR}/examples/line-monitor
      -DCOMPONENT=${COMPORT_COMPONENT}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DTOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
      -DQT_PREFIX=${QT_MINGW_PREFIX}
      -DBUILD_TYPE=${CMAKE_BUILD_TYPE}
      -P ${PROJECT_SOURCE_DIR}/cmake/CheckWindowsConsumer.cmake)
  set_tests_properties(install.consumer PROPERTIES TIMEOUT 600)
elseif(QL75N_BUILD_TESTS)
  add_test(NAME install.consumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/install-check
      -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/tests/install/consumer
      -DEXAMPLE_DIR=${PROJECT_SOURCE_DIR}/examples/line-monitor
      -DCOMPONENT=${COMPORT_COMPONENT}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
      -DCXX_FLAGS=${CMAKE_CXX_FLAGS}
      -DLINKER_FLAGS=${CMAKE_EXE_LINKER_FLAGS}
      -DBUILD_TYPE=${CMAKE_BUILD_TYPE}
      -P ${PROJECT_SOURCE_DIR}/tests/install/CheckConsumer.cmake)
  set_tests_properties(install.consumer PROPERTIES TIMEOUT 600)
endif()
