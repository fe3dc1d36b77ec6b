# Writes the sample image and runs zefacut on it in scratch folders: first
# plainly, as a first run of a new user goes, then with --per-disk:
#   cmake -DMAKE_SAMPLE=... -DZEFACUT=... -DDEMO_DIR=... -P demo.cmake
file(REMOVE_RECURSE "${DEMO_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E make_directory "${DEMO_DIR}"
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${MAKE_SAMPLE}" "${DEMO_DIR}/sample.d88" COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Sample image: ${DEMO_DIR}/sample.d88 (eight known disks and one other)")

# The tool speaks Shift-JIS to files and pipes; show its Japanese lines
# readably where iconv is at hand.
find_program(ICONV iconv)

# Runs zefacut with the given arguments in DEMO_DIR/FOLDER and shows what it
# printed, its status and the files it wrote; the status lands in STATUS_VAR.
function(demo_run folder status_var)
  file(MAKE_DIRECTORY "${DEMO_DIR}/${folder}")
  string(JOIN " " shown ${ARGN})
  message(STATUS "Running zefacut ${shown} in ${DEMO_DIR}/${folder}")
  execute_process(COMMAND "${ZEFACUT}" ${ARGN}
    WORKING_DIRECTORY "${DEMO_DIR}/${folder}"
    OUTPUT_FILE "${DEMO_DIR}/${folder}.stdout.txt"
    ERROR_FILE "${DEMO_DIR}/${folder}.stderr.txt"
    RESULT_VARIABLE status)
  foreach(stream stdout stderr)
    if(ICONV)
      execute_process(COMMAND "${ICONV}" -f CP932 -t UTF-8 "${DEMO_DIR}/${folder}.${stream}.txt"
        OUTPUT_VARIABLE text)
    else()
      file(READ "${DEMO_DIR}/${folder}.${stream}.txt" text)
    endif()
    message("--- standard ${stream} ---\n${text}")
  endforeach()
  message(STATUS "zefacut exited with status ${status}")
  file(GLOB_RECURSE written RELATIVE "${DEMO_DIR}/${folder}" "${DEMO_DIR}/${folder}/*")
  list(LENGTH written count)
  message(STATUS "${count} files written in ${DEMO_DIR}/${folder}:")
  foreach(name IN LISTS written)
    file(SIZE "${DEMO_DIR}/${folder}/${name}" size)
    message(STATUS "  ${name}  ${size} bytes")
  endforeach()
  set(${status_var} "${status}" PARENT_SCOPE)
endfunction()

# The plain form: every disk's files into one folder, where disks of the same
# files replace each other's, each replacement warned of (status 2).
demo_run(first first_status ../sample.d88)
if(NOT first_status EQUAL 2)
  message(FATAL_ERROR "zefacut ../sample.d88: status ${first_status}, 2 expected")
endif()
# What the warnings advise: a folder for every disk.
demo_run(out out_status --per-disk ../sample.d88)
if(NOT out_status EQUAL 0)
  message(FATAL_ERROR "zefacut failed")
endif()
