# The Windows build's programs all go to <build>/bin, beside what they run
# with: Qt's libraries and plugins and the compiler's runtime libraries,
# copied there at configure time. The tests run there under Wine
# (scripts/wine-run.sh), each in the build's own Wine prefix.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# The compiler's runtime libraries (POSIX threads).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
  OUTPUT_VARIABLE QL75N_LIBSTDCXX_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
  OUTPUT_VARIABLE QL75N_LIBGCC_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(QL75N_WINPTHREAD_DLL libwinpthread-1.dll
  PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(QL75N_COMPILER_RUNTIME ${QL75N_LIBSTDCXX_DLL} ${QL75N_LIBGCC_DLL} ${QL75N_WINPTHREAD_DLL})

# Qt's: the libraries the programs link and the plugins a window needs.
get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(QL75N_QT_BIN ${qt_core_dll} DIRECTORY)
get_filename_component(QL75N_QT_PLUGINS ${QL75N_QT_BIN}/../plugins ABSOLUTE)
set(QL75N_QT_RUNTIME ${QL75N_QT_BIN}/Qt6Core.dll ${QL75N_QT_BIN}/Qt6Gui.dll ${QL75N_QT_BIN}/Qt6Widgets.dll)
set(QL75N_QT_PLUGIN_FILES
  platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
  styles/qwindowsvistastyle.dll imageformats/qico.dll imageformats/qgif.dll)

file(COPY ${QL75N_COMPILER_RUNTIME} ${QL75N_QT_RUNTIME} ${QL75N_QT_BIN}/Qt6Test.dll
  DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
foreach(plugin IN LISTS QL75N_QT_PLUGIN_FILES)
  get_filename_component(folder ${plugin} DIRECTORY)
  file(COPY ${QL75N_QT_PLUGINS}/${plugin} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${folder})
endforeach()

# Every program of the build runs under Wine through the safe runner.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
  --prefix ${PROJECT_BINARY_DIR}/wine-prefix)
