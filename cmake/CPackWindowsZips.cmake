# Read by CPack after the Windows build's configuration: which zip this run
# makes. Without QL75N_ZIP (or with "tool") the level tool's zip, as
# configured; with -D QL75N_ZIP=development the component's zip for
# developers, from the same build.
if(NOT DEFINED QL75N_ZIP OR QL75N_ZIP STREQUAL "tool")
  return()
elseif(QL75N_ZIP STREQUAL "development")
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build_dir)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 1 project_name)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${build_dir};${project_name};ComPortDevelopment;/")
  set(CPACK_PACKAGE_FILE_NAME comport-${CPACK_PACKAGE_VERSION}-win64-dev)
else()
  message(FATAL_ERROR "QL75N_ZIP is \"tool\" or \"development\", not \"${QL75N_ZIP}\"")
endif()
