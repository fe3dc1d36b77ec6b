# Installs a build into a scratch prefix, checks that it holds exactly the two
# programs and their manual pages, and runs the installed programs:
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DMAKE_SAMPLE=... [-DEXE_SUFFIX=.exe]
#         [-DLAUNCHER=...] -P install_test.cmake
set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/run")

execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
list(SORT installed)
set(expected
  bin/d88info${EXE_SUFFIX}
  bin/zefacut${EXE_SUFFIX}
  share/doc/zefacut/LICENSE
  share/doc/zefacut/README.md
  share/man/man1/d88info.1
  share/man/man1/zefacut.1)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
message(STATUS "installed: ${installed}")

set(zefacut "${prefix}/bin/zefacut${EXE_SUFFIX}")
set(d88info "${prefix}/bin/d88info${EXE_SUFFIX}")

# Without an argument: the usage line and status 1.
execute_process(COMMAND ${LAUNCHER} "${zefacut}"
  WORKING_DIRECTORY "${WORK_DIR}/run"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT out STREQUAL "" OR NOT err MATCHES "^Usage: [^\n]+ \\[d88file\\]\n$")
  message(FATAL_ERROR "zefacut without arguments: status ${status}, stdout '${out}', stderr '${err}'")
endif()

# On the sample image, each disk's files in a folder of their own: eight
# disks recognised, one not, 58 files written in 7 folders.
execute_process(COMMAND "${MAKE_SAMPLE}" "${WORK_DIR}/sample.d88" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${LAUNCHER} "${zefacut}" -d ../sample.d88
  WORKING_DIRECTORY "${WORK_DIR}/run"
  RESULT_VARIABLE status OUTPUT_FILE "${WORK_DIR}/out" ERROR_FILE "${WORK_DIR}/err")
file(STRINGS "${WORK_DIR}/out" progress REGEX "^cutting \\.\\.\\. ")
list(LENGTH progress progressLines)
file(READ "${WORK_DIR}/err" err HEX)
file(GLOB_RECURSE written RELATIVE "${WORK_DIR}/run" "${WORK_DIR}/run/*")
list(LENGTH written files)
file(GLOB folders LIST_DIRECTORIES true RELATIVE "${WORK_DIR}/run" "${WORK_DIR}/run/*")
list(LENGTH folders folderCount)
# "未対応の形式です.\n" in Shift-JIS
set(unsupported "96a291ce899e82cc8c608eae82c582b72e0a")
if(NOT status EQUAL 0 OR NOT progressLines EQUAL 58 OR NOT err STREQUAL unsupported
   OR NOT files EQUAL 58 OR NOT folderCount EQUAL 7)
  message(FATAL_ERROR "zefacut on the sample image: status ${status}, ${progressLines} "
    "progress lines, ${files} files in ${folderCount} folders, stderr ${err}")
endif()

# d88info lists the same image.
execute_process(COMMAND ${LAUNCHER} "${d88info}" ../sample.d88
  WORKING_DIRECTORY "${WORK_DIR}/run"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out MATCHES "^format: D88, [0-9]+ bytes\ndisks: 9\n")
  message(FATAL_ERROR "d88info on the sample image: status ${status}, stderr '${err}'")
endif()
# The version the program gives is the package's.
execute_process(COMMAND ${LAUNCHER} "${zefacut}" --version
  RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL "zefacut ${VERSION}\n")
  message(FATAL_ERROR "zefacut --version: status ${status}, '${out}', expected ${VERSION}")
endif()
message(STATUS "the installed programs run")
