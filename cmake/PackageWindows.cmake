# Zips for Windows, made by CPack from the Windows build (scripts/package.sh):
#
#   ql75n-levels-1.02-win64.zip  the level tool and the serial monitor
#                                comport-monitor, ready to run from the
#                                unpacked folder: beside them Qt's libraries
#                                and the plugins a window needs, and the
#                                compiler's runtime libraries (install
#                                component WindowsTool)
#   comport-1.02-win64-dev.zip   the component's headers, static libraries
#                                and CMake package for developers on Windows
#                                (install component ComPortDevelopment)
#
# Each zip holds one folder named like the zip. Nothing else goes in: no
# tests, no headers or libraries in the tool's zip, no import libraries
# (the component's libraries are static).
set(QL75N_WINDOWS_TOOL_COMPONENT WindowsTool)

# The programs sit at the top of the folder, where Qt looks for its plugin
# folders (platforms/, styles/) by default, so no qt.conf is needed.
install(TARGETS ql75n-levels RUNTIME DESTINATION . COMPONENT ${QL75N_WINDOWS_TOOL_COMPONENT})
if(TARGET line-monitor)
  install(TARGETS line-monitor RUNTIME DESTINATION . COMPONENT ${QL75N_WINDOWS_TOOL_COMPONENT})
endif()
# What the programs and the two plugins load (their imports, checked by
# scripts/check-windows.sh): Qt Core, Gui and Widgets and the compiler's
# C++, GCC and POSIX threads runtimes; the rest is the system's. The
# compiler's libraries come with their debug information (libstdc++ is
# 23 MB with it, 4 MB without), so the zip gets copies without it.
set(stripped_runtime_dir ${PROJECT_BINARY_DIR}/packaging/windows-runtime)
file(MAKE_DIRECTORY ${stripped_runtime_dir})
set(stripped_runtime)
foreach(library IN LISTS QL75N_COMPILER_RUNTIME)
  get_filename_component(name ${library} NAME)
  execute_process(COMMAND ${CMAKE_STRIP} --strip-debug -o ${stripped_runtime_dir}/${name} ${library}
    COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND stripped_runtime ${stripped_runtime_dir}/${name})
endforeach()
install(FILES ${stripped_runtime} ${QL75N_QT_RUNTIME}
  DESTINATION . COMPONENT ${QL75N_WINDOWS_TOOL_COMPONENT})
# The Windows platform plugin draws the windows; the style plugin gives
# them the system's look. Both programs only show PNG pictures, which Qt
# reads without a plugin.
install(FILES ${QL75N_QT_PLUGINS}/platforms/qwindows.dll
  DESTINATION platforms COMPONENT ${QL75N_WINDOWS_TOOL_COMPONENT})
install(FILES ${QL75N_QT_PLUGINS}/styles/qwindowsvistastyle.dll
  DESTINATION styles COMPONENT ${QL75N_WINDOWS_TOOL_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
  DESTINATION . COMPONENT ${QL75N_WINDOWS_TOOL_COMPONENT})
foreach(component IN ITEMS ${QL75N_WINDOWS_TOOL_COMPONENT} ComPortDevelopment)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION . RENAME copyright.txt COMPONENT ${component})
endforeach()

# One zip per CPack run, each with its folder (a zip per install component
# would hold no folder, or the same one in both):
#
#   cpack -G ZIP                             ql75n-levels-1.02-win64.zip
#   cpack -G ZIP -D QL75N_ZIP=development    comport-1.02-win64-dev.zip
#
# The second is chosen in cmake/CPackWindowsZips.cmake, which CPack reads
# after this configuration.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ql75n-levels)
set(CPACK_PACKAGE_VERSION ${QL75N_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT ${QL75N_PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};${QL75N_WINDOWS_TOOL_COMPONENT};/")
set(CPACK_PACKAGE_FILE_NAME ql75n-levels-${QL75N_PACKAGE_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackWindowsZips.cmake)

include(CPack)
