# Debian packages, made by CPack from the Linux build (scripts/package.sh):
#
#   ql75n-levels    the level tool on the PATH, its menu entry and icon
#                   (install component Tool)
#   libcomport-dev  the component's headers, static libraries and CMake
#                   package, its API reference and the serial monitor
#                   comport-monitor (install component ComPortDevelopment)
#
# Both install under /usr. Library dependencies come from dpkg-shlibdeps;
# what a run needs that no link shows (Qt's platform plugins) and what a
# consumer of the static libraries builds with are named here.
set(QL75N_PACKAGE_VERSION 1.02)  # the version the tool's window shows
set(QL75N_PACKAGE_MAINTAINER "The QL75N level tool developers <developers@ql75n-levels.invalid>")

# The Windows build makes zips instead (cmake/PackageWindows.cmake).
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PackageWindows.cmake)
  return()
endif()

# The serial monitor ships with the component.
if(TARGET line-monitor)
  install(TARGETS line-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ComPortDevelopment)
endif()
# The API reference, where it was built (the api-reference target).
install(DIRECTORY ${PROJECT_BINARY_DIR}/docs/api/html/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libcomport-dev/html
  COMPONENT ComPortDevelopment OPTIONAL)

set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
  OUTPUT_FILE ${changelog} COMMAND_ERROR_IS_FATAL ANY)
# Each package's copyright, compressed changelog and its program's manual
# page, where Debian policy puts them.
foreach(package IN ITEMS ql75n-levels:Tool:ql75n-levels libcomport-dev:ComPortDevelopment:comport-monitor)
  string(REPLACE ":" ";" parts ${package})
  list(GET parts 0 name)
  list(GET parts 1 component)
  list(GET parts 2 program)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component})
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/man/${program}.1
    OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/${program}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${program}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ql75n-levels)
set(CPACK_PACKAGE_VERSION ${QL75N_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT ${QL75N_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Tool ComPortDevelopment)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ql75n-levels)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "adjusts the audio gains of a QL75N radio gateway\nReads and writes the receive, transmit and talk-around gains of a QL75N\nradio gateway over a serial port (a USB serial adapter).")

set(CPACK_DEBIAN_COMPORTDEVELOPMENT_PACKAGE_NAME libcomport-dev)
set(CPACK_DEBIAN_COMPORTDEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_COMPORTDEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev, libudev-dev, pkg-config, qt6-qpa-plugins")
set(CPACK_COMPONENT_COMPORTDEVELOPMENT_DESCRIPTION
  "event-driven serial port component for Qt 6 (development files)\nThe serial port component TComPort and the signal indicator TComSignal:\nheaders, static libraries and a CMake package (find_package(ComPort)),\nthe API reference, and the serial monitor comport-monitor.")

include(CPack)
