# Formats a manual page with groff and fails on any warning:
#   cmake -DGROFF=... -DPAGE=... -P check_man_page.cmake
execute_process(COMMAND "${GROFF}" -man -t -K utf8 -Tutf8 -ww -z "${PAGE}"
  RESULT_VARIABLE status ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "${PAGE}: status ${status}\n${warnings}")
endif()
