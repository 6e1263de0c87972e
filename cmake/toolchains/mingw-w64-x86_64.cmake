# The Windows (x86-64) build: Debian's mingw-w64 and Qt 6.4.2 built for it.
# QT_MINGW_PREFIX names that Qt's folder; left unset, scripts/windows-qt.sh
# provides it (from the prebuilt archive, or built once into its cache).
# The host's own Qt tools (moc, uic, rcc; Debian's qt6-base-dev-tools 6.4.2)
# serve the cross build.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64-compiler.cmake)

if(NOT QT_MINGW_PREFIX AND DEFINED ENV{QT_MINGW_PREFIX})
  set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}")
endif()
if(NOT QT_MINGW_PREFIX)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../scripts/windows-qt.sh
    OUTPUT_VARIABLE QT_MINGW_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE qt_result)
  if(NOT qt_result EQUAL 0)
    message(FATAL_ERROR "scripts/windows-qt.sh could not provide the Windows Qt")
  endif()
endif()
set(QT_MINGW_PREFIX "${QT_MINGW_PREFIX}" CACHE PATH "The Qt built for mingw-w64 (qt6-mingw64)")

list(APPEND CMAKE_FIND_ROOT_PATH "${QT_MINGW_PREFIX}")
list(APPEND CMAKE_PREFIX_PATH "${QT_MINGW_PREFIX}")
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
