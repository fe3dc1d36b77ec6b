# With ZEFACUT_WINDOWS, this native build also cross-builds zefacut.exe and
# d88info.exe with MinGW-w64 (a nested build of this project in
# windows-build/, with the archive test when tests are built), runs the tool
# tests on them and the archive test under wine, and installs and packages
# the Windows programs instead of the native ones.
include(ExternalProject)

set(ZEFACUT_WINE /usr/lib/wine/wine64 CACHE FILEPATH
  "wine loader that runs the Windows programs in the tests")
get_filename_component(zefacut_wine_dir "${ZEFACUT_WINE}" DIRECTORY)
set(ZEFACUT_WINESERVER ${zefacut_wine_dir}/wineserver CACHE FILEPATH
  "wineserver of that wine, kept running for the whole test run")
set(ZEFACUT_MINGW_CXX x86_64-w64-mingw32-g++-posix)

find_program(ZEFACUT_MINGW_CXX_PATH ${ZEFACUT_MINGW_CXX})
if(NOT ZEFACUT_MINGW_CXX_PATH OR NOT EXISTS "${ZEFACUT_WINE}" OR NOT EXISTS "${ZEFACUT_WINESERVER}")
  message(FATAL_ERROR
    "ZEFACUT_WINDOWS needs ${ZEFACUT_MINGW_CXX}, ${ZEFACUT_WINE} and ${ZEFACUT_WINESERVER}; "
    "install them with .ci/install-windows-deps")
endif()

set(ZEFACUT_WINDOWS_BUILD_DIR ${PROJECT_BINARY_DIR}/windows-build)
set(ZEFACUT_WINDOWS_ZEFACUT ${ZEFACUT_WINDOWS_BUILD_DIR}/zefacut.exe)
set(ZEFACUT_WINDOWS_D88INFO ${ZEFACUT_WINDOWS_BUILD_DIR}/d88info.exe)
set(ZEFACUT_WINDOWS_ARCHIVE_TEST ${ZEFACUT_WINDOWS_BUILD_DIR}/tests/archive_test.exe)
# The wine prefix the tests run in, made (when missing) and booted by the test
# wine_prefix, which also starts the wineserver they all share.
set(ZEFACUT_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)

ExternalProject_Add(zefacut_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZEFACUT_WINDOWS_BUILD_DIR}
  CMAKE_CACHE_ARGS
    -DCMAKE_TOOLCHAIN_FILE:FILEPATH=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE:STRING=Release
    -DCMAKE_CXX_FLAGS:STRING=${CMAKE_CXX_FLAGS}
    -DZEFACUT_TESTS:BOOL=OFF
    -DZEFACUT_CROSS_UNIT_TESTS:BOOL=${ZEFACUT_TESTS}
    -DZEFACUT_ARCHIVES:STRING=${ZEFACUT_ARCHIVES}
    -DZEFACUT_WERROR:BOOL=${ZEFACUT_WERROR}
    -DZEFACUT_FUZZ:BOOL=OFF
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ZEFACUT_WINDOWS_ZEFACUT} ${ZEFACUT_WINDOWS_D88INFO}
    ${ZEFACUT_WINDOWS_ARCHIVE_TEST})

# `cmake --install` and CPack take the Windows build's files.
install(CODE "
  execute_process(
    COMMAND \"${CMAKE_COMMAND}\" --install \"${ZEFACUT_WINDOWS_BUILD_DIR}\"
      --prefix \"\${CMAKE_INSTALL_PREFIX}\"
    COMMAND_ERROR_IS_FATAL ANY)")
