# Starts and stops the one wine session that all the Windows tests run in:
#   cmake -DWINE=... -DWINESERVER=... -DLOG_DIR=... -DACTION=start|stop
#         -P wine_session.cmake
# with WINEPREFIX (and WINEDEBUG) in the environment.
#
# Without it, every tool run that finds no wineserver starts one (Debian's
# `wineserver` runs with -p0, so it ends as soon as the last program does)
# and boots the prefix again: that run's standard error goes to the new
# wineserver and to every background program of the boot (services.exe,
# explorer.exe, winedevice.exe...), whose messages then land in the test's
# captured stream, and a run that starts while the previous server exits
# can lose its connection ("wine client error:0: recvmsg: Connection reset
# by peer", status 1). `start` makes a server that stays until `stop`, and
# boots the prefix once in it, the output of both going to files in LOG_DIR.

# Runs a command with its three streams on /dev/null and a file of LOG_DIR;
# its output goes to `log_var`. Fails on an exit status other than 0.
function(run_logged name log_var)
  execute_process(COMMAND ${ARGN}
    INPUT_FILE /dev/null
    OUTPUT_FILE "${LOG_DIR}/${name}.log" ERROR_FILE "${LOG_DIR}/${name}.log"
    RESULT_VARIABLE status)
  file(READ "${LOG_DIR}/${name}.log" log)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: status ${status}\n${log}")
  endif()
  set(${log_var} "${log}" PARENT_SCOPE)
endfunction()

if(ACTION STREQUAL "start")
  # A server left behind by an interrupted run of this prefix goes first.
  execute_process(COMMAND "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND "${WINESERVER}" -w OUTPUT_QUIET ERROR_QUIET)
  file(MAKE_DIRECTORY "${LOG_DIR}")
  set(made "")
  if(NOT EXISTS "$ENV{WINEPREFIX}")
    # Wine makes a prefix right only when it starts the server itself: the
    # first boot is one of its ordinary runs, ended before the session
    # starts.
    run_logged(prefix made "${WINE}" wineboot --init)
    execute_process(COMMAND "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND "${WINESERVER}" -w OUTPUT_QUIET ERROR_QUIET)
  endif()
  # The server stays until it is killed (-p without a time).
  run_logged(wineserver started "${WINESERVER}" -p)
  # The programs this boot starts keep running, and keep the log as their
  # standard error: a file, so that ctest does not wait for them.
  run_logged(wineboot booted "${WINE}" wineboot --init)
  message(STATUS "wine session started\n${made}${started}${booted}")
elseif(ACTION STREQUAL "stop")
  # -k ends the server and with it every wine program of the prefix.
  execute_process(COMMAND "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND "${WINESERVER}" -w RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineserver -w: status ${status}")
  endif()
  message(STATUS "wine session stopped")
else()
  message(FATAL_ERROR "ACTION must be start or stop, not '${ACTION}'")
endif()
