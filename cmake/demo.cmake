# Writes the sample image and runs zefacut on it in a scratch folder:
#   cmake -DMAKE_SAMPLE=... -DZEFACUT=... -DDEMO_DIR=... -P demo.cmake
file(REMOVE_RECURSE "${DEMO_DIR}")
file(MAKE_DIRECTORY "${DEMO_DIR}/out")
execute_process(COMMAND "${MAKE_SAMPLE}" "${DEMO_DIR}/sample.d88" COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Sample image: ${DEMO_DIR}/sample.d88 (eight known disks and one other)")
message(STATUS "Running zefacut --per-disk ../sample.d88 in ${DEMO_DIR}/out")
execute_process(COMMAND "${ZEFACUT}" --per-disk ../sample.d88
  WORKING_DIRECTORY "${DEMO_DIR}/out"
  OUTPUT_FILE "${DEMO_DIR}/stdout.txt"
  ERROR_FILE "${DEMO_DIR}/stderr.txt"
  RESULT_VARIABLE status)

# The tool speaks Shift-JIS; show its Japanese lines readably where iconv is
# at hand.
find_program(ICONV iconv)
foreach(stream stdout stderr)
  if(ICONV)
    execute_process(COMMAND "${ICONV}" -f CP932 -t UTF-8 "${DEMO_DIR}/${stream}.txt"
      OUTPUT_VARIABLE text)
  else()
    file(READ "${DEMO_DIR}/${stream}.txt" text)
  endif()
  message("--- standard ${stream} ---\n${text}")
endforeach()

message(STATUS "zefacut exited with status ${status}")
file(GLOB_RECURSE written RELATIVE "${DEMO_DIR}/out" "${DEMO_DIR}/out/*")
list(LENGTH written count)
message(STATUS "${count} files written in ${DEMO_DIR}/out:")
foreach(name IN LISTS written)
  file(SIZE "${DEMO_DIR}/out/${name}" size)
  message(STATUS "  ${name}  ${size} bytes")
endforeach()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "zefacut failed")
endif()
