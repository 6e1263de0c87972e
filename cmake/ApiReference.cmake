# The component's API reference (Doxygen), built on demand:
#
#   cmake --build <build> --target api-reference
#
# writes <build>/docs/api/html/index.html. Not part of "all"; nothing is
# defined when doxygen is not installed. Any Doxygen warning (an
# undocumented public member included) fails the target, and the test
# docs.api-reference builds it.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  message(STATUS "doxygen not found: no api-reference target")
  return()
endif()

set(COMPORT_API_OUTPUT ${PROJECT_BINARY_DIR}/docs/api)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)

add_custom_target(api-reference
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${COMPORT_API_OUTPUT}/html
  COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/docs/Doxyfile
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
  COMMENT "API reference into ${COMPORT_API_OUTPUT}/html"
  VERBATIM)

if(QL75N_BUILD_TESTS)
  add_test(NAME docs.api-reference
    COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target api-reference)
  set_tests_properties(docs.api-reference PROPERTIES TIMEOUT 300)
endif()
